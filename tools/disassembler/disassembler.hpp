#pragma once

// Intel 8080 disassembly, read from the assembler's own table of mnemonics and operand forms
// (tools/asm8080/instructions.hpp), so that what it prints is what the assembler takes back:
//
//     const auto symbols = Tools::read_symbol_file("demo.sym");
//     const Asm8080::Disassembly line = Asm8080::disassemble({0xCD, 0x00, 0x01}, &symbols);
//     // line.text == "CALL draw" (or "CALL 0100H" without a name for 0100H), line.size == 3
//
// The twelve opcodes that no mnemonic names disassemble as data, `DB 08H`. Numbers are
// hexadecimal with the H suffix and a leading 0 where they would start with a letter.

#include "formats/symbols.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Asm8080 {

struct Disassembly {
    std::string text;
    std::size_t size; // bytes of the instruction: 1, 2 or 3
};

// The instruction whose opcode is bytes[0]; the bytes after it are read only when it has
// operands. A word operand that `symbols` names is shown by its name.
Disassembly disassemble(std::array<std::uint8_t, 3> bytes,
                        const Formats::Symbols* symbols = nullptr);

// The bytes of the instruction that starts with `opcode` (1 for an opcode with no mnemonic).
std::size_t instruction_size(std::uint8_t opcode);

// Whether a mnemonic names `opcode` (all but twelve).
bool has_mnemonic(std::uint8_t opcode);

// `value` as the assembler reads it: "0FFH", "2400H"; `digits` is the least number of digits.
std::string hex_number(unsigned value, int digits);

} // namespace Asm8080
