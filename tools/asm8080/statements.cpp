// Statements: a line's label and operation, found by its first tokens, and the operands of an
// instruction, checked and merged into its opcode. A directive's operands are read in
// directives.cpp.

#include "tools/asm8080/assembler_internal.hpp"

#include <algorithm>

namespace Asm8080::Detail {
namespace {

// The directives of other assemblers that switch to another processor's instructions.
bool is_instruction_set(const std::string& name) {
    static constexpr std::array<std::string_view, 9> names{
        ".Z80", ".Z180", ".Z280", ".8085", ".8086", ".R800", ".6502", ".HD64", ".Z8080"};
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A reserved word may still name a label written with its colon ("daa:", "a:"): there it can
// be read as nothing else, and it is a symbol wherever a value stands (may_be_colon_label says
// which names), but not a macro's name ("mov: MACRO"), which the instruction or directive of
// that name would hide.
bool may_name_label(const std::string& name, bool colon, const Directive_Info* operation) {
    if (!is_reserved(name)) {
        return true;
    }
    const bool names_macro = operation && operation->space == Directive_Space::none;
    return colon && may_be_colon_label(name) && !names_macro;
}

} // namespace

Head Assembler::head(std::string_view text) const {
    Head result;
    Lexer lexer(text);
    std::string message;
    while (result.count < result.tokens.size() &&
           lexer.next(result.tokens[result.count], message)) {
        result.ends[result.count++] = lexer.position();
    }
    const auto identifier_at = [&](std::size_t k) {
        return k < result.count && result.tokens[k].kind == Token_Kind::identifier;
    };
    if (identifier_at(0)) {
        const std::string& first = result.tokens[0].text;
        const bool colon = result.count > 1 && is_punctuation(result.tokens[1], ":");
        const bool before_operation = identifier_at(1) && is_operation(result.tokens[1].text);
        const bool before_definition =
            identifier_at(1) && names_its_statement(result.tokens[1].text);
        result.operation =
            colon ? 2
            : before_definition ||
                    (!is_operation(first) && (result.tokens[0].column == 0 || before_operation))
                ? 1
                : 0;
    }
    return result;
}

bool Assembler::is_operation(const std::string& name) const {
    return find_instruction(name) || find_directive(name) || macros_.by_name.contains(name);
}

// The directive that the line's operation names, if any.
Directive Assembler::operation_of(const Head& line) const {
    if (line.operation >= line.count ||
        line.tokens[line.operation].kind != Token_Kind::identifier) {
        return Directive::none;
    }
    const Directive_Info* info = find_directive(line.tokens[line.operation].text);
    return info ? info->directive : Directive::none;
}

void Assembler::parse(Statement& statement) {
    const Head line = head(statement.text);
    const std::size_t i = line.operation;
    const std::string* operation = i < line.count && line.tokens[i].kind == Token_Kind::identifier
                                       ? &line.tokens[i].text
                                       : nullptr;
    if (!check_tokens(statement, line, operation)) {
        return;
    }
    if (i == line.count) {
        return;
    }
    if (!operation) {
        return invalid(statement, "expected an instruction, found " + describe(line.tokens[i]));
    }
    statement.operands = static_cast<std::uint32_t>(line.ends[i]);
    if (const Instruction* instruction = find_instruction(*operation)) {
        statement.instruction = instruction;
        return parse_instruction(statement);
    }
    if (const auto found = macros_.by_name.find(*operation); found != macros_.by_name.end()) {
        macros_.call = found->second;
        return;
    }
    const Directive_Info* info = find_directive(*operation);
    if (!info) {
        return refuse_operation(statement, *operation, line.tokens[i].spelling);
    }
    statement.directive = info->directive;
    parse_directive(statement, *operation);
}

// Reads the whole line first, so that a malformed token anywhere in it is the error reported
// (but a macro's arguments and some directives' operands are text of any kind), then its label.
bool Assembler::check_tokens(Statement& statement, const Head& line, const std::string* operation) {
    const Directive_Info* info = operation ? find_directive(*operation) : nullptr;
    const bool free_text = (operation && macros_.by_name.contains(*operation)) ||
                           (info && (info->operands == Directive_Operands::text ||
                                     info->operands == Directive_Operands::named_text));
    if (!free_text) {
        Lexer lexer(statement.text);
        Token token;
        std::string message;
        while (lexer.next(token, message)) {
        }
        if (!message.empty()) {
            invalid(statement, message);
            return false;
        }
    }
    if (line.operation > 0) {
        const Token& name = line.tokens[0];
        const bool colon = line.count > 1 && is_punctuation(line.tokens[1], ":");
        if (!may_name_label(name.text, colon, info)) {
            invalid(statement, "'" + name.spelling + "' is a reserved word and cannot be a label");
            return false;
        }
        statement.label = statement.text.substr(name.column, name.spelling.size());
    }
    return true;
}

// An operation that is neither an instruction, a macro nor a directive.
void Assembler::refuse_operation(Statement& statement, const std::string& operation,
                                 const std::string& spelling) {
    if (is_instruction_set(operation)) {
        return invalid(statement, "'" + spelling +
                                      "' would change the instruction set: asm8080 "
                                      "assembles 8080 code only");
    }
    if (operation == "CSEG" || operation == "DSEG" || operation == "COMMON") {
        return invalid(statement, "'" + spelling +
                                      "' asks for relocatable code: asm8080 places "
                                      "everything where ORG says (ASEG)");
    }
    return invalid(statement, "unknown mnemonic '" + spelling + "'");
}

// Checks the expression in `tokens` and notes where it lies.
bool Assembler::expression(Statement& statement, const Lexer& tokens) {
    std::string message;
    const auto depth = parse_expression(tokens, message);
    if (!depth) {
        invalid(statement, message);
        return false;
    }
    statement.expression_begin = static_cast<std::uint32_t>(tokens.begin());
    statement.expression_end = static_cast<std::uint32_t>(tokens.end());
    statement.depth = static_cast<std::uint8_t>(*depth);
    return true;
}

Operands operands_of(const Statement& statement) {
    Operands operands;
    Operand_Reader reader(statement.text, statement.operands);
    for (Lexer operand({}); reader.next(operand); ++operands.count) {
        if (operands.count < operands.first.size()) {
            operands.first[operands.count] = operand;
        }
    }
    return operands;
}

bool Assembler::expect_operands(Statement& statement, const std::string& name, std::size_t found,
                                std::size_t count) {
    if (found == count) {
        return true;
    }
    if (count == 0) {
        invalid(statement, name + " takes no operands");
    } else {
        invalid(statement, name + " takes " + std::to_string(count) + " operand" +
                               (count == 1 ? "" : "s") + ", found " + std::to_string(found));
    }
    return false;
}

// The register an operand names, from `allowed` (whose position is its code), or nothing.
std::optional<int> Assembler::register_operand(Statement& statement, Lexer operand,
                                               std::span<const std::string_view> allowed) {
    Token first;
    Token second;
    std::string message;
    const bool empty = !operand.next(first, message);
    if (!empty && first.kind == Token_Kind::identifier && !operand.next(second, message)) {
        int code = 0;
        for (std::string_view name : allowed) {
            if (first.text == name) {
                return code;
            }
            ++code;
        }
    }
    std::string names;
    std::size_t index = 0;
    for (std::string_view name : allowed) {
        names += (index == 0 ? "" : index + 1 == allowed.size() ? " or " : ", ");
        names += name;
        ++index;
    }
    const std::string found = empty ? std::string("nothing") : describe(first);
    invalid(statement, std::string(statement.instruction->mnemonic) + " expects " + names +
                           ", found " + found);
    return std::nullopt;
}

std::optional<int> Assembler::single_register(Statement& statement, const Lexer& operand) {
    return register_operand(statement, operand, register_names);
}

void Assembler::parse_instruction(Statement& statement) {
    const Operands operands = operands_of(statement);
    const Instruction& instruction = *statement.instruction;
    const Form form = instruction.form;
    const std::size_t count = form == Form::none                                            ? 0
                              : form == Form::mov || form == Form::mvi || form == Form::lxi ? 2
                                                                                            : 1;
    if (!expect_operands(statement, std::string(instruction.mnemonic), operands.count, count)) {
        return;
    }
    // The register field, where the form has one, is merged into the opcode.
    const Register_Field register_field = Asm8080::register_field(form);
    std::optional<int> field = 0;
    if (form == Form::mov) {
        const auto destination = single_register(statement, operands.first[0]);
        const auto source =
            destination ? single_register(statement, operands.first[1]) : std::nullopt;
        if (!source) {
            return;
        }
        if (*destination == 6 && *source == 6) {
            return invalid(statement, "MOV M,M is not an instruction");
        }
        field = *destination << 3 | *source;
    } else if (!register_field.names.empty()) {
        field = register_operand(statement, operands.first[0], register_field.names);
    }
    if (!field) {
        return;
    }
    statement.opcode = static_cast<std::uint8_t>(instruction.opcode | static_cast<unsigned>(*field)
                                                                          << register_field.shift);
    statement.size = static_cast<std::uint32_t>(instruction_size(form));
    if (form == Form::mvi || form == Form::lxi || form == Form::immediate ||
        form == Form::address || form == Form::restart) {
        expression(statement, operands.back());
    }
}

// Calls `item(operand, text)` for each DB or DW item in turn: `text` holds the bytes of a
// string item, or is null for an expression. Stops early when `item` returns false.
} // namespace Asm8080::Detail
