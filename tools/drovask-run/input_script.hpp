#pragma once

// Scripts of key presses for a headless run, one event a line:
//
//     # the demo: a coin, then one player
//     at 30 press C
//     at 34 release C      # four frames later
//
// FRAME counts the frames run before the event takes effect (0: from the start); events come in
// the order of their frames. KEY is one of the machine's keys (`input_keys`), in upper or lower
// case. A key is pressed only while released, and released only while pressed. A UTF-8
// byte-order mark may open the script.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace Drovask {

struct Key_Event {
    std::uint64_t frame;
    char key; // upper case
    bool press;
    std::uint64_t line;

    bool operator==(const Key_Event&) const = default;
};

inline constexpr std::uint64_t max_script_frame = 1'000'000'000;
inline constexpr std::size_t max_script_size = 4 << 20; // bytes; about 250,000 events

// Throws Tavrin::Exception with "NAME:LINE: what is wrong" for the first line in error.
std::vector<Key_Event> parse_input_script(std::string_view text, const std::string& name);

// Reads and parses the file (or FIFO, or /dev/fd/N); throws Tavrin::Exception when it cannot be
// read, is larger than `max_script_size` or is wrong.
std::vector<Key_Event> read_input_script(const std::filesystem::path& path);

// "NAME:LINE: ..." for each event that the program cannot see: a key pressed and released again
// (or released and pressed again) in one frame is sampled only as it is at the end of the frame.
std::vector<std::string> input_script_warnings(const std::vector<Key_Event>& events,
                                               const std::string& name);

} // namespace Drovask
