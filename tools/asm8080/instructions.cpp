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

using enum Directive_Operands;
using Space = Directive_Space;
using Data = Directive_Data;
using Action = Directive_Action;

// A directive is one row: its name, what it is, how its operands are read, how the first pass
// places it, what the second pass writes, and what else the first pass does with it.
constexpr std::array directives{
    Directive_Info{"ORG", Directive::org, expression, Space::origin, Data::none, Action::none},
    Directive_Info{"EQU", Directive::equ, named_expression, Space::equate, Data::none,
                   Action::none},
    Directive_Info{"SET", Directive::set, named_expression, Space::assign, Data::none,
                   Action::none},
    Directive_Info{"DEFL", Directive::set, named_expression, Space::assign, Data::none,
                   Action::none},
    Directive_Info{"DB", Directive::db, items, Space::data, Data::bytes, Action::none},
    Directive_Info{"DW", Directive::dw, items, Space::data, Data::words, Action::none},
    Directive_Info{"DS", Directive::ds, size_and_fill, Space::reserve, Data::fill, Action::none},
    Directive_Info{"END", Directive::end, optional_address, Space::label, Data::none, Action::none},
    Directive_Info{"INCLUDE", Directive::include, file_name, Space::label, Data::none,
                   Action::include},
    Directive_Info{"INCBIN", Directive::incbin, file_name, Space::data, Data::file,
                   Action::include_binary},
    Directive_Info{"MACRO", Directive::macro, named_text, Space::none, Data::none,
                   Action::open_block},
    Directive_Info{"ENDM", Directive::endm, none, Space::label, Data::none, Action::close_block},
    Directive_Info{"REPT", Directive::rept, expression, Space::label, Data::none,
                   Action::open_block},
    Directive_Info{"IRP", Directive::irp, text, Space::label, Data::none, Action::open_block},
    Directive_Info{"IRPC", Directive::irpc, text, Space::label, Data::none, Action::open_block},
    Directive_Info{"LOCAL", Directive::local, tokens, Space::label, Data::none,
                   Action::declare_locals},
    Directive_Info{"EXITM", Directive::exitm, none, Space::label, Data::none, Action::exit_macro},
    Directive_Info{"IF", Directive::if_value, expression, Space::label, Data::none,
                   Action::open_condition},
    Directive_Info{"IFDEF", Directive::if_defined, symbol_name, Space::label, Data::none,
                   Action::open_condition},
    Directive_Info{"IFNDEF", Directive::if_not_defined, symbol_name, Space::label, Data::none,
                   Action::open_condition},
    Directive_Info{"ELSE", Directive::else_branch, none, Space::label, Data::none,
                   Action::continue_condition},
    Directive_Info{"ENDIF", Directive::end_if, none, Space::label, Data::none,
                   Action::continue_condition},
    Directive_Info{"ERROR", Directive::error, text, Space::label, Data::none, Action::report_error,
                   true},
    Directive_Info{"TITLE", Directive::context, text, Space::label, Data::none, Action::none, true},
    Directive_Info{".8080", Directive::context, text, Space::label, Data::none, Action::none},
    Directive_Info{"ASEG", Directive::context, text, Space::label, Data::none, Action::none},
    Directive_Info{"NAME", Directive::context, text, Space::label, Data::none, Action::none, true},
    Directive_Info{"PAGE", Directive::context, text, Space::label, Data::none, Action::none, true},
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

std::span<const Directive_Info> directive_table() {
    return directives;
}

const Directive_Info* find_directive(std::string_view name) {
    // Every word of every line is looked up: by hash, not along the table.
    static const std::unordered_map<std::string_view, const Directive_Info*> by_name = [] {
        std::unordered_map<std::string_view, const Directive_Info*> index;
        for (const Directive_Info& row : directives) {
            index.emplace(row.name, &row);
        }
        return index;
    }();
    const auto found = by_name.find(name);
    return found == by_name.end() ? nullptr : found->second;
}

const Directive_Info* directive_info(Directive directive) {
    for (const Directive_Info& row : directives) {
        if (row.directive == directive) {
            return &row;
        }
    }
    return nullptr;
}

bool is_operator_word(std::string_view name) {
    static constexpr std::array<std::string_view, 15> words{"NOT", "AND", "OR",   "XOR", "MOD",
                                                            "SHL", "SHR", "HIGH", "LOW", "EQ",
                                                            "NE",  "LT",  "LE",   "GT",  "GE"};
    return std::find(words.begin(), words.end(), name) != words.end();
}

bool is_reserved(std::string_view name) {
    const Directive_Info* directive = find_directive(name);
    return is_register_name(name) || find_instruction(name) ||
           (directive && !directive->may_be_label) || is_operator_word(name);
}

bool names_its_statement(std::string_view name) {
    const Directive_Info* info = find_directive(name);
    return info && (info->operands == Directive_Operands::named_expression ||
                    info->operands == Directive_Operands::named_text);
}

bool may_be_colon_label(std::string_view name) {
    return !is_operator_word(name) && !names_its_statement(name);
}

} // namespace Asm8080
