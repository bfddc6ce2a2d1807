#pragma once

// The body of `execute`, written once for every store observer. processor/intel_8080.cpp
// instantiates it for the plain `execute`, which observes nothing; a tool that needs to see each
// store (an audit, a watch) includes this header and instantiates it with its own observer.

#include "processor/flags.hpp"
#include "processor/intel_8080.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>

// Every opcode has its own handler, `run<opcode>`, instantiated from one template: the opcode's
// fields (group, register and pair codes) are compile-time constants, so each handler compiles
// down to the few operations of its instruction. An opcode is split into bits 7-6 (group),
// bits 5-3 (destination register, pair or condition) and bits 2-0 (source register or kind).
// `execute` reaches the handlers through one switch with a case per opcode, into which all of
// them are inlined.
//
// The handlers work on any `Cpu<Observer>`: the store observer travels with the instruction in
// flight and hears of every store its handler makes. `No_Store_Observer`'s calls are empty, so
// the plain `execute` compiles to exactly the code it would have without them.

namespace intel_8080_execution {

using Byte = std::uint8_t;
using Word = std::uint16_t;

inline constexpr Byte low_byte(unsigned value) {
    return static_cast<Byte>(value);
}
inline constexpr Word word(unsigned value) {
    return static_cast<Word>(value);
}

// The instruction in flight: the operands that the fetch read and the registers the handlers
// work on. A, the flags, SP and PC are copies, taken when the instruction starts and written back
// when it ends; the other registers are the record's own. The copies are what makes `execute`
// fast once it is inlined into a loop (the release build's link-time optimisation does that):
// as far as the compiler can tell, a store into `memory` may change any byte of the record, so a
// register kept in the record is loaded again after every such store, and the load has to wait
// for the store of the previous instruction to reach it. A copy that goes back to the record at
// one place, the end of every instruction, instead stays in a machine register from one call to
// the next. Copying the other six as well costs more in stores than it saves.
template <typename Observer>
struct Cpu {
    Intel_8080& record; // memory, the writable range and the interrupt flag
    Byte a;
    Byte& b;
    Byte& c;
    Byte& d;
    Byte& e;
    Byte& h;
    Byte& l;
    Byte flags;
    Word sp;
    Word pc; // one past the opcode until the instruction moves it
    Byte opcode;
    Byte data;
    Word address;
    [[no_unique_address]] Observer observe;
};

// The fetch reads the two operand bytes as one value, and the end of an instruction writes four
// bytes of the record as one.
static_assert(std::endian::native == std::endian::little,
              "bytes are read and written in groups as little-endian values");

// The two bytes after the opcode as the 16-bit operand, byte_3 * 256 + byte_2: one little-endian
// load, except at the top of memory, where the addresses wrap past 0xFFFF.
inline Word operand_bytes(const Intel_8080& p, Word pc) {
    if (pc <= p.memory.size() - 3) [[likely]] {
        std::uint16_t bytes = 0;
        std::memcpy(&bytes, &p.memory[pc] + 1, sizeof bytes);
        return bytes;
    }
    return make_pair(p.memory[word(pc + 2)], p.memory[word(pc + 1)]);
}

// The flags and the three decode fields after them in the record are written when an
// instruction ends: first all four bytes with one 32-bit store (the flags byte of it is a
// placeholder), then the flags alone over their byte. One store for `byte_2`, `byte_3` and `data`
// rather than three, because the stores, not the arithmetic, limit the pace of a short
// instruction. The flags get a store of their own so that the next instruction's read of them,
// a byte load of exactly that byte, is one the compiler answers from the machine register it
// stored: the flags then pass from instruction to instruction with no work on the way. Taken
// from the 32-bit value instead, they would be masked and merged with the operands at every
// instruction, two steps on a chain that every arithmetic instruction waits for.
inline constexpr std::size_t flags_and_operands = offsetof(Intel_8080, flags);
static_assert(offsetof(Intel_8080, byte_2) == flags_and_operands + 1 &&
              offsetof(Intel_8080, byte_3) == flags_and_operands + 2 &&
              offsetof(Intel_8080, data) == flags_and_operands + 3);

// `address` is byte_3 * 256 + byte_2, and `data` is byte_2 again.
inline void write_flags_and_operands(Intel_8080& p, Byte flags, Word address) {
    const std::uint32_t operands = unsigned{address} << 8 | unsigned{address} << 24;
    std::memcpy(reinterpret_cast<unsigned char*>(&p) + flags_and_operands, &operands,
                sizeof operands);
    p.flags = flags;
}

// Reads the instruction at PC, writes the opcode and the address into the decode fields (the other
// three go with the flags when it ends), copies the registers that the instruction works on, and
// moves PC past the opcode.
//
// The opcode, which the dispatch waits for, and the operand are two loads: the jump to the handler
// then waits for one load and the table, with no step between them to take the opcode out of a
// wider value, and the operand needs no shifting either.
template <typename Observer>
Cpu<Observer> fetch(Intel_8080& p, Observer observe) {
    const Word pc = p.pc;
    const Byte opcode = p.memory[pc];
    const Word address = operand_bytes(p, pc);
    p.opcode = opcode;
    p.address = address;
    const Byte flags = p.flags;
    return Cpu<Observer>{p,
                         p.a,
                         p.b,
                         p.c,
                         p.d,
                         p.e,
                         p.h,
                         p.l,
                         flags,
                         p.sp,
                         word(pc + 1),
                         opcode,
                         low_byte(address),
                         address,
                         observe};
}

// Writes the copied registers and the rest of the decode fields into the record: the instruction
// is done.
void retire(const auto& s) {
    Intel_8080& p = s.record;
    p.a = s.a;
    write_flags_and_operands(p, s.flags, s.address);
    p.sp = s.sp;
    p.pc = s.pc;
}

Byte read(const auto& s, Word address) {
    return s.record.memory[address];
}

// Pair codes: 0 BC, 1 DE, 2 HL, 3 SP.
inline constexpr unsigned hl = 2;

template <unsigned code>
Word read_pair(const auto& s) {
    if constexpr (code == 0) {
        return make_pair(s.b, s.c);
    } else if constexpr (code == 1) {
        return make_pair(s.d, s.e);
    } else if constexpr (code == 2) {
        return make_pair(s.h, s.l);
    } else {
        return s.sp;
    }
}

template <unsigned code>
void write_pair(auto& s, Word value) {
    if constexpr (code == 0) {
        set_pair(s.b, s.c, value);
    } else if constexpr (code == 1) {
        set_pair(s.d, s.e, value);
    } else if constexpr (code == 2) {
        set_pair(s.h, s.l, value);
    } else {
        s.sp = value;
    }
}

// Register codes: 0 B, 1 C, 2 D, 3 E, 4 H, 5 L, 6 M (memory at HL), 7 A.
template <unsigned code>
Byte read_register(const auto& s) {
    if constexpr (code == 0) {
        return s.b;
    } else if constexpr (code == 1) {
        return s.c;
    } else if constexpr (code == 2) {
        return s.d;
    } else if constexpr (code == 3) {
        return s.e;
    } else if constexpr (code == 4) {
        return s.h;
    } else if constexpr (code == 5) {
        return s.l;
    } else if constexpr (code == 6) {
        return read(s, read_pair<hl>(s));
    } else {
        return s.a;
    }
}

// Writing M is an unguarded store: MOV M,r, MVI M, INR M and DCR M reach the ROM too.
template <unsigned code>
void write_register(auto& s, Byte value) {
    if constexpr (code == 0) {
        s.b = value;
    } else if constexpr (code == 1) {
        s.c = value;
    } else if constexpr (code == 2) {
        s.d = value;
    } else if constexpr (code == 3) {
        s.e = value;
    } else if constexpr (code == 4) {
        s.h = value;
    } else if constexpr (code == 5) {
        s.l = value;
    } else if constexpr (code == 6) {
        unguarded_store(s.record, read_pair<hl>(s), value, s.observe);
    } else {
        s.a = value;
    }
}

void store(auto& s, Word address, Byte value) {
    guarded_store(s.record, address, value, s.observe);
}

void push_word(auto& s, Word value) {
    push(s.record, s.sp, value, s.observe);
}

Word pop_word(auto& s) {
    return pop(s.record, s.sp);
}

// Condition codes: 0 NZ, 1 Z, 2 NC, 3 C, 4 PO, 5 PE, 6 P, 7 M.
template <unsigned code>
bool condition(const auto& s) {
    constexpr std::array<Byte, 4> masks{flag::zero, flag::carry, flag::parity, flag::sign};
    const bool set = (s.flags & masks[code / 2]) != 0;
    return (code % 2 == 1) == set;
}

// For the program's conditional jumps: left to itself, the compiler picks the next PC with a
// conditional move, and the host then learns the program's choice only when the dispatch of the
// next instruction, two loads further on, finds that it guessed wrong. A real branch is resolved
// as soon as the flags are known, and its outcome helps predict that dispatch. GCC and Clang keep
// the branch when told that one side is taken almost always; the figure means nothing else.
inline bool as_branch(bool condition) {
#if defined(__GNUC__)
    return __builtin_expect_with_probability(condition, true, 0.99);
#else
    return condition;
#endif
}

// --- Arithmetic and logic ---------------------------------------------------------------------

// Register group 0x80-0xBF: 0 ADD, 1 ADC, 2 SUB, 3 SBB, 4 ANA, 5 XRA, 6 ORA, 7 CMP.
template <unsigned operation>
void register_operation(auto& s, Byte operand) {
    const unsigned carry = carry_set(s) ? 1 : 0;
    if constexpr (operation == 0) {
        const Word t = word(s.a + operand);
        set_arithmetic_flags(s, t);
        s.a = low_byte(t);
    } else if constexpr (operation == 1) {
        const Word t = word(s.a + operand + carry);
        set_arithmetic_flags(s, t);
        s.a = low_byte(t);
    } else if constexpr (operation == 2) {
        const Word t = word(s.a - operand);
        set_arithmetic_flags(s, t);
        s.a = low_byte(t);
    } else if constexpr (operation == 3) {
        const Word t = word(s.a - operand - carry);
        set_arithmetic_flags(s, t);
        s.a = low_byte(t);
    } else if constexpr (operation == 4) {
        s.a &= operand;
        set_logic_flags(s);
    } else if constexpr (operation == 5) {
        s.a ^= operand;
        set_logic_flags(s);
    } else if constexpr (operation == 6) {
        s.a |= operand;
        set_logic_flags(s);
    } else {
        set_arithmetic_flags(s, word(s.a - operand));
    }
}

// Immediate group: 0 ADI, 1 ACI, 2 SUI, 3 SBI, 4 ANI, 5 XRI, 6 ORI, 7 CPI, with `data` as the
// operand. The flags follow the register group's rules, except that XRI and ORI keep AC where
// XRA and ORA clear it.
template <unsigned operation>
void immediate_operation(auto& s) {
    if constexpr (operation == 5 || operation == 6) {
        s.a = operation == 5 ? low_byte(s.a ^ s.data) : low_byte(s.a | s.data);
        set_arithmetic_flags(s, s.a); // S, Z and P from A; CY cleared; AC kept
    } else {
        register_operation<operation>(s, s.data);
    }
    s.pc = word(s.pc + 1);
}

// Decimal adjust of A. AC is read here and cleared, never computed.
void decimal_adjust(auto& s) {
    unsigned t = s.a;
    if ((s.a & 0x0F) > 9 || (s.flags & flag::auxiliary_carry) != 0) {
        t += 0x06;
        s.flags = static_cast<Byte>(s.flags & ~flag::auxiliary_carry);
    }
    if ((t & 0xF0) > 0x90 || carry_set(s)) {
        t += 0x60;
    }
    set_arithmetic_flags(s, word(t));
    s.a = low_byte(t);
}

// Rotate and flag group at 0x07 + 8n: 0 RLC, 1 RRC, 2 RAL, 3 RAR, 4 DAA, 5 CMA, 6 STC, 7 CMC.
template <unsigned operation>
void rotate_or_flag(auto& s) {
    const unsigned a = s.a;
    if constexpr (operation == 0) {
        set_carry(s, (a & 0x80) != 0);
        s.a = low_byte(a << 1 | a >> 7);
    } else if constexpr (operation == 1) {
        set_carry(s, (a & 0x01) != 0);
        s.a = low_byte(a >> 1 | a << 7);
    } else if constexpr (operation == 2) {
        const unsigned old_carry = carry_set(s) ? 1 : 0;
        set_carry(s, (a & 0x80) != 0);
        s.a = low_byte(a << 1 | old_carry);
    } else if constexpr (operation == 3) {
        const unsigned old_carry = carry_set(s) ? 0x80 : 0;
        set_carry(s, (a & 0x01) != 0);
        s.a = low_byte(a >> 1 | old_carry);
    } else if constexpr (operation == 4) {
        decimal_adjust(s);
    } else if constexpr (operation == 5) {
        s.a = low_byte(~a);
    } else if constexpr (operation == 6) {
        set_carry(s, true);
    } else {
        set_carry(s, !carry_set(s));
    }
}

// --- Dispatch ----------------------------------------------------------------------------------

inline constexpr bool is_unimplemented(unsigned opcode) {
    switch (opcode) {
    case 0x08:
    case 0x10:
    case 0x18:
    case 0x20:
    case 0x28:
    case 0x30:
    case 0x38:
    case 0xCB:
    case 0xD3:
    case 0xD9:
    case 0xDB:
    case 0xDD:
    case 0xED:
    case 0xFD:
        return true;
    default:
        return false;
    }
}

void call(auto& s) {
    push_word(s, word(s.pc + 2));
    s.pc = s.address;
}

// 0x00-0x3F: transfers, 16-bit arithmetic, INR, DCR, MVI, rotates and flags.
template <unsigned opcode>
void run_group_0(auto& s) {
    constexpr unsigned y = (opcode >> 3) & 7;
    constexpr unsigned z = opcode & 7;
    constexpr unsigned pair = y >> 1;
    if constexpr (z == 0) {
        // NOP; the others of this column do not reach here.
    } else if constexpr (z == 1 && y % 2 == 0) { // LXI
        write_pair<pair>(s, s.address);
        s.pc = word(s.pc + 2);
    } else if constexpr (z == 1) { // DAD
        const unsigned t = unsigned{read_pair<hl>(s)} + read_pair<pair>(s);
        write_pair<hl>(s, word(t));
        set_carry(s, t > 0xFFFF);
    } else if constexpr (opcode == 0x02 || opcode == 0x12) { // STAX
        store(s, read_pair<pair>(s), s.a);
    } else if constexpr (opcode == 0x0A || opcode == 0x1A) { // LDAX
        s.a = read(s, read_pair<pair>(s));
    } else if constexpr (opcode == 0x22) { // SHLD
        store(s, s.address, s.l);
        store(s, word(s.address + 1), s.h);
        s.pc = word(s.pc + 2);
    } else if constexpr (opcode == 0x2A) { // LHLD
        s.l = read(s, s.address);
        s.h = read(s, word(s.address + 1));
        s.pc = word(s.pc + 2);
    } else if constexpr (opcode == 0x32) { // STA
        store(s, s.address, s.a);
        s.pc = word(s.pc + 2);
    } else if constexpr (opcode == 0x3A) { // LDA
        s.a = read(s, s.address);
        s.pc = word(s.pc + 2);
    } else if constexpr (z == 3 && y % 2 == 0) { // INX
        write_pair<pair>(s, word(read_pair<pair>(s) + 1));
    } else if constexpr (z == 3) { // DCX
        write_pair<pair>(s, word(read_pair<pair>(s) - 1));
    } else if constexpr (z == 4) { // INR
        const Byte value = low_byte(read_register<y>(s) + 1);
        write_register<y>(s, value);
        set_zsp_flags(s, value);
    } else if constexpr (z == 5) { // DCR
        const Byte value = low_byte(read_register<y>(s) - 1);
        write_register<y>(s, value);
        set_zsp_flags(s, value);
    } else if constexpr (z == 6) { // MVI
        write_register<y>(s, s.data);
        s.pc = word(s.pc + 1);
    } else {
        rotate_or_flag<y>(s);
    }
}

// 0xC0-0xFF: branches, stack, machine control and the immediate group.
template <unsigned opcode>
void run_group_3(auto& s) {
    constexpr unsigned y = (opcode >> 3) & 7;
    constexpr unsigned z = opcode & 7;
    constexpr unsigned pair = y >> 1;
    if constexpr (z == 0) { // conditional return
        if (condition<y>(s)) {
            s.pc = pop_word(s);
        }
    } else if constexpr (z == 1 && y % 2 == 0) { // POP
        const Word value = pop_word(s);
        if constexpr (pair == 3) {
            s.a = static_cast<Byte>(value >> 8);
            s.flags = low_byte(value);
        } else {
            write_pair<pair>(s, value);
        }
    } else if constexpr (opcode == 0xC9) { // RET
        s.pc = pop_word(s);
    } else if constexpr (opcode == 0xE9) { // PCHL
        s.pc = read_pair<hl>(s);
    } else if constexpr (opcode == 0xF9) { // SPHL
        s.sp = read_pair<hl>(s);
    } else if constexpr (z == 2) { // conditional jump
        if (as_branch(condition<y>(s))) {
            s.pc = s.address;
        } else {
            s.pc = word(s.pc + 2);
        }
    } else if constexpr (opcode == 0xC3) { // JMP
        s.pc = s.address;
    } else if constexpr (opcode == 0xE3) { // XTHL
        const Byte old_l = s.l;
        const Byte old_h = s.h;
        s.l = read(s, s.sp);
        s.h = read(s, word(s.sp + 1));
        store(s, s.sp, old_l);
        store(s, word(s.sp + 1), old_h);
    } else if constexpr (opcode == 0xEB) { // XCHG
        std::swap(s.d, s.h);
        std::swap(s.e, s.l);
    } else if constexpr (opcode == 0xF3) { // DI
        s.record.interrupts_enabled = false;
    } else if constexpr (opcode == 0xFB) { // EI
        s.record.interrupts_enabled = true;
    } else if constexpr (z == 4) { // conditional call
        if (condition<y>(s)) {
            call(s);
        } else {
            s.pc = word(s.pc + 2);
        }
    } else if constexpr (z == 5 && y % 2 == 0) { // PUSH
        if constexpr (pair == 3) {
            push_word(s, make_pair(s.a, s.flags));
        } else {
            push_word(s, read_pair<pair>(s));
        }
    } else if constexpr (opcode == 0xCD) { // CALL
        call(s);
    } else if constexpr (z == 6) {
        immediate_operation<y>(s);
    } else { // RST
        static_assert(z == 7);
        push_word(s, s.pc);
        s.pc = y * 8;
    }
}

template <unsigned opcode>
void run(auto& s) {
    constexpr unsigned group = opcode >> 6;
    if constexpr (is_unimplemented(opcode)) {
        retire(s); // the record shows the fetch, as for any instruction
        unimplemented_instruction(s.record);
    } else if constexpr (group == 0) {
        run_group_0<opcode>(s);
    } else if constexpr (group == 1) { // MOV d,s; 0x76 (MOV M,M) is HLT, which does nothing here
        constexpr unsigned destination = (opcode >> 3) & 7;
        constexpr unsigned source = opcode & 7;
        if constexpr (destination != source) {
            write_register<destination>(s, read_register<source>(s));
        }
    } else if constexpr (group == 2) {
        register_operation<(opcode >> 3) & 7>(s, read_register<opcode & 7>(s));
    } else {
        run_group_3<opcode>(s);
    }
}

// The dispatch: one `case` per opcode, each running its own `run<opcode>`. A switch rather than a
// table of handler addresses, so that the handlers are inlined and work on the copies in `Cpu`
// in machine registers; it compiles to one jump table all the same.
#define TAVRIN_OPCODE(n)                                                                           \
    case n:                                                                                        \
        run<n>(s);                                                                                 \
        break;
#define TAVRIN_OPCODES_4(n)                                                                        \
    TAVRIN_OPCODE(n) TAVRIN_OPCODE(n + 1) TAVRIN_OPCODE(n + 2) TAVRIN_OPCODE(n + 3)
#define TAVRIN_OPCODES_16(n)                                                                       \
    TAVRIN_OPCODES_4(n) TAVRIN_OPCODES_4(n + 4) TAVRIN_OPCODES_4(n + 8) TAVRIN_OPCODES_4(n + 12)
#define TAVRIN_OPCODES_64(n)                                                                       \
    TAVRIN_OPCODES_16(n)                                                                           \
    TAVRIN_OPCODES_16(n + 16) TAVRIN_OPCODES_16(n + 32) TAVRIN_OPCODES_16(n + 48)

void dispatch(auto& s) {
    switch (s.opcode) {
        TAVRIN_OPCODES_64(0x00)
        TAVRIN_OPCODES_64(0x40)
        TAVRIN_OPCODES_64(0x80)
        TAVRIN_OPCODES_64(0xC0)
    }
}

#undef TAVRIN_OPCODES_64
#undef TAVRIN_OPCODES_16
#undef TAVRIN_OPCODES_4
#undef TAVRIN_OPCODE

} // namespace intel_8080_execution

// Flattened: every call inside is inlined, so `Cpu` never reaches memory.
template <Store_Observer Observer>
[[gnu::flatten]] void execute(Intel_8080& p, Observer observe) {
    using namespace intel_8080_execution;
    Cpu<Observer> s = fetch(p, observe);
    dispatch(s);
    retire(s);
}
