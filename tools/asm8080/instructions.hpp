#pragma once

// The Intel 8080 instruction set as the assembler sees it: mnemonics, their operand forms and
// base opcodes; and the directives, one row each in a table that says how the assembler reads,
// places and writes each (instructions.cpp).
//
// HOWTO add a directive: a row in `directives` (instructions.cpp). When its operands, its place,
// its data and its action read as an existing directive's, that is all (DEFL is SET's row under
// another name). When one reads otherwise, add a value to that column's enum (Directive_Operands,
// Directive_Space, Directive_Data or Directive_Action) and its one function in the assembler:
// directives.cpp reads operands, passes.cpp places statements and writes their data.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
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

// Every mnemonic with its base opcode and form: the one table that both the assembler and the
// disassembler read.
std::span<const Instruction> instruction_table();

// The operand names of a register field, by code.
inline constexpr std::array<std::string_view, 8> register_names{"B", "C", "D", "E",
                                                                "H", "L", "M", "A"};
inline constexpr std::array<std::string_view, 4> pair_names{"B", "D", "H", "SP"};
inline constexpr std::array<std::string_view, 4> push_pop_names{"B", "D", "H", "PSW"};
inline constexpr std::array<std::string_view, 2> bd_pair_names{"B", "D"};

// A form's register field: the names it takes, by code, and the bit where it starts in the
// opcode. MOV has two (destination at bit 3, source at bit 0); forms without one have no names.
struct Register_Field {
    std::span<const std::string_view> names;
    unsigned shift = 0;
};
Register_Field register_field(Form form);

// The bytes of an instruction of this form: 1, 2 (a byte operand) or 3 (a word operand).
std::size_t instruction_size(Form form);

enum class Directive : std::uint8_t {
    none,
    org,
    equ,
    set, // SET and DEFL: a value that may be set again
    db,
    dw,
    ds,
    end,
    include,
    incbin,
    macro,
    endm,
    rept,
    irp,
    irpc,
    local,
    exitm,
    if_value,       // IF
    if_defined,     // IFDEF
    if_not_defined, // IFNDEF
    else_branch,    // ELSE
    end_if,         // ENDIF
    error,
    context, // TITLE, .8080, ASEG, NAME, PAGE: accepted, nothing to do
};

// How a directive's operands are read when its line is parsed.
enum class Directive_Operands : std::uint8_t {
    none,             // ENDM, EXITM, ELSE, ENDIF: nothing
    text,             // any characters, read later as the directive needs (MACRO, IRP, ERROR)
    tokens,           // well-formed tokens, read later (LOCAL)
    expression,       // exactly one (ORG, REPT, IF)
    named_expression, // exactly one, and a name before the directive (EQU, SET)
    named_text,       // a name before the directive, then any characters (MACRO)
    size_and_fill,    // DS n[,fill]
    items,            // DB and DW: values and strings, any number but at least one
    optional_address, // END [start], which ends the program
    file_name,        // INCLUDE and INCBIN: a quoted name
    symbol_name,      // IFDEF and IFNDEF: a name
};

// How the first pass places a directive's statement.
enum class Directive_Space : std::uint8_t {
    label,   // its label, if any, names the address; it takes no space
    data,    // its label names the address, and it takes the space of its bytes (DB, DW, INCBIN)
    origin,  // moves the address (ORG)
    equate,  // its label names the value (EQU)
    assign,  // its label names a value that may change (SET)
    reserve, // takes space, perhaps filled (DS)
    none,    // its label names something else (MACRO)
};

// What the second pass writes for it.
enum class Directive_Data : std::uint8_t { none, bytes, words, fill, file };

// What else the first pass does when it meets it.
enum class Directive_Action : std::uint8_t {
    none,
    include,            // reads another source in its place
    include_binary,     // reads a file's bytes as data
    open_condition,     // IF, IFDEF, IFNDEF
    continue_condition, // ELSE, ENDIF
    open_block,         // MACRO, REPT, IRP, IRPC: reads a body up to its ENDM
    close_block,        // ENDM
    declare_locals,     // LOCAL
    exit_macro,         // EXITM
    report_error,       // ERROR
};

// One directive: the one table that the lexer, the parser and both passes read.
struct Directive_Info {
    std::string_view name;
    Directive directive;
    Directive_Operands operands;
    Directive_Space space;
    Directive_Data data;
    Directive_Action action;
    bool may_be_label = false; // a word that old sources use as a label too ("error:")
};

// The directive a name (upper-case) names, or null.
const Directive_Info* find_directive(std::string_view name);

// Every directive's row.
std::span<const Directive_Info> directive_table();

// The row of a directive (the first, for one with two names); null for Directive::none.
const Directive_Info* directive_info(Directive directive);

// The operators written as words (AND, HIGH, EQ...).
bool is_operator_word(std::string_view name);

// Registers, register pairs, mnemonics, directives and operator words: no name of a symbol
// defined without a colon, nor a value unless a label names it. ERROR, NAME, PAGE and TITLE are
// not reserved, being directives only where a mnemonic stands. With its colon, a label may take
// most of these names (statements.cpp).
bool is_reserved(std::string_view name);

// Directives whose statement is named by the word before them (EQU, SET, DEFL...).
bool names_its_statement(std::string_view name);

// Whether a label written with its colon may take this (upper-case) name: any name but an
// operator word, which an expression reads as its operator, and EQU, SET, DEFL or the like,
// which after an operation ("DW equ") would make the line a definition.
bool may_be_colon_label(std::string_view name);

} // namespace Asm8080
