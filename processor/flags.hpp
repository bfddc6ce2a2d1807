#pragma once

#include "processor/intel_8080.hpp"

#include <array>
#include <cstdint>

// The three flag routines shared by the arithmetic and logical instructions. S, Z and P always
// come from one byte; a table holds those three bits for each of the 256 byte values.
//
// Each routine works on anything with the record's `a` and `flags`: the record itself, or the
// copy of the registers that `execute` works on during an instruction.

namespace flag {

inline constexpr std::uint8_t sign_zero_parity = sign | zero | parity;

inline constexpr std::array<std::uint8_t, 256> sign_zero_parity_table = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        unsigned ones = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            ones += (value >> bit) & 1U;
        }
        std::uint8_t bits = 0;
        if (value & 0x80U) {
            bits |= sign;
        }
        if (value == 0) {
            bits |= zero;
        }
        if (ones % 2 == 0) {
            bits |= parity;
        }
        table[value] = bits;
    }
    return table;
}();

} // namespace flag

// S, Z and P from the low byte of `result`; CY set when the result does not fit a byte; AC kept.
template <typename Registers>
void set_arithmetic_flags(Registers& p, std::uint16_t result) {
    const auto carry = result > 0xFF ? flag::carry : std::uint8_t{0};
    p.flags = static_cast<std::uint8_t>((p.flags & ~(flag::sign_zero_parity | flag::carry)) |
                                        flag::sign_zero_parity_table[result & 0xFF] | carry);
}

// S, Z and P from A; CY and AC cleared.
template <typename Registers>
void set_logic_flags(Registers& p) {
    p.flags = static_cast<std::uint8_t>(
        (p.flags & ~(flag::sign_zero_parity | flag::carry | flag::auxiliary_carry)) |
        flag::sign_zero_parity_table[p.a]);
}

// S, Z and P from `value`; CY and AC kept.
template <typename Registers>
void set_zsp_flags(Registers& p, std::uint8_t value) {
    p.flags = static_cast<std::uint8_t>((p.flags & ~flag::sign_zero_parity) |
                                        flag::sign_zero_parity_table[value]);
}

template <typename Registers>
void set_carry(Registers& p, bool carry) {
    p.flags = static_cast<std::uint8_t>((p.flags & ~flag::carry) | (carry ? flag::carry : 0));
}

template <typename Registers>
bool carry_set(const Registers& p) {
    return (p.flags & flag::carry) != 0;
}
