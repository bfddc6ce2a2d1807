#pragma once

// Symbol files: one symbol a line, `XXXX NAME` (four upper-case hexadecimal digits, a space, the
// name) for a label, `XXXX NAME EQU` for a name given a value by EQU or SET; sorted by value and
// then by name. The assembler writes them; the runner, the disassembler and the studio read them
// to show addresses by name. Only labels name places in a program: an EQU name's value may be a
// port, a count or a RAM address, so it names an address only when it is exactly that address.
//
//     const std::string text = Formats::format_symbol_file(program.symbols, program.values);
//     const Formats::Symbols symbols = Formats::parse_symbol_file(text, "demo.sym");
//     symbols.near_name(0x0105);            // "DRAW+5"
//     symbols.value_of("draw");             // 0100H
//
// Tools::read_symbol_file (tools/files/format_files.hpp) reads one from a file.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace Formats {

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

} // namespace Formats
