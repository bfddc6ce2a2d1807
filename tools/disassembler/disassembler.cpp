#include "tools/disassembler/disassembler.hpp"

#include "formats/hex.hpp"
#include "tools/asm8080/instructions.hpp"

namespace Asm8080 {

namespace {

// What an opcode decodes to: its instruction and the codes of its register fields.
struct Decoded {
    const Instruction* instruction = nullptr; // null: no mnemonic has this opcode
    unsigned first = 0;                       // the register field (MOV: the destination)
    unsigned second = 0;                      // MOV: the source
};

// Every opcode that an entry of the assembler's table can produce, filled in from that table.
const std::array<Decoded, 256>& decode_table() {
    static const std::array<Decoded, 256> table = [] {
        std::array<Decoded, 256> decoded{};
        for (const Instruction& instruction : instruction_table()) {
            const Register_Field field = register_field(instruction.form);
            if (instruction.form == Form::mov) {
                for (unsigned d = 0; d < 8; ++d) {
                    for (unsigned s = 0; s < 8; ++s) {
                        if (d != 6 || s != 6) { // MOV M,M is HLT
                            decoded[instruction.opcode | d << 3 | s] = {&instruction, d, s};
                        }
                    }
                }
            } else if (instruction.form == Form::restart) {
                for (unsigned n = 0; n < 8; ++n) {
                    decoded[instruction.opcode | n << 3] = {&instruction, n, 0};
                }
            } else if (field.names.empty()) {
                decoded[instruction.opcode] = {&instruction, 0, 0};
            } else {
                for (unsigned code = 0; code < field.names.size(); ++code) {
                    decoded[instruction.opcode | code << field.shift] = {&instruction, code, 0};
                }
            }
        }
        return decoded;
    }();
    return table;
}

std::string word_operand(unsigned value, const Formats::Symbols* symbols) {
    if (symbols != nullptr) {
        if (const std::string* name = symbols->name_of(static_cast<std::uint16_t>(value))) {
            return *name;
        }
    }
    return hex_number(value, 4);
}

} // namespace

std::string hex_number(unsigned value, int digits) {
    const std::string text = Formats::hex(value, digits) + 'H';
    return text[0] >= 'A' && text[0] <= 'F' ? '0' + text : text;
}

std::size_t instruction_size(std::uint8_t opcode) {
    const Decoded& decoded = decode_table()[opcode];
    return decoded.instruction == nullptr ? 1
                                          : Asm8080::instruction_size(decoded.instruction->form);
}

bool has_mnemonic(std::uint8_t opcode) {
    return decode_table()[opcode].instruction != nullptr;
}

Disassembly disassemble(std::array<std::uint8_t, 3> bytes, const Formats::Symbols* symbols) {
    const Decoded& decoded = decode_table()[bytes[0]];
    if (decoded.instruction == nullptr) {
        return {"DB " + hex_number(bytes[0], 2), 1};
    }
    const Instruction& instruction = *decoded.instruction;
    const Form form = instruction.form;
    const std::string_view field =
        register_field(form).names.empty() ? "" : register_field(form).names[decoded.first];
    const unsigned byte = bytes[1];
    const unsigned word = bytes[1] | unsigned{bytes[2]} << 8;
    std::string text(instruction.mnemonic);
    switch (form) {
    case Form::none:
        break;
    case Form::mov:
        text += " " + std::string(register_names[decoded.first]) + "," +
                std::string(register_names[decoded.second]);
        break;
    case Form::mvi:
        text += " " + std::string(field) + "," + hex_number(byte, 2);
        break;
    case Form::lxi:
        text += " " + std::string(field) + "," + word_operand(word, symbols);
        break;
    case Form::immediate:
        text += " " + hex_number(byte, 2);
        break;
    case Form::address:
        text += " " + word_operand(word, symbols);
        break;
    case Form::restart:
        text += " " + std::to_string(decoded.first);
        break;
    default: // one register or pair
        text += " " + std::string(field);
        break;
    }
    return {text, Asm8080::instruction_size(form)};
}

} // namespace Asm8080
