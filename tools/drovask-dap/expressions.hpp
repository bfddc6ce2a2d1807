#pragma once

// The processor's registers and flags by name, and the expressions that the debug console, the
// hovers and the memory references of drovask-dap are written in: numbers (decimal, 0x2400,
// 2400H), registers, symbols, `$` for PC, [ADDRESS] for the byte there, parentheses, + and -.
//
//     Dap::read_register(p, "HL");                     // 0x2100
//     Dap::write_register(p, "CY", 1);                 // the carry flag set
//     Dap::evaluate("[HL] + COUNT", p, symbols);       // 16 bits; throws Tavrin::Exception

#include "formats/symbols.hpp"
#include "processor/intel_8080.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Dap {

// The registers by the names the trace gives them: a byte of the processor, a pair of bytes, or
// a word; then the flags, each a bit of F.
struct Register {
    std::string_view name;
    std::uint8_t Intel_8080::*high; // of a pair
    std::uint8_t Intel_8080::*low;  // or the byte
    std::uint16_t Intel_8080::*word;

    int digits() const { return low != nullptr && high == nullptr ? 2 : 4; }
    unsigned read(const Intel_8080& p) const {
        return word != nullptr   ? p.*word
               : high != nullptr ? unsigned{p.*high} << 8 | p.*low
                                 : p.*low;
    }
    void write(Intel_8080& p, unsigned value) const {
        if (word != nullptr) {
            p.*word = static_cast<std::uint16_t>(value);
            return;
        }
        if (high != nullptr) {
            p.*high = static_cast<std::uint8_t>(value >> 8);
        }
        p.*low = static_cast<std::uint8_t>(value);
    }
};
inline constexpr std::array registers{
    Register{"A", nullptr, &Intel_8080::a, nullptr},
    Register{"B", nullptr, &Intel_8080::b, nullptr},
    Register{"C", nullptr, &Intel_8080::c, nullptr},
    Register{"D", nullptr, &Intel_8080::d, nullptr},
    Register{"E", nullptr, &Intel_8080::e, nullptr},
    Register{"H", nullptr, &Intel_8080::h, nullptr},
    Register{"L", nullptr, &Intel_8080::l, nullptr},
    Register{"BC", &Intel_8080::b, &Intel_8080::c, nullptr},
    Register{"DE", &Intel_8080::d, &Intel_8080::e, nullptr},
    Register{"HL", &Intel_8080::h, &Intel_8080::l, nullptr},
    Register{"SP", nullptr, nullptr, &Intel_8080::sp},
    Register{"PC", nullptr, nullptr, &Intel_8080::pc},
    Register{"F", nullptr, &Intel_8080::flags, nullptr},
};

struct Flag {
    std::string_view name;
    std::uint8_t mask;
};
inline constexpr std::array flags{Flag{"S", flag::sign}, Flag{"Z", flag::zero},
                                  Flag{"AC", flag::auxiliary_carry}, Flag{"P", flag::parity},
                                  Flag{"CY", flag::carry}};

std::string upper(std::string_view text);

// The row of `table` (registers or flags) with that name, whatever its case, or null.
template <typename Table>
const typename Table::value_type* named(const Table& table, std::string_view name) {
    const std::string wanted = upper(name);
    for (const auto& row : table) {
        if (row.name == wanted) {
            return &row;
        }
    }
    return nullptr;
}

// A register's value, or a flag's 0 or 1; nothing for another name.
std::optional<unsigned> read_register(const Intel_8080& p, std::string_view name);

// False when no register or flag has the name; throws for a flag given more than 1.
bool write_register(Intel_8080& p, std::string_view name, unsigned value);

// The expression's value, 16 bits. Throws Tavrin::Exception saying what cannot be read.
unsigned evaluate(std::string_view text, const Intel_8080& p, const Formats::Symbols& symbols);

} // namespace Dap
