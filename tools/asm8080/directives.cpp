// Directives' operands, read as the directive's row in the table (instructions.cpp) says: one
// function for each way of reading them. A new directive whose operands read as an existing one's
// is a row of the table; one that reads them otherwise is a row and a function here.

#include "tools/asm8080/assembler_internal.hpp"

#include <utility>

namespace Asm8080::Detail {

void Assembler::parse_directive(Statement& statement, const std::string& name) {
    switch (statement.info()->operands) {
    case Directive_Operands::expression:
    case Directive_Operands::named_expression:
        return parse_expression_operand(statement, name);
    case Directive_Operands::size_and_fill:
        return parse_size_and_fill(statement);
    case Directive_Operands::items:
        return parse_items(statement, name);
    case Directive_Operands::named_text:
        if (statement.label.empty()) {
            return invalid(statement, name + " needs a name");
        }
        return;
    case Directive_Operands::optional_address:
        return parse_end(statement);
    case Directive_Operands::file_name:
        return parse_name_operand(statement, name, true);
    case Directive_Operands::symbol_name:
        return parse_name_operand(statement, name, false);
    case Directive_Operands::none:
        expect_operands(statement, name, operands_of(statement).count, 0);
        return;
    case Directive_Operands::text:
    case Directive_Operands::tokens:
        return; // the first pass reads them
    }
}

// ORG, REPT, IF: one expression; EQU and SET name it too.
void Assembler::parse_expression_operand(Statement& statement, const std::string& name) {
    const Operands operands = operands_of(statement);
    if (statement.info()->operands == Directive_Operands::named_expression &&
        statement.label.empty()) {
        return invalid(statement, name + " needs a name");
    }
    if (expect_operands(statement, name, operands.count, 1)) {
        expression(statement, operands.first[0]);
    }
}

void Assembler::parse_size_and_fill(Statement& statement) {
    const Operands operands = operands_of(statement);
    if (operands.count != 1 && operands.count != 2) {
        return invalid(statement, "DS takes a size and perhaps a fill value, found " +
                                      std::to_string(operands.count) + " operands");
    }
    if (expression(statement, operands.first[0]) && operands.count == 2) {
        std::string message;
        if (!parse_expression(operands.first[1], message)) {
            return invalid(statement, message);
        }
        statement.filled = true;
    }
}

// DB and DW read their items one at a time: there may be millions.
void Assembler::parse_items(Statement& statement, const std::string& name) {
    const std::uint32_t width = statement.info()->data == Directive_Data::bytes ? 1 : 2;
    bool any = false;
    for_each_item(statement, [&](const Lexer& operand, const std::string* text) {
        any = true;
        std::string message;
        if (text) {
            statement.size += static_cast<std::uint32_t>(text->size());
        } else if (parse_expression(operand, message)) {
            statement.size += width;
        } else {
            invalid(statement, message);
            return false;
        }
        return true;
    });
    if (!any) {
        return invalid(statement, name + " needs at least one value");
    }
}

// END [start]: the rest of the program is not read, whatever its operands.
void Assembler::parse_end(Statement& statement) {
    const Operands operands = operands_of(statement);
    if (operands.count > 1) {
        return invalid(statement, "END takes at most one operand (where the program "
                                  "starts), found " +
                                      std::to_string(operands.count));
    }
    if (operands.count == 1) {
        expression(statement, operands.first[0]);
    }
    pass_.ended = true;
}

// INCLUDE and INCBIN take a quoted file name, IFDEF and IFNDEF a name: the first pass finds it
// in sources_.operand.
void Assembler::parse_name_operand(Statement& statement, const std::string& name, bool file) {
    const Operands operands = operands_of(statement);
    if (!expect_operands(statement, name, operands.count, 1)) {
        return;
    }
    Lexer tokens = operands.first[0];
    Token token;
    Token next;
    std::string message;
    if (!tokens.next(token, message) ||
        token.kind != (file ? Token_Kind::string : Token_Kind::identifier) ||
        tokens.next(next, message)) {
        return invalid(statement,
                       name + (file ? " expects a quoted file name" : " expects a name"));
    }
    sources_.operand = std::move(token.text);
}

} // namespace Asm8080::Detail
