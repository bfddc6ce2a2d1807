#pragma once

#include "machine/board.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>

// A ROM whose first bytes are `program`, the rest 0 (NOP).
inline std::array<std::uint8_t, Drovask::rom_size>
rom_with(std::initializer_list<std::uint8_t> program) {
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    std::copy(program.begin(), program.end(), rom.begin());
    return rom;
}
