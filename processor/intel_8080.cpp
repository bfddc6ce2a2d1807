#include "processor/intel_8080.hpp"

#include "processor/flags.hpp"
#include "window/exception.hpp"

#include <array>
#include <cstddef>
#include <iomanip>
#include <sstream>
#include <utility>

// Every opcode has its own handler, `run<opcode>`, instantiated from one template: the opcode's
// fields (group, register and pair codes) are compile-time constants, so each handler compiles
// down to the few operations of its instruction. An opcode is split into bits 7-6 (group),
// bits 5-3 (destination register, pair or condition) and bits 2-0 (source register or kind).

namespace {

using Byte = std::uint8_t;
using Word = std::uint16_t;

constexpr Byte low_byte(unsigned value) {
    return static_cast<Byte>(value);
}
constexpr Word word(unsigned value) {
    return static_cast<Word>(value);
}

// Register codes: 0 B, 1 C, 2 D, 3 E, 4 H, 5 L, 6 M (memory at HL), 7 A.
template <unsigned code>
Byte read_register(const Intel_8080& p) {
    if constexpr (code == 0) {
        return p.b;
    } else if constexpr (code == 1) {
        return p.c;
    } else if constexpr (code == 2) {
        return p.d;
    } else if constexpr (code == 3) {
        return p.e;
    } else if constexpr (code == 4) {
        return p.h;
    } else if constexpr (code == 5) {
        return p.l;
    } else if constexpr (code == 6) {
        return p.memory[get_hl(p)];
    } else {
        return p.a;
    }
}

// Writing M is an unguarded store: MOV M,r, MVI M, INR M and DCR M reach the ROM too.
template <unsigned code>
void write_register(Intel_8080& p, Byte value) {
    if constexpr (code == 0) {
        p.b = value;
    } else if constexpr (code == 1) {
        p.c = value;
    } else if constexpr (code == 2) {
        p.d = value;
    } else if constexpr (code == 3) {
        p.e = value;
    } else if constexpr (code == 4) {
        p.h = value;
    } else if constexpr (code == 5) {
        p.l = value;
    } else if constexpr (code == 6) {
        unguarded_store(p, get_hl(p), value);
    } else {
        p.a = value;
    }
}

// Pair codes: 0 BC, 1 DE, 2 HL, 3 SP.
template <unsigned code>
Word read_pair(const Intel_8080& p) {
    if constexpr (code == 0) {
        return get_bc(p);
    } else if constexpr (code == 1) {
        return get_de(p);
    } else if constexpr (code == 2) {
        return get_hl(p);
    } else {
        return p.sp;
    }
}

template <unsigned code>
void write_pair(Intel_8080& p, Word value) {
    if constexpr (code == 0) {
        set_pair(p.b, p.c, value);
    } else if constexpr (code == 1) {
        set_pair(p.d, p.e, value);
    } else if constexpr (code == 2) {
        set_pair(p.h, p.l, value);
    } else {
        p.sp = value;
    }
}

// Condition codes: 0 NZ, 1 Z, 2 NC, 3 C, 4 PO, 5 PE, 6 P, 7 M.
template <unsigned code>
bool condition(const Intel_8080& p) {
    constexpr std::array<Byte, 4> masks{flag::zero, flag::carry, flag::parity, flag::sign};
    const bool set = (p.flags & masks[code / 2]) != 0;
    return (code % 2 == 1) == set;
}

// --- Arithmetic and logic ---------------------------------------------------------------------

// Register group 0x80-0xBF: 0 ADD, 1 ADC, 2 SUB, 3 SBB, 4 ANA, 5 XRA, 6 ORA, 7 CMP.
template <unsigned operation>
void register_operation(Intel_8080& p, Byte operand) {
    const unsigned carry = carry_set(p) ? 1 : 0;
    if constexpr (operation == 0) {
        const Word t = word(p.a + operand);
        set_arithmetic_flags(p, t);
        p.a = low_byte(t);
    } else if constexpr (operation == 1) {
        const Word t = word(p.a + operand + carry);
        set_arithmetic_flags(p, t);
        p.a = low_byte(t);
    } else if constexpr (operation == 2) {
        const Word t = word(p.a - operand);
        set_arithmetic_flags(p, t);
        p.a = low_byte(t);
    } else if constexpr (operation == 3) {
        const Word t = word(p.a - operand - carry);
        set_arithmetic_flags(p, t);
        p.a = low_byte(t);
    } else if constexpr (operation == 4) {
        p.a &= operand;
        set_logic_flags(p);
    } else if constexpr (operation == 5) {
        p.a ^= operand;
        set_logic_flags(p);
    } else if constexpr (operation == 6) {
        p.a |= operand;
        set_logic_flags(p);
    } else {
        set_arithmetic_flags(p, word(p.a - operand));
    }
}

// Immediate group: 0 ADI, 1 ACI, 2 SUI, 3 SBI, 4 ANI, 5 XRI, 6 ORI, 7 CPI. Their flag rules
// differ from the register group's: XRI and ORI keep AC, SUI and CPI take CY from A < data.
template <unsigned operation>
void immediate_operation(Intel_8080& p) {
    const Byte data = p.data;
    const unsigned carry = carry_set(p) ? 1 : 0;
    if constexpr (operation == 0 || operation == 1) {
        const Word t = word(p.a + data + (operation == 1 ? carry : 0));
        set_zsp_flags(p, low_byte(t));
        set_carry(p, t > 0xFF);
        p.a = low_byte(t);
    } else if constexpr (operation == 2) {
        const Byte v = low_byte(p.a - data);
        set_zsp_flags(p, v);
        set_carry(p, p.a < data);
        p.a = v;
    } else if constexpr (operation == 3) {
        const Word t = word(p.a - carry - data);
        set_zsp_flags(p, low_byte(t));
        set_carry(p, t > 0xFF);
        p.a = low_byte(t);
    } else if constexpr (operation == 4) {
        p.a &= data;
        set_logic_flags(p);
    } else if constexpr (operation == 5 || operation == 6) {
        const Byte v = operation == 5 ? low_byte(p.a ^ data) : low_byte(p.a | data);
        set_zsp_flags(p, v);
        set_carry(p, false);
        p.a = v;
    } else {
        set_zsp_flags(p, low_byte(p.a - data));
        set_carry(p, p.a < data);
    }
    p.pc = word(p.pc + 1);
}

// Decimal adjust of A. AC is read here and cleared, never computed.
void decimal_adjust(Intel_8080& p) {
    unsigned t = p.a;
    if ((p.a & 0x0F) > 9 || (p.flags & flag::auxiliary_carry) != 0) {
        t += 0x06;
        p.flags = static_cast<Byte>(p.flags & ~flag::auxiliary_carry);
    }
    if ((t & 0xF0) > 0x90 || carry_set(p)) {
        t += 0x60;
    }
    set_arithmetic_flags(p, word(t));
    p.a = low_byte(t);
}

// Rotate and flag group at 0x07 + 8n: 0 RLC, 1 RRC, 2 RAL, 3 RAR, 4 DAA, 5 CMA, 6 STC, 7 CMC.
template <unsigned operation>
void rotate_or_flag(Intel_8080& p) {
    const unsigned a = p.a;
    if constexpr (operation == 0) {
        set_carry(p, (a & 0x80) != 0);
        p.a = low_byte(a << 1 | a >> 7);
    } else if constexpr (operation == 1) {
        set_carry(p, (a & 0x01) != 0);
        p.a = low_byte(a >> 1 | a << 7);
    } else if constexpr (operation == 2) {
        const unsigned old_carry = carry_set(p) ? 1 : 0;
        set_carry(p, (a & 0x80) != 0);
        p.a = low_byte(a << 1 | old_carry);
    } else if constexpr (operation == 3) {
        const unsigned old_carry = carry_set(p) ? 0x80 : 0;
        set_carry(p, (a & 0x01) != 0);
        p.a = low_byte(a >> 1 | old_carry);
    } else if constexpr (operation == 4) {
        decimal_adjust(p);
    } else if constexpr (operation == 5) {
        p.a = low_byte(~a);
    } else if constexpr (operation == 6) {
        set_carry(p, true);
    } else {
        set_carry(p, !carry_set(p));
    }
}

// --- Dispatch ----------------------------------------------------------------------------------

constexpr bool is_unimplemented(unsigned opcode) {
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

void call(Intel_8080& p) {
    push(p, word(p.pc + 2));
    p.pc = p.address;
}

// 0x00-0x3F: transfers, 16-bit arithmetic, INR, DCR, MVI, rotates and flags.
template <unsigned opcode>
void run_group_0(Intel_8080& p) {
    constexpr unsigned y = (opcode >> 3) & 7;
    constexpr unsigned z = opcode & 7;
    constexpr unsigned pair = y >> 1;
    if constexpr (z == 0) {
        // NOP; the others of this column do not reach here.
    } else if constexpr (z == 1 && y % 2 == 0) { // LXI
        write_pair<pair>(p, p.address);
        p.pc = word(p.pc + 2);
    } else if constexpr (z == 1) { // DAD
        const unsigned t = unsigned{get_hl(p)} + read_pair<pair>(p);
        set_pair(p.h, p.l, word(t));
        set_carry(p, t > 0xFFFF);
    } else if constexpr (opcode == 0x02 || opcode == 0x12) { // STAX
        guarded_store(p, read_pair<pair>(p), p.a);
    } else if constexpr (opcode == 0x0A || opcode == 0x1A) { // LDAX
        p.a = p.memory[read_pair<pair>(p)];
    } else if constexpr (opcode == 0x22) { // SHLD
        guarded_store(p, p.address, p.l);
        guarded_store(p, word(p.address + 1), p.h);
        p.pc = word(p.pc + 2);
    } else if constexpr (opcode == 0x2A) { // LHLD
        p.l = p.memory[p.address];
        p.h = p.memory[word(p.address + 1)];
        p.pc = word(p.pc + 2);
    } else if constexpr (opcode == 0x32) { // STA
        guarded_store(p, p.address, p.a);
        p.pc = word(p.pc + 2);
    } else if constexpr (opcode == 0x3A) { // LDA
        p.a = p.memory[p.address];
        p.pc = word(p.pc + 2);
    } else if constexpr (z == 3 && y % 2 == 0) { // INX
        write_pair<pair>(p, word(read_pair<pair>(p) + 1));
    } else if constexpr (z == 3) { // DCX
        write_pair<pair>(p, word(read_pair<pair>(p) - 1));
    } else if constexpr (z == 4) { // INR
        const Byte value = low_byte(read_register<y>(p) + 1);
        write_register<y>(p, value);
        set_zsp_flags(p, value);
    } else if constexpr (z == 5) { // DCR
        const Byte value = low_byte(read_register<y>(p) - 1);
        write_register<y>(p, value);
        set_zsp_flags(p, value);
    } else if constexpr (z == 6) { // MVI
        write_register<y>(p, p.data);
        p.pc = word(p.pc + 1);
    } else {
        rotate_or_flag<y>(p);
    }
}

// 0xC0-0xFF: branches, stack, machine control and the immediate group.
template <unsigned opcode>
void run_group_3(Intel_8080& p) {
    constexpr unsigned y = (opcode >> 3) & 7;
    constexpr unsigned z = opcode & 7;
    constexpr unsigned pair = y >> 1;
    if constexpr (z == 0) { // conditional return
        if (condition<y>(p)) {
            p.pc = pop(p);
        }
    } else if constexpr (z == 1 && y % 2 == 0) { // POP
        const Word value = pop(p);
        if constexpr (pair == 3) {
            p.a = static_cast<Byte>(value >> 8);
            p.flags = low_byte(value);
        } else {
            write_pair<pair>(p, value);
        }
    } else if constexpr (opcode == 0xC9) { // RET
        p.pc = pop(p);
    } else if constexpr (opcode == 0xE9) { // PCHL
        p.pc = get_hl(p);
    } else if constexpr (opcode == 0xF9) { // SPHL
        p.sp = get_hl(p);
    } else if constexpr (z == 2) { // conditional jump
        p.pc = condition<y>(p) ? p.address : word(p.pc + 2);
    } else if constexpr (opcode == 0xC3) { // JMP
        p.pc = p.address;
    } else if constexpr (opcode == 0xE3) { // XTHL
        const Byte old_l = p.l;
        const Byte old_h = p.h;
        p.l = p.memory[p.sp];
        p.h = p.memory[word(p.sp + 1)];
        guarded_store(p, p.sp, old_l);
        guarded_store(p, word(p.sp + 1), old_h);
    } else if constexpr (opcode == 0xEB) { // XCHG
        std::swap(p.d, p.h);
        std::swap(p.e, p.l);
    } else if constexpr (opcode == 0xF3) { // DI
        p.interrupts_enabled = false;
    } else if constexpr (opcode == 0xFB) { // EI
        p.interrupts_enabled = true;
    } else if constexpr (z == 4) { // conditional call
        if (condition<y>(p)) {
            call(p);
        } else {
            p.pc = word(p.pc + 2);
        }
    } else if constexpr (z == 5 && y % 2 == 0) { // PUSH
        if constexpr (pair == 3) {
            push(p, make_pair(p.a, p.flags));
        } else {
            push(p, read_pair<pair>(p));
        }
    } else if constexpr (opcode == 0xCD) { // CALL
        call(p);
    } else if constexpr (z == 6) {
        immediate_operation<y>(p);
    } else { // RST
        static_assert(z == 7);
        push(p, p.pc);
        p.pc = y * 8;
    }
}

template <unsigned opcode>
void run(Intel_8080& p) {
    constexpr unsigned group = opcode >> 6;
    if constexpr (is_unimplemented(opcode)) {
        unimplemented_instruction(p);
    } else if constexpr (group == 0) {
        run_group_0<opcode>(p);
    } else if constexpr (group == 1) { // MOV d,s; 0x76 (MOV M,M) is HLT, which does nothing here
        constexpr unsigned destination = (opcode >> 3) & 7;
        constexpr unsigned source = opcode & 7;
        if constexpr (destination != source) {
            write_register<destination>(p, read_register<source>(p));
        }
    } else if constexpr (group == 2) {
        register_operation<(opcode >> 3) & 7>(p, read_register<opcode & 7>(p));
    } else {
        run_group_3<opcode>(p);
    }
}

using Handler = void (*)(Intel_8080&);

template <std::size_t... opcodes>
constexpr std::array<Handler, 256> make_handlers(std::index_sequence<opcodes...>) {
    return {&run<opcodes>...};
}

constexpr std::array<Handler, 256> handlers = make_handlers(std::make_index_sequence<256>{});

} // namespace

void execute(Intel_8080& p) {
    p.opcode = p.memory[p.pc];
    p.byte_2 = p.memory[word(p.pc + 1)];
    p.byte_3 = p.memory[word(p.pc + 2)];
    p.data = p.byte_2;
    p.address = make_pair(p.byte_3, p.byte_2);
    p.pc = word(p.pc + 1);
    handlers[p.opcode](p);
}

void unimplemented_instruction(Intel_8080& p) {
    std::ostringstream message;
    message << "Could not execute instruction \"" << std::hex << std::uppercase << std::setfill('0')
            << std::setw(2) << static_cast<unsigned>(p.opcode)
            << "\" because it has not been implemented.";
    throw Tavrin::Exception{message.str()};
}
