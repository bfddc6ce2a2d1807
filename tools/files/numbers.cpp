#include "tools/files/numbers.hpp"

#include "formats/symbols.hpp"

namespace Tools {

namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Digits in `base`, or nothing when one does not belong or the value exceeds 32 bits.
std::optional<std::uint32_t> parse_digits(std::string_view digits, unsigned base) {
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        const char u = upper(c);
        unsigned digit = base;
        if (u >= '0' && u <= '9') {
            digit = static_cast<unsigned>(u - '0');
        } else if (u >= 'A' && u <= 'F') {
            digit = static_cast<unsigned>(u - 'A' + 10);
        }
        if (digit >= base) {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFF) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace

std::optional<std::uint32_t> parse_number(std::string_view text) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return std::nullopt;
    }
    if (text.size() > 2 && text[0] == '0' && upper(text[1]) == 'X') {
        return parse_digits(text.substr(2), 16);
    }
    const std::string_view body = text.substr(0, text.size() - 1);
    switch (upper(text.back())) {
    case 'H':
        return parse_digits(body, 16);
    case 'B':
        return parse_digits(body, 2);
    case 'O':
    case 'Q':
        return parse_digits(body, 8);
    case 'D':
        return parse_digits(body, 10);
    default:
        return parse_digits(text, 10);
    }
}

std::optional<std::uint16_t> parse_address(std::string_view text, const Formats::Symbols* symbols) {
    if (symbols != nullptr) {
        if (const auto value = symbols->value_of(text)) {
            return value;
        }
    }
    const auto number = parse_number(text);
    if (!number || *number > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*number);
}

} // namespace Tools
