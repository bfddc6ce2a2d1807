#include "formats/hex.hpp"

#include <cstddef>
#include <string_view>

namespace Formats {

std::string hex(std::uint64_t value, int digits) {
    constexpr std::string_view digit_of = "0123456789ABCDEF";
    char text[16]; // filled from the end: the lowest digit first
    std::size_t start = sizeof text;
    do {
        text[--start] = digit_of[value & 0xF];
        value >>= 4;
    } while (value != 0);
    const std::size_t length = sizeof text - start;
    const auto width = static_cast<std::size_t>(digits > 0 ? digits : 0);
    std::string out(width > length ? width - length : 0, '0');
    out.append(text + start, length);
    return out;
}

} // namespace Formats
