#pragma once

// The Intel 8080 instruction set as the assembler sees it: mnemonics, their operand forms and
// base opcodes, and the directives.

#include <cstdint>
#include <string_view>

namespace Asm8080 {

enum class Form {
    none,      // NOP
    reg_mid,   // INR r: register in bits 5-3
    reg_low,   // ADD r: register in bits 2-0
    mov,       // MOV d,s
    mvi,       // MVI r,byte
    pair,      // INX p: B, D, H or SP in bits 5-4
    lxi,       // LXI p,word
    push_pop,  // PUSH p: B, D, H or PSW
    bd_pair,   // LDAX p: B or D
    immediate, // ADI byte
    address,   // JMP word
    restart,   // RST 0-7
};

struct Instruction {
    std::string_view mnemonic;
    std::uint8_t opcode;
    Form form;
};

// The instruction a mnemonic (upper-case) names, or null.
const Instruction* find_instruction(std::string_view mnemonic);

enum class Directive : std::uint8_t { none, org, equ, db, dw, ds, end, include };

Directive find_directive(std::string_view name);

// Registers, register pairs, mnemonics and directives cannot name symbols.
bool is_reserved(std::string_view name);

} // namespace Asm8080
