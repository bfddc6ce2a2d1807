#pragma once

// Line maps: one line per address where an instruction or data starts, sorted by address,
// `XXXX FILE:LINE` (four upper-case hexadecimal digits, a space, the source file, a colon, the
// line, from 1; the file is everything between the first space and the last colon). asm8080
// --lines writes them; the runner shows the source line beside each address and takes
// breakpoints by line:
//
//     const std::string text = Formats::format_line_map(Asm8080::line_map_of(program));
//     const Formats::Line_Map lines = Formats::parse_line_map(text, "bar.lines");
//     lines.place_of(0x000B);               // "bar.asm:7"
//     lines.address_of("bar.asm:7");        // 000BH: a file by its path or its name alone
//
// Tools::read_line_map (tools/files/format_files.hpp) reads one from a file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Formats {

class Line_Map {
public:
    struct Entry {
        std::uint16_t address;
        std::string file;
        int line;
    };

    Line_Map() = default;
    explicit Line_Map(std::vector<Entry> entries);

    // "FILE:LINE" of the instruction or data that starts at `address`, or empty.
    std::string place_of(std::uint16_t address) const;

    // The first address of a line given as "FILE:LINE", FILE as the map names it or by its name
    // alone; nothing when no code or data starts on that line.
    std::optional<std::uint16_t> address_of(std::string_view file_and_line) const;

    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::vector<Entry> entries_; // by address
};

// Throws Tavrin::Exception with "NAME:LINE: what is wrong" for the first line in error.
Line_Map parse_line_map(std::string_view text, const std::string& file_name);

// A line map is at most this long: 65,536 addresses with paths of a few hundred bytes.
inline constexpr std::size_t max_line_map_size = 32 * 1024 * 1024;

// The file's text: a line for each entry, in the order of their addresses.
std::string format_line_map(const Line_Map& map);

} // namespace Formats
