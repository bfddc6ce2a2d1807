// Fuzzes `execute`: a processor state and its memory come from the input, then a few thousand
// instructions run, each checked against the rules every instruction keeps:
//  - PC and SP move as the instruction's length, branch condition and stack effect say, modulo
//    65,536 (worked out here from the datasheet, independently of the processor's own code);
//  - a return address or register pair pushed inside the writable range lands there;
//  - MOV M,r, MVI M, INR M and DCR M write their value at HL wherever HL points; no other
//    instruction changes a byte outside the writable range;
//  - exactly the fourteen unimplemented opcodes throw, with the message naming the opcode, and
//    leave everything but the decode fields and PC (one past the opcode) as it was.
//
// Input: 16 bytes of state (A B C D E H L, SP, PC, flags, interrupt enable, writable start and
// end as 12-bit page numbers), then code copied to memory from PC on; the rest of memory is
// filled from a generator seeded by the input.

#include "base/exception.hpp"
#include "processor/intel_8080.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int instructions_per_input = 4096;
constexpr int instructions_between_memory_checks = 256;
// Throwing is slow under the sanitizers: an input ends after this many unimplemented opcodes.
constexpr int exceptions_per_input = 8;

[[noreturn]] void fail(const char* what, unsigned opcode, unsigned pc) {
    std::fprintf(stderr, "processor invariant broken: %s (opcode %02X at %04X)\n", what, opcode,
                 pc);
    std::abort();
}

void check(bool holds, const char* what, unsigned opcode, unsigned pc) {
    if (!holds) {
        fail(what, opcode, pc);
    }
}

std::uint16_t word(unsigned value) {
    return static_cast<std::uint16_t>(value);
}

bool is_unimplemented(unsigned opcode) {
    constexpr std::array<std::uint8_t, 14> opcodes{0x08, 0x10, 0x18, 0x20, 0x28, 0x30, 0x38,
                                                   0xCB, 0xD3, 0xD9, 0xDB, 0xDD, 0xED, 0xFD};
    for (const std::uint8_t unimplemented : opcodes) {
        if (opcode == unimplemented) {
            return true;
        }
    }
    return false;
}

// Condition codes 0-7: NZ Z NC C PO PE P M.
bool condition_holds(unsigned code, std::uint8_t flags) {
    constexpr std::array<std::uint8_t, 4> masks{flag::zero, flag::carry, flag::parity, flag::sign};
    const bool set = (flags & masks[code >> 1]) != 0;
    return (code & 1) != 0 ? set : !set;
}

// What one instruction must do to PC, SP and the stack, worked out from the state before it.
struct Expected {
    std::uint16_t pc = 0;
    std::uint16_t sp = 0;
    bool pushes = false;
    std::uint16_t pushed = 0;
    bool stores_at_hl = false; // one of the unguarded stores
    std::uint8_t stored = 0;
};

std::uint16_t pair_value(const Intel_8080& p, unsigned code) {
    switch (code) {
    case 0:
        return get_bc(p);
    case 1:
        return get_de(p);
    case 2:
        return get_hl(p);
    default:
        return p.sp;
    }
}

std::uint8_t register_value(const Intel_8080& p, unsigned code) {
    const std::array<std::uint8_t, 8> registers{p.b, p.c, p.d, p.e, p.h, p.l, 0, p.a};
    return code == 6 ? p.memory[get_hl(p)] : registers[code];
}

Expected expect(const Intel_8080& p) {
    const unsigned pc = p.pc;
    const unsigned opcode = p.memory[pc];
    const unsigned y = opcode >> 3 & 7;
    const unsigned z = opcode & 7;
    const std::uint16_t address = make_pair(p.memory[word(pc + 2)], p.memory[word(pc + 1)]);
    const std::uint16_t top = make_pair(p.memory[word(p.sp + 1)], p.memory[p.sp]);
    Expected e{word(pc + 1), p.sp};
    const auto call = [&](std::uint16_t target, std::uint16_t return_address) {
        e.pc = target;
        e.sp = word(p.sp - 2);
        e.pushes = true;
        e.pushed = return_address;
    };
    const auto ret = [&] {
        e.pc = top;
        e.sp = word(p.sp + 2);
    };
    if (is_unimplemented(opcode)) {
        return e;
    }
    if (opcode < 0x40) {
        if (z == 1 && y % 2 == 0) { // LXI
            e.pc = word(pc + 3);
            e.sp = opcode == 0x31 ? address : p.sp;
        } else if (opcode == 0x22 || opcode == 0x2A || opcode == 0x32 || opcode == 0x3A) {
            e.pc = word(pc + 3);
        } else if (z == 6) { // MVI
            e.pc = word(pc + 2);
        }
        if (opcode == 0x33) {
            e.sp = word(p.sp + 1);
        } else if (opcode == 0x3B) {
            e.sp = word(p.sp - 1);
        }
        if (opcode == 0x34 || opcode == 0x35 || opcode == 0x36) {
            e.stores_at_hl = true;
            const std::uint8_t m = p.memory[get_hl(p)];
            e.stored = opcode == 0x36   ? p.memory[word(pc + 1)]
                       : opcode == 0x34 ? static_cast<std::uint8_t>(m + 1)
                                        : static_cast<std::uint8_t>(m - 1);
        }
        return e;
    }
    if (opcode < 0x80) { // MOV
        if (y == 6 && z != 6) {
            e.stores_at_hl = true;
            e.stored = register_value(p, z);
        }
        return e;
    }
    if (opcode < 0xC0) {
        return e;
    }
    switch (z) {
    case 0: // conditional return
        if (condition_holds(y, p.flags)) {
            ret();
        }
        break;
    case 1:
        if (y % 2 == 0) { // POP
            e.sp = word(p.sp + 2);
        } else if (opcode == 0xC9) {
            ret();
        } else if (opcode == 0xE9) { // PCHL
            e.pc = get_hl(p);
        } else if (opcode == 0xF9) { // SPHL
            e.sp = get_hl(p);
        }
        break;
    case 2: // conditional jump
        e.pc = condition_holds(y, p.flags) ? address : word(pc + 3);
        break;
    case 3:
        if (opcode == 0xC3) {
            e.pc = address;
        }
        break;
    case 4: // conditional call
        if (condition_holds(y, p.flags)) {
            call(address, word(pc + 3));
        } else {
            e.pc = word(pc + 3);
        }
        break;
    case 5:
        if (opcode == 0xCD) {
            call(address, word(pc + 3));
        } else { // PUSH
            e.sp = word(p.sp - 2);
            e.pushes = true;
            e.pushed = y == 6 ? make_pair(p.a, p.flags) : pair_value(p, y >> 1);
        }
        break;
    case 6: // immediate arithmetic
        e.pc = word(pc + 2);
        break;
    default: // RST
        call(word(y * 8), word(pc + 1));
        break;
    }
    return e;
}

bool writable(const Intel_8080& p, unsigned address) {
    return address >= p.writable_start && address <= p.writable_end;
}

// Registers, flags, SP and the interrupt flag: what an unimplemented opcode must leave alone.
struct Registers {
    std::array<std::uint8_t, 8> bytes;
    std::uint16_t sp;
    bool interrupts_enabled;

    explicit Registers(const Intel_8080& p)
        : bytes{p.a, p.b, p.c, p.d, p.e, p.h, p.l, p.flags}, sp(p.sp),
          interrupts_enabled(p.interrupts_enabled) {}
    bool operator==(const Registers&) const = default;
};

// The bytes outside the writable range must equal `shadow`, which follows the unguarded stores.
void check_memory(const Intel_8080& p, const std::array<std::uint8_t, 65536>& shadow) {
    constexpr std::size_t end = 65536;
    std::size_t below = end; // bytes below the writable range
    std::size_t above = end; // first byte above it
    if (p.writable_start <= p.writable_end) {
        below = p.writable_start < end ? p.writable_start : end;
        above = p.writable_end + std::size_t{1} < end ? p.writable_end + std::size_t{1} : end;
    }
    if (std::memcmp(p.memory.data(), shadow.data(), below) != 0 ||
        std::memcmp(p.memory.data() + above, shadow.data() + above, end - above) != 0) {
        std::fprintf(stderr, "processor invariant broken: a byte outside the writable range "
                             "changed\n");
        std::abort();
    }
}

void load_case(Intel_8080& p, const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, 16> state{};
    const std::size_t header = size < state.size() ? size : state.size();
    std::memcpy(state.data(), data, header);
    p = Intel_8080{};
    p.a = state[0];
    p.b = state[1];
    p.c = state[2];
    p.d = state[3];
    p.e = state[4];
    p.h = state[5];
    p.l = state[6];
    p.sp = make_pair(state[7], state[8]);
    p.pc = make_pair(state[9], state[10]);
    p.flags = state[11];
    p.interrupts_enabled = (state[12] & 1) != 0;
    // Bounds in 16-byte steps, up to 0x10FF0 so that a bound may lie beyond memory.
    p.writable_start = (static_cast<std::uint32_t>(state[13]) << 4 | state[14] >> 4) << 4;
    p.writable_end = (static_cast<std::uint32_t>(state[15]) << 4 | (state[14] & 0xF)) << 4 | 0xF;
    p.video_start = p.writable_start;
    std::uint32_t seed = 0x9E3779B9u;
    for (std::size_t k = 0; k < size; ++k) {
        seed = (seed ^ data[k]) * 0x01000193u;
    }
    for (std::uint8_t& byte : p.memory) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        byte = static_cast<std::uint8_t>(seed);
    }
    std::uint16_t address = p.pc;
    for (std::size_t k = header; k < size && k - header < p.memory.size(); ++k) {
        p.memory[address] = data[k];
        address = word(address + 1u);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Intel_8080 p;
    static std::array<std::uint8_t, 65536> shadow;
    load_case(p, data, size);
    shadow = p.memory;
    int exceptions = 0;
    for (int step = 1; step <= instructions_per_input && exceptions < exceptions_per_input;
         ++step) {
        const unsigned pc = p.pc;
        const unsigned opcode = p.memory[pc];
        const std::uint16_t hl = get_hl(p);
        const Expected expected = expect(p);
        const Registers before(p);
        const std::uint8_t byte_2 = p.memory[word(pc + 1)];
        const std::uint8_t byte_3 = p.memory[word(pc + 2)];
        bool threw = false;
        try {
            execute(p);
        } catch (const Tavrin::Exception& error) {
            threw = true;
            ++exceptions;
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X", opcode);
            check(error.message == std::string("Could not execute instruction \"") + digits +
                                       "\" because it has not been implemented.",
                  "wrong text for an unimplemented opcode", opcode, pc);
            check(Registers(p) == before, "an unimplemented opcode changed a register", opcode, pc);
        }
        check(threw == is_unimplemented(opcode),
              threw ? "implemented opcode threw" : "unimplemented opcode did not throw", opcode,
              pc);
        check(p.opcode == opcode && p.byte_2 == byte_2 && p.byte_3 == byte_3 &&
                  p.data == p.byte_2 && p.address == make_pair(p.byte_3, p.byte_2),
              "decode fields differ from the bytes at PC", opcode, pc);
        check(p.pc == expected.pc, "PC moved wrongly", opcode, pc);
        check(p.sp == expected.sp, "SP moved wrongly", opcode, pc);
        if (expected.pushes) {
            const unsigned high = word(before.sp - 1u);
            const unsigned low = word(before.sp - 2u);
            check(!writable(p, high) || p.memory[high] == expected.pushed >> 8,
                  "pushed high byte missing", opcode, pc);
            check(!writable(p, low) || p.memory[low] == (expected.pushed & 0xFF),
                  "pushed low byte missing", opcode, pc);
        }
        if (expected.stores_at_hl) {
            check(p.memory[hl] == expected.stored, "unguarded store at HL missing", opcode, pc);
            shadow[hl] = expected.stored;
        }
        if (step % instructions_between_memory_checks == 0) {
            check_memory(p, shadow);
        }
    }
    check_memory(p, shadow);
    return 0;
}
