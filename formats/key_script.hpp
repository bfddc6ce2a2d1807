#pragma once

// Key scripts: the keys of a session, one event a line. drovask-run replays them; drovask-play
// and the studio write them down as they are played:
//
//     # the demo: a coin, then one player
//     at 30 press C
//     at 34 release C      # four frames later
//
// FRAME counts the frames run before the event takes effect (0: from the start); events come in
// the order of their frames. KEY is one of the machine's keys (`input_keys`), in upper or lower
// case. A key is pressed only while released, and released only while pressed. A UTF-8
// byte-order mark may open the script.
//
//     const auto events = Formats::parse_key_script(text, "demo.keys"); // throws on a wrong line
//     script += Formats::format_key_event({30, 'C', true});              // "at 30 press C\n"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Formats {

struct Key_Event {
    std::uint64_t frame;
    char key; // upper case
    bool press;
    std::uint64_t line = 0; // of the script it was read from (from 1); 0: played, not read

    bool operator==(const Key_Event&) const = default;
};

inline constexpr std::uint64_t max_script_frame = 1'000'000'000;
inline constexpr std::size_t max_script_size = 4 << 20; // bytes; about 250,000 events

// Throws Tavrin::Exception with "NAME:LINE: what is wrong" for the first line in error.
std::vector<Key_Event> parse_key_script(std::string_view text, const std::string& name);

// "NAME:LINE: ..." for each event that the program cannot see: a key pressed and released again
// (or released and pressed again) in one frame is sampled only as it is at the end of the frame.
std::vector<std::string> key_script_warnings(const std::vector<Key_Event>& events,
                                             const std::string& name);

// The event's line, "at FRAME press|release KEY" and its line end; every writer of key scripts
// writes through it.
std::string format_key_event(const Key_Event& event);

} // namespace Formats
