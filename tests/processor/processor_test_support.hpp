#pragma once

#include "processor/intel_8080.hpp"

#include <cstdint>
#include <initializer_list>
#include <memory>

namespace test {

// The arcade machine's layout: ROM below 0x2000, writable 0x2000-0x3FFF.
inline constexpr std::uint32_t rom_end = 0x1FFF;
inline constexpr std::uint32_t writable_start = 0x2000;
inline constexpr std::uint32_t writable_end = 0x3FFF;

// A fresh record (64 KiB, so on the heap) with `code` at `origin` and PC there.
inline std::unique_ptr<Intel_8080> processor_with(std::uint16_t origin,
                                                  std::initializer_list<std::uint8_t> code) {
    auto p = std::make_unique<Intel_8080>();
    p->writable_start = writable_start;
    p->video_start = 0x2400;
    p->writable_end = writable_end;
    std::uint16_t address = origin;
    for (const std::uint8_t byte : code) {
        p->memory[address] = byte;
        address = static_cast<std::uint16_t>(address + 1);
    }
    p->pc = origin;
    return p;
}

inline void run(Intel_8080& p, int instructions) {
    for (int i = 0; i < instructions; ++i) {
        execute(p);
    }
}

} // namespace test
