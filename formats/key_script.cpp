#include "formats/key_script.hpp"

#include "base/exception.hpp"
#include "machine/board.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace Formats {

namespace {

constexpr std::string_view form = "expected \"at FRAME press|release KEY\"";

std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) != 0) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) == 0) {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

// The key's upper-case letter, or 0 when it is not one of the machine's keys.
char machine_key(std::string_view word) {
    if (word.size() != 1) {
        return 0;
    }
    const auto key = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    const bool known = std::any_of(Drovask::input_keys.begin(), Drovask::input_keys.end(),
                                   [key](const Drovask::Input_Key& k) { return k.key == key; });
    return known ? key : 0;
}

} // namespace

std::vector<Key_Event> parse_key_script(std::string_view text, const std::string& name) {
    std::vector<Key_Event> events;
    std::array<std::uint64_t, 256> pressed_on{}; // the line that pressed each held key, or 0
    std::uint64_t line_number = 0;
    constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
    std::size_t start = text.starts_with(byte_order_mark) ? byte_order_mark.size() : 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++line_number;
        const auto fail = [&](const std::string& what) {
            throw Tavrin::Exception{name + ":" + std::to_string(line_number) + ": " + what};
        };

        line = line.substr(0, line.find('#'));
        const auto words = words_of(line);
        if (words.empty()) {
            continue;
        }
        if (words.size() != 4 || words[0] != "at" ||
            (words[2] != "press" && words[2] != "release")) {
            std::string found(words[0]);
            for (std::size_t i = 1; i < words.size(); ++i) {
                found += ' ' + std::string(words[i]);
            }
            fail(std::string(form) + ", found \"" + found + "\"");
        }
        std::uint64_t frame = 0;
        const auto number = words[1];
        const auto [end_of_number, error] =
            std::from_chars(number.data(), number.data() + number.size(), frame);
        if (error != std::errc{} || end_of_number != number.data() + number.size()) {
            fail("the frame \"" + std::string(number) + "\" is not a whole number");
        }
        if (frame > max_script_frame) {
            fail("the frame " + std::string(number) + " is beyond the last one allowed, " +
                 std::to_string(max_script_frame));
        }
        const char key = machine_key(words[3]);
        if (key == 0) {
            fail("\"" + std::string(words[3]) + "\" is not a key of the machine; use one of " +
                 Drovask::machine_keys_text());
        }
        if (!events.empty() && frame < events.back().frame) {
            fail("frame " + std::to_string(frame) + " comes after frame " +
                 std::to_string(events.back().frame) + " (line " +
                 std::to_string(events.back().line) +
                 "); list the events in the order of their "
                 "frames");
        }
        const bool press = words[2] == "press";
        std::uint64_t& pressed = pressed_on[static_cast<std::uint8_t>(key)];
        if (press && pressed != 0) {
            fail(std::string(1, key) + " is already pressed (line " + std::to_string(pressed) +
                 ")");
        }
        if (!press && pressed == 0) {
            fail(std::string(1, key) + " is released but was not pressed");
        }
        pressed = press ? line_number : 0;
        events.push_back({frame, key, press, line_number});
    }
    return events;
}

std::vector<std::string> key_script_warnings(const std::vector<Key_Event>& events,
                                             const std::string& name) {
    std::vector<std::string> warnings;
    std::array<const Key_Event*, 256> last{}; // the latest event of each key
    for (const Key_Event& event : events) {
        const Key_Event*& before = last[static_cast<std::uint8_t>(event.key)];
        if (before != nullptr && before->frame == event.frame) {
            const char* seen = event.press ? "released" : "pressed";
            warnings.push_back(name + ":" + std::to_string(event.line) + ": " + event.key +
                               (event.press ? " is pressed again" : " is released") + " in frame " +
                               std::to_string(event.frame) + ", the frame in which line " +
                               std::to_string(before->line) + " " +
                               (event.press ? "released" : "pressed") +
                               " it: the program never sees it " + seen +
                               "; put the two events at least one frame apart");
        }
        before = &event;
    }
    return warnings;
}

std::string format_key_event(const Key_Event& event) {
    return "at " + std::to_string(event.frame) + (event.press ? " press " : " release ") +
           event.key + '\n';
}

} // namespace Formats
