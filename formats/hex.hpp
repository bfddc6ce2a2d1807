#pragma once

// Hexadecimal as the tools, the studio and the player write it: upper-case digits, no prefix or
// suffix, padded with zeros to at least a width and never cut.
//
//     Formats::hex(0x2400, 4)     // "2400"
//     Formats::hex(0x0A, 2)       // "0A"
//     "0x" + Formats::hex(pc, 4)  // a prefix or a suffix is the caller's
//     Formats::hex(0x12345, 4)    // "12345"

#include <cstdint>
#include <string>

namespace Formats {

std::string hex(std::uint64_t value, int digits);

} // namespace Formats
