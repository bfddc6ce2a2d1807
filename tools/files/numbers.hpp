#pragma once

// Numbers as the tools read them, in options and in assembler sources alike:
//
//     const auto size = Tools::parse_number(text);   // "8192", "0x2000", "2000H"
//     if (!size || *size > 0x10000) { ...say "--size expects ..." with Tools::number_forms... }
//
// The caller checks the range it needs.

#include <cstdint>
#include <optional>
#include <string_view>

namespace Formats {
class Symbols;
}

namespace Tools {

// How a number may be written, for messages and manuals.
inline constexpr std::string_view number_forms = "decimal, 0x2000 or 2000H";

// Decimal (an optional D suffix), hexadecimal as 0x1F or 1FH (which starts with a decimal digit,
// so that a name such as ADDH is never a number), binary as 1010B, octal as 17O or 17Q; letters
// in either case. Returns nothing for anything else, and for values above 0xFFFFFFFF.
std::optional<std::uint32_t> parse_number(std::string_view text);

// An address given by a person: a name from `symbols` or a number as parse_number reads it
// (decimal, 1A2BH or 0x1A2B); a name that also reads as a number (ADDH) is the name.
std::optional<std::uint16_t> parse_address(std::string_view text, const Formats::Symbols* symbols);

} // namespace Tools
