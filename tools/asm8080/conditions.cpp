// Conditions: IF, IFDEF and IFNDEF open one, ELSE turns to its other branch, ENDIF closes it.
// The lines of a branch not taken are still statements (the listing shows them), but only the
// conditions among them are read, to find the ELSE and ENDIF that belong to the open IF.

#include "tools/asm8080/assembler_internal.hpp"

namespace Asm8080::Detail {

void Assembler::skip(std::size_t index) {
    Statement& statement = statements_[index];
    statement.assembled = false;
    const Directive operation = operation_of(head(statement.text));
    const Directive_Info* info = directive_info(operation);
    switch (info ? info->action : Directive_Action::none) {
    case Directive_Action::open_condition:
        conditions_.open.push_back({index, false, false, true, false});
        break;
    case Directive_Action::continue_condition:
        statement.directive = operation;
        condition(index);
        break;
    default:
        break;
    }
}

void Assembler::condition(std::size_t index) {
    Statement& statement = statements_[index];
    const Directive directive = statement.directive;
    if (statement.info()->action == Directive_Action::continue_condition) {
        return continue_condition(statement);
    }
    std::optional<bool> holds;
    if (directive == Directive::if_value) {
        if (const auto value =
                value_in(statement, statement.expression(), any_low, any_high, "a condition")) {
            holds = (*value & 0xFFFF) != 0;
        }
    } else {
        holds = symbols_.entries.contains(upper(sources_.operand)) ==
                (directive == Directive::if_defined);
    }
    // A condition that cannot be known takes neither branch: its error is the one reported.
    conditions_.open.push_back({index, holds.value_or(false), true, holds.value_or(true), false});
}

// ELSE or ENDIF.
void Assembler::continue_condition(Statement& statement) {
    const Directive directive = statement.directive;
    if (conditions_.open.empty() || conditions_.open.back().statement < conditions_.floor) {
        return invalid(statement, std::string(directive == Directive::end_if ? "ENDIF" : "ELSE") +
                                      " without IF");
    }
    Condition& open = conditions_.open.back();
    if (directive == Directive::end_if) {
        conditions_.open.pop_back();
        return;
    }
    if (open.in_else) {
        return invalid(statement, "a second ELSE for the IF on line " +
                                      std::to_string(statements_[open.statement].line));
    }
    open.in_else = true;
    open.active = open.parent_active && !open.decided;
    open.decided = true;
}

} // namespace Asm8080::Detail
