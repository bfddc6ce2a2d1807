#pragma once

// Symbol files: one symbol a line, `XXXX NAME` (four upper-case hexadecimal digits, a space, the
// name) for a label, `XXXX NAME EQU` for a name given a value by EQU or SET; sorted by value and
// then by name. The assembler writes them; the runner and the disassembler read them to show
// addresses by name. Only labels name places in a program: an EQU name's value may be a port, a
// count or a RAM address, so it names an address only when it is exactly that address.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace Asm8080 {

struct Symbol {
    std::uint16_t value;
    std::string name;
    bool label = true; // false: a value set by EQU or SET

    bool operator==(const Symbol&) const = default;
};

// The file's text for these symbols (names as given), sorted by value, then name; the names in
// `values` are marked as EQU or SET names.
std::string format_symbol_file(const std::map<std::string, std::uint16_t>& symbols,
                               const std::set<std::string>& values = {});

class Symbols {
public:
    Symbols() = default;
    explicit Symbols(std::vector<Symbol> symbols);

    // The name shown for `value`: the first label in the file's order, else the first other
    // name, or null.
    const std::string* name_of(std::uint16_t value) const;

    // `address` as a person reads it: its name ("DRAW"), else the nearest label below it within
    // `max_label_offset` bytes with the distance in decimal ("DRAW+12"), else "".
    std::string near_name(std::uint16_t address) const;
    static constexpr unsigned max_label_offset = 255;

    // The value of a name, whatever its case.
    std::optional<std::uint16_t> value_of(std::string_view name) const;

    const std::vector<Symbol>& all() const { return symbols_; }

private:
    std::vector<Symbol> symbols_;                  // sorted by value, then name
    std::map<std::string, std::uint16_t> by_name_; // upper-case names
};

// Throws Tavrin::Exception with "NAME:LINE: what is wrong" for the first line in error.
Symbols parse_symbol_file(std::string_view text, const std::string& file_name);

// A symbol file is at most this long: 65,536 values with names of a few dozen bytes.
inline constexpr std::size_t max_symbol_file_size = 16 * 1024 * 1024;

// Reads and parses the file; throws Tavrin::Exception when it cannot be read, is too long or is
// wrong.
Symbols read_symbol_file(const std::filesystem::path& path);

// Calls `use(line, number)` for each line of `text` that is not empty, without its line end
// (LF or CR LF); numbers count from 1 and include the empty lines.
template <typename Use>
void for_each_line(std::string_view text, Use&& use) {
    int number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            use(line, number);
        }
    }
}

// The text of a file that asm8080 wrote with `option` (its `what`, such as "symbol file"), at
// most `limit` bytes; throws Tavrin::Exception when it cannot be read or is longer.
std::string read_assembler_output(const std::filesystem::path& path, std::size_t limit,
                                  std::string_view what, std::string_view option);

// An address given by a person: a name from `symbols` or a number as Tools::parse_number reads
// it (decimal, 1A2BH or 0x1A2B); a name that also reads as a number (ADDH) is the name.
std::optional<std::uint16_t> parse_address(std::string_view text, const Symbols* symbols);

} // namespace Asm8080
