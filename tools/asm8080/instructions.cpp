#include "tools/asm8080/instructions.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>

namespace Asm8080 {
namespace {

std::optional<int> register_code(std::string_view name) {
    for (std::size_t i = 0; i < register_names.size(); ++i) {
        if (register_names[i] == name) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

bool is_register_name(std::string_view name) {
    return register_code(name) || name == "SP" || name == "PSW";
}

constexpr std::array instructions{
    Instruction{"NOP", 0x00, Form::none},      Instruction{"HLT", 0x76, Form::none},
    Instruction{"RLC", 0x07, Form::none},      Instruction{"RRC", 0x0F, Form::none},
    Instruction{"RAL", 0x17, Form::none},      Instruction{"RAR", 0x1F, Form::none},
    Instruction{"DAA", 0x27, Form::none},      Instruction{"CMA", 0x2F, Form::none},
    Instruction{"STC", 0x37, Form::none},      Instruction{"CMC", 0x3F, Form::none},
    Instruction{"RET", 0xC9, Form::none},      Instruction{"RNZ", 0xC0, Form::none},
    Instruction{"RZ", 0xC8, Form::none},       Instruction{"RNC", 0xD0, Form::none},
    Instruction{"RC", 0xD8, Form::none},       Instruction{"RPO", 0xE0, Form::none},
    Instruction{"RPE", 0xE8, Form::none},      Instruction{"RP", 0xF0, Form::none},
    Instruction{"RM", 0xF8, Form::none},       Instruction{"XCHG", 0xEB, Form::none},
    Instruction{"XTHL", 0xE3, Form::none},     Instruction{"SPHL", 0xF9, Form::none},
    Instruction{"PCHL", 0xE9, Form::none},     Instruction{"EI", 0xFB, Form::none},
    Instruction{"DI", 0xF3, Form::none},       Instruction{"INR", 0x04, Form::reg_mid},
    Instruction{"DCR", 0x05, Form::reg_mid},   Instruction{"ADD", 0x80, Form::reg_low},
    Instruction{"ADC", 0x88, Form::reg_low},   Instruction{"SUB", 0x90, Form::reg_low},
    Instruction{"SBB", 0x98, Form::reg_low},   Instruction{"ANA", 0xA0, Form::reg_low},
    Instruction{"XRA", 0xA8, Form::reg_low},   Instruction{"ORA", 0xB0, Form::reg_low},
    Instruction{"CMP", 0xB8, Form::reg_low},   Instruction{"MOV", 0x40, Form::mov},
    Instruction{"MVI", 0x06, Form::mvi},       Instruction{"INX", 0x03, Form::pair},
    Instruction{"DCX", 0x0B, Form::pair},      Instruction{"DAD", 0x09, Form::pair},
    Instruction{"LXI", 0x01, Form::lxi},       Instruction{"PUSH", 0xC5, Form::push_pop},
    Instruction{"POP", 0xC1, Form::push_pop},  Instruction{"LDAX", 0x0A, Form::bd_pair},
    Instruction{"STAX", 0x02, Form::bd_pair},  Instruction{"ADI", 0xC6, Form::immediate},
    Instruction{"ACI", 0xCE, Form::immediate}, Instruction{"SUI", 0xD6, Form::immediate},
    Instruction{"SBI", 0xDE, Form::immediate}, Instruction{"ANI", 0xE6, Form::immediate},
    Instruction{"XRI", 0xEE, Form::immediate}, Instruction{"ORI", 0xF6, Form::immediate},
    Instruction{"CPI", 0xFE, Form::immediate}, Instruction{"IN", 0xDB, Form::immediate},
    Instruction{"OUT", 0xD3, Form::immediate}, Instruction{"JMP", 0xC3, Form::address},
    Instruction{"JNZ", 0xC2, Form::address},   Instruction{"JZ", 0xCA, Form::address},
    Instruction{"JNC", 0xD2, Form::address},   Instruction{"JC", 0xDA, Form::address},
    Instruction{"JPO", 0xE2, Form::address},   Instruction{"JPE", 0xEA, Form::address},
    Instruction{"JP", 0xF2, Form::address},    Instruction{"JM", 0xFA, Form::address},
    Instruction{"CALL", 0xCD, Form::address},  Instruction{"CNZ", 0xC4, Form::address},
    Instruction{"CZ", 0xCC, Form::address},    Instruction{"CNC", 0xD4, Form::address},
    Instruction{"CC", 0xDC, Form::address},    Instruction{"CPO", 0xE4, Form::address},
    Instruction{"CPE", 0xEC, Form::address},   Instruction{"CP", 0xF4, Form::address},
    Instruction{"CM", 0xFC, Form::address},    Instruction{"LDA", 0x3A, Form::address},
    Instruction{"STA", 0x32, Form::address},   Instruction{"LHLD", 0x2A, Form::address},
    Instruction{"SHLD", 0x22, Form::address},  Instruction{"RST", 0xC7, Form::restart},
};

} // namespace

std::span<const Instruction> instruction_table() {
    return instructions;
}

Register_Field register_field(Form form) {
    switch (form) {
    case Form::reg_mid:
    case Form::mvi:
        return {register_names, 3};
    case Form::reg_low:
    case Form::mov:
        return {register_names, 0};
    case Form::pair:
    case Form::lxi:
        return {pair_names, 4};
    case Form::push_pop:
        return {push_pop_names, 4};
    case Form::bd_pair:
        return {bd_pair_names, 4};
    default:
        return {};
    }
}

std::size_t instruction_size(Form form) {
    switch (form) {
    case Form::mvi:
    case Form::immediate:
        return 2;
    case Form::lxi:
    case Form::address:
        return 3;
    default:
        return 1;
    }
}

const Instruction* find_instruction(std::string_view mnemonic) {
    for (const Instruction& instruction : instructions) {
        if (instruction.mnemonic == mnemonic) {
            return &instruction;
        }
    }
    return nullptr;
}

Directive find_directive(std::string_view name) {
    static const std::unordered_map<std::string_view, Directive> directives{
        {"ORG", Directive::org},
        {"EQU", Directive::equ},
        {"SET", Directive::set},
        {"DEFL", Directive::set},
        {"DB", Directive::db},
        {"DW", Directive::dw},
        {"DS", Directive::ds},
        {"END", Directive::end},
        {"INCLUDE", Directive::include},
        {"INCBIN", Directive::incbin},
        {"MACRO", Directive::macro},
        {"ENDM", Directive::endm},
        {"REPT", Directive::rept},
        {"IRP", Directive::irp},
        {"IRPC", Directive::irpc},
        {"LOCAL", Directive::local},
        {"EXITM", Directive::exitm},
        {"IF", Directive::if_value},
        {"IFDEF", Directive::if_defined},
        {"IFNDEF", Directive::if_not_defined},
        {"ELSE", Directive::else_branch},
        {"ENDIF", Directive::end_if},
        {"ERROR", Directive::error},
        {"TITLE", Directive::context},
        {".8080", Directive::context},
        {"ASEG", Directive::context},
        {"NAME", Directive::context},
        {"PAGE", Directive::context},
    };
    const auto found = directives.find(name);
    return found == directives.end() ? Directive::none : found->second;
}

bool is_operator_word(std::string_view name) {
    static constexpr std::array<std::string_view, 15> words{"NOT", "AND", "OR",   "XOR", "MOD",
                                                            "SHL", "SHR", "HIGH", "LOW", "EQ",
                                                            "NE",  "LT",  "LE",   "GT",  "GE"};
    return std::find(words.begin(), words.end(), name) != words.end();
}

bool is_reserved(std::string_view name) {
    // Directives that sources of old often use as labels too ("error:") stay free for them.
    const bool free = name == "ERROR" || name == "NAME" || name == "PAGE" || name == "TITLE";
    return is_register_name(name) || find_instruction(name) ||
           (find_directive(name) != Directive::none && !free) || is_operator_word(name);
}

} // namespace Asm8080
