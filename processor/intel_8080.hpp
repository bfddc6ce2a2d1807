#pragma once

// The Intel 8080: a plain record of its registers, flags and 64 KiB of memory, and `execute`,
// which runs the one instruction at PC. It has no ports and no interrupt line of its own: IN and
// OUT are left to the caller (machine/board.hpp handles them before `execute`, which would throw
// for them), and an interrupt is a `push` of PC and a jump that the caller makes. Stores go
// through the writable range; those outside it are dropped.
//
//     Intel_8080 p;
//     p.writable_end = 0xFFFF;          // all of memory writable (the default: address 0 only)
//     p.memory[0] = 0x3E;               // MVI A,42H
//     p.memory[1] = 0x42;
//     execute(p);                       // p.a == 0x42, p.pc == 2
//     // with processor/execute.hpp, each store heard before it lands:
//     execute(p, [](std::uint16_t address, std::uint8_t value, Store store) { ... });

#include <array>
#include <atomic>
#include <concepts>
#include <cstdint>

// The Intel 8080 processor record: registers, flags, decode fields and all 64 KiB of memory.
//
// Flags layout (this processor's own, not the datasheet's PSW order):
//   bit 0 S, bit 1 Z, bit 3 AC, bit 5 P, bit 7 CY; bits 2, 4 and 6 carry no flag.
struct Intel_8080 {
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    std::uint8_t c = 0;
    std::uint8_t d = 0;
    std::uint8_t e = 0;
    std::uint8_t h = 0;
    std::uint8_t l = 0;
    std::uint16_t sp = 0;
    std::uint16_t pc = 0;
    std::uint32_t writable_start = 0; // lowest address a guarded store may change (inclusive)
    std::uint32_t video_start = 0;    // first byte of video memory, read by the screen conversion
    std::uint32_t writable_end = 0;   // highest address a guarded store may change (inclusive)
    std::uint8_t opcode = 0;
    std::uint8_t flags = 0;
    std::uint8_t byte_2 = 0;
    std::uint8_t byte_3 = 0;
    std::uint8_t data = 0;
    std::array<std::uint8_t, 65536> memory{};
    std::uint16_t address = 0;
    bool interrupts_enabled = false;
};

namespace flag {
inline constexpr std::uint8_t sign = 0x01;
inline constexpr std::uint8_t zero = 0x02;
inline constexpr std::uint8_t auxiliary_carry = 0x08;
inline constexpr std::uint8_t parity = 0x20;
inline constexpr std::uint8_t carry = 0x80;
} // namespace flag

// What a store does, as its observer hears of it.
enum class Store : std::uint8_t {
    written,   // a guarded store inside the writable range
    dropped,   // a guarded store outside it: memory keeps its byte
    unguarded, // MOV M,r, MVI M, INR M or DCR M: written wherever HL points
};

// Hears of each store before memory changes, so `memory[address]` still holds the old byte:
// `observe(address, value, store)`.
template <typename Observer>
concept Store_Observer = std::invocable<Observer&, std::uint16_t, std::uint8_t, Store>;

// The observer of a run that watches nothing: its calls compile to nothing.
struct No_Store_Observer {
    constexpr void operator()(std::uint16_t, std::uint8_t, Store) const {}
};

// Runs exactly one instruction at PC. Throws Tavrin::Exception for an unimplemented opcode.
void execute(Intel_8080& processor);

// The same, telling `observe` of every store the instruction makes. Defined in
// processor/execute.hpp, which the caller includes to instantiate it for its own observer.
template <Store_Observer Observer>
void execute(Intel_8080& processor, Observer observe);

// Throws Tavrin::Exception naming processor.opcode as two upper-case hexadecimal digits.
[[noreturn]] void unimplemented_instruction(Intel_8080& processor);

// Written as a sum on purpose: compilers merge `high << 8 | low` of two neighbouring fields into
// one 16-bit load, and a 16-bit load cannot take its value from two byte stores that are still on
// their way to memory, so it stalls until both have landed (many cycles, on every pair access
// after a register write).
inline std::uint16_t make_pair(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint16_t>(high * 256 + low);
}

inline std::uint16_t get_bc(const Intel_8080& p) {
    return make_pair(p.b, p.c);
}
inline std::uint16_t get_de(const Intel_8080& p) {
    return make_pair(p.d, p.e);
}
inline std::uint16_t get_hl(const Intel_8080& p) {
    return make_pair(p.h, p.l);
}

inline void set_pair(std::uint8_t& high, std::uint8_t& low, std::uint16_t value) {
    high = static_cast<std::uint8_t>(value >> 8);
    low = static_cast<std::uint8_t>(value);
}

// A memory byte written and read as a relaxed atomic, since the screen conversion reads the
// video bytes from another thread. The browser's standard library (libc++ 13) has no
// atomic_ref; there the program runs on one thread and plain accesses are the same.
inline void store_relaxed(std::uint8_t& byte, std::uint8_t value) {
#ifdef __cpp_lib_atomic_ref
    std::atomic_ref<std::uint8_t>(byte).store(value, std::memory_order_relaxed);
#else
    byte = value;
#endif
}
inline std::uint8_t load_relaxed(std::uint8_t& byte) {
#ifdef __cpp_lib_atomic_ref
    return std::atomic_ref<std::uint8_t>(byte).load(std::memory_order_relaxed);
#else
    return byte;
#endif
}

// Writes any byte of memory, ROM included.
template <Store_Observer Observer = No_Store_Observer>
void unguarded_store(Intel_8080& p, std::uint16_t address, std::uint8_t value,
                     Observer observe = {}) {
    observe(address, value, Store::unguarded);
    store_relaxed(p.memory[address], value);
}

// Writes the byte only inside the writable range; elsewhere the store is silently dropped.
template <Store_Observer Observer = No_Store_Observer>
void guarded_store(Intel_8080& p, std::uint16_t address, std::uint8_t value,
                   Observer observe = {}) {
    if (address >= p.writable_start && address <= p.writable_end) {
        observe(address, value, Store::written);
        unguarded_store(p, address, value);
    } else {
        observe(address, value, Store::dropped);
    }
}

// High byte at SP - 1, low byte at SP - 2 (both guarded); SP drops by 2 either way. `sp` is the
// record's own SP or a copy of it held elsewhere while an instruction runs.
template <Store_Observer Observer = No_Store_Observer>
void push(Intel_8080& p, std::uint16_t& sp, std::uint16_t value, Observer observe = {}) {
    const std::uint16_t top = sp; // read once: a store into memory may alias it, as far as
                                  // the compiler can tell
    guarded_store(p, static_cast<std::uint16_t>(top - 1), static_cast<std::uint8_t>(value >> 8),
                  observe);
    guarded_store(p, static_cast<std::uint16_t>(top - 2), static_cast<std::uint8_t>(value),
                  observe);
    sp = static_cast<std::uint16_t>(top - 2);
}

inline void push(Intel_8080& p, std::uint16_t value) {
    push(p, p.sp, value);
}

// Low byte from SP, high byte from SP + 1; SP rises by 2.
inline std::uint16_t pop(const Intel_8080& p, std::uint16_t& sp) {
    const std::uint8_t low = p.memory[sp];
    const std::uint8_t high = p.memory[static_cast<std::uint16_t>(sp + 1)];
    sp = static_cast<std::uint16_t>(sp + 2);
    return make_pair(high, low);
}

inline std::uint16_t pop(Intel_8080& p) {
    return pop(p, p.sp);
}
