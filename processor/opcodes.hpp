#pragma once

// Opcodes that code outside the processor names: programs written byte by byte in tests, and
// the instructions the machine carries out itself or the tools look for. Named as the 8080's
// mnemonics are written, with the operand after an underscore.

#include <cstdint>

namespace opcodes {
enum : std::uint8_t {
    nop = 0x00,
    stax_b = 0x02,
    stax_d = 0x12,
    shld = 0x22,
    sta = 0x32,
    inr_m = 0x34,
    dcr_m = 0x35,
    mvi_m = 0x36,
    mvi_a = 0x3E,
    hlt = 0x76,
    jmp = 0xC3,
    ret = 0xC9,
    call = 0xCD,
    out = 0xD3,
    in = 0xDB,
    xthl = 0xE3,
    di = 0xF3,
    ei = 0xFB,
};
} // namespace opcodes
