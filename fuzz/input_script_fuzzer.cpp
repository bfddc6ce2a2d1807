// Fuzzes the key-script parser with arbitrary text. The parser either returns events or
// throws a Tavrin::Exception naming the script and the line; it never crashes. What it returns
// must keep the rules a script states:
//  - events in the order of their frames, none past max_script_frame, on lines that go forward;
//  - only the machine's keys, each pressed only while released and released only while pressed;
//  - written out again by the one writer of key scripts, the events parse to themselves.

#include "base/exception.hpp"
#include "formats/key_script.hpp"
#include "machine/board.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "input script invariant broken: %s\n", what);
        std::abort();
    }
}

bool is_machine_key(char key) {
    return std::any_of(Drovask::input_keys.begin(), Drovask::input_keys.end(),
                       [key](const Drovask::Input_Key& k) { return k.key == key; });
}

bool same_events(const std::vector<Formats::Key_Event>& a,
                 const std::vector<Formats::Key_Event>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.frame == y.frame && x.key == y.key && x.press == y.press;
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<Formats::Key_Event> events;
    try {
        events = Formats::parse_key_script(text, "fuzz.keys");
    } catch (const Tavrin::Exception& error) {
        check(error.message.starts_with("fuzz.keys:"), "a failure without the script's name");
        return 0;
    }

    std::array<bool, 256> held{};
    std::string again;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Formats::Key_Event& event = events[i];
        check(event.frame <= Formats::max_script_frame, "a frame past the last one allowed");
        check(is_machine_key(event.key), "a key the machine does not have");
        check(event.line >= 1, "an event on no line");
        if (i > 0) {
            check(event.frame >= events[i - 1].frame, "events out of the order of their frames");
            check(event.line > events[i - 1].line, "events out of the order of their lines");
        }
        bool& down = held[static_cast<unsigned char>(event.key)];
        check(event.press != down, "a press of a held key or a release of a free one");
        down = event.press;
        again += Formats::format_key_event(event);
    }
    check(same_events(Formats::parse_key_script(again, "again.keys"), events),
          "the events written out parse to something else");
    return 0;
}
