// Evaluation: the values of symbols and expressions. An EQU is evaluated when a value first
// needs it, its chain of EQUs one inside another, bounded so that a long or circular chain is
// an error, not a stack overflow.

#include "tools/asm8080/assembler_internal.hpp"

namespace Asm8080::Detail {

// Symbols and $ as the assembler knows them; a failure is noted in `failure`.
class Assembler::Evaluator final : public Evaluation {
public:
    Evaluator(Assembler& assembler, std::uint32_t here, Failure& failure)
        : assembler_(assembler), address_(here), failure_(failure) {}

    std::optional<std::int64_t> symbol(const Token& name) override {
        return assembler_.symbol_value(name.text, name.spelling, failure_);
    }
    std::int64_t here() override { return address_; }
    void fail(const std::string& message) override { failure_ = {message}; }

private:
    Assembler& assembler_;
    std::uint32_t address_;
    Failure& failure_;
};

std::optional<std::int64_t> Assembler::evaluate(const Lexer& expression, std::uint32_t here,
                                                Failure& failure) {
    Evaluator evaluator(*this, here, failure);
    return evaluate_expression(expression, evaluator);
}

std::optional<std::int64_t> Assembler::symbol_value(const std::string& name,
                                                    const std::string& spelling, Failure& failure) {
    const auto found = symbols_.entries.find(name);
    if (found == symbols_.entries.end()) {
        // A register, a mnemonic or a directive is a value only where a label names it.
        failure = {is_reserved(name) ? "'" + spelling + "' cannot be used as a value"
                   : pass_.second    ? "undefined symbol '" + spelling + "'"
                                     : "'" + spelling + "' must be defined on an earlier line"};
        return std::nullopt;
    }
    Symbol& symbol = found->second;
    if (symbol.is_set) {
        if (symbol.state == Symbol::State::resolved) {
            return symbol.value;
        }
        failure = {symbol.state == Symbol::State::failed
                       ? ""
                       : "'" + spelling + "' is used before its first SET"};
        return std::nullopt;
    }
    if (!symbol.is_equ || symbol.state == Symbol::State::resolved) {
        return symbol.value;
    }
    if (symbol.state == Symbol::State::failed) {
        failure = {};
        return std::nullopt;
    }
    if (symbol.state == Symbol::State::resolving) {
        failure = {"circular definition of '" +
                       std::string(statements_[static_cast<std::size_t>(symbol.statement)].label) +
                       "'",
                   true};
        return std::nullopt;
    }
    const auto value = resolve(symbol, failure);
    if (!value && pass_.second && !failure.in_definitions) {
        failure = {}; // the EQU's own line reports it
    }
    return value;
}

std::optional<std::int64_t> Assembler::resolve(Symbol& symbol, Failure& failure) {
    const Statement& statement = statements_[static_cast<std::size_t>(symbol.statement)];
    if (symbols_.resolving >= maximum_expression_depth) {
        failure = {"'" +
                       std::string(statements_[static_cast<std::size_t>(symbol.statement)].label) +
                       "' is defined through too many other EQUs",
                   true};
        return std::nullopt;
    }
    if (symbols_.evaluation_depth + statement.depth > maximum_evaluation_depth) {
        failure = {"'" +
                       std::string(statements_[static_cast<std::size_t>(symbol.statement)].label) +
                       "' is defined through expressions nested too deeply",
                   true};
        return std::nullopt;
    }
    symbol.state = Symbol::State::resolving;
    ++symbols_.resolving;
    symbols_.evaluation_depth += statement.depth;
    const auto value = evaluate(statement.expression(), statement.address, failure);
    symbols_.evaluation_depth -= statement.depth;
    --symbols_.resolving;
    if (value) {
        symbol.value = *value;
        symbol.state = Symbol::State::resolved;
    } else {
        symbol.state = pass_.second ? Symbol::State::failed : Symbol::State::unresolved;
    }
    return value;
}

// Evaluates an operand and checks its range; reports failures.
std::optional<std::int64_t> Assembler::value_in(const Statement& statement, const Lexer& expression,
                                                std::int64_t low, std::int64_t high,
                                                const char* what) {
    Failure failure;
    const auto value = evaluate(expression, statement.address, failure);
    if (!value) {
        if (!failure.message.empty()) {
            error(statement, failure.message);
        }
        return std::nullopt;
    }
    if (*value < low || *value > high) {
        error(statement, "value " + std::to_string(*value) + " is out of range for " + what);
        return std::nullopt;
    }
    return value;
}

} // namespace Asm8080::Detail
