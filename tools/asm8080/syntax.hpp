#pragma once

// The source syntax of the assembler: the tokens of a line, and expressions.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Asm8080 {

enum class Token_Kind { identifier, number, string, punctuation };

struct Token {
    Token_Kind kind;
    std::string text; // identifiers upper-case, strings unquoted, punctuation as written
    std::int64_t value = 0;
    std::size_t column = 0;
    std::string spelling; // as written
};

// Reads the tokens of a line, or of the part from `begin` to `end`, one at a time, and stops
// at a comment. Tokens are not gathered: a line of millions of them costs no more memory than one.
class Lexer {
public:
    explicit Lexer(std::string_view line, std::size_t begin = 0,
                   std::size_t end = std::string_view::npos)
        : line_(line.substr(0, end)), position_(begin), begin_(begin) {}

    // Reads the next token. Returns false at the end, or on a malformed token with `error` set.
    bool next(Token& token, std::string& error);

    std::size_t begin() const { return begin_; }
    std::size_t end() const { return line_.size(); }
    std::size_t position() const { return position_; }

private:
    std::string_view line_;
    std::size_t position_;
    std::size_t begin_;
};

// Splits the operands of a statement, which start at `begin`, at the commas that stand outside
// parentheses, and hands them out one at a time. The line's tokens must be well formed.
class Operand_Reader {
public:
    Operand_Reader(std::string_view line, std::size_t begin);

    // The next operand's tokens; false after the last one. A line with nothing after `begin`
    // has no operands; "1," has two, the second empty.
    bool next(Lexer& operand);

private:
    std::string_view line_;
    std::size_t position_;
    bool done_;
};

bool is_punctuation(const Token& token, std::string_view text);

// A token as a message names it.
std::string describe(const Token& token);

std::string upper(std::string_view text);

// `value` as Formats::hex writes it, at least `width` digits; a negative value as its 64-bit
// two's complement.
std::string hex(std::int64_t value, int width);

// Operators, from the loosest binding to the tightest (all binary ones left to right):
//     OR XOR    AND    NOT    EQ NE LT LE GT GE    |    ^    &    << >>    + -
//     * / % MOD SHL SHR    unary - + ~ HIGH LOW    ( )
// The words keep the order of the classic 8080 assemblers, the symbols that of C. A relation is
// true (-1, 0FFFFH as a word) or false (0), comparing the 16-bit values unsigned; SHR shifts the
// 16-bit value, >> the whole value with its sign; NOT is ~.
// Values are 64-bit signed integers that wrap on overflow; each use checks the range it needs.
// Operands: numbers, 'c' characters ('ab' is 'a' * 256 + 'b'), symbols and $, the address of
// the current statement.

// Deeper expressions are refused, so that parsing and evaluating them cannot exhaust the stack.
constexpr int maximum_expression_depth = 200;

// What the operands of an expression stand for while it is evaluated.
class Evaluation {
public:
    // The value of a symbol (an identifier token, any but an operator word: a register's or a
    // mnemonic's name too), or nothing when it has none: evaluation stops, and the callee has
    // noted why.
    virtual std::optional<std::int64_t> symbol(const Token& name) = 0;
    // The value of $.
    virtual std::int64_t here() = 0;
    // An operator cannot be applied (a division by zero): evaluation stops.
    virtual void fail(const std::string& message) = 0;

protected:
    ~Evaluation() = default;
};

// Parses all of `tokens` as one expression and returns its depth (the operators and
// parentheses nested in it, plus one); on failure returns nothing and sets `error`. No tree is
// built, and reading stops at the first fault: a nesting too deep is refused where it passes
// the limit, however long the rest of the line.
std::optional<int> parse_expression(Lexer tokens, std::string& error);

// The value of an expression that parse_expression accepted, or nothing when `evaluation`
// stopped it.
std::optional<std::int64_t> evaluate_expression(Lexer tokens, Evaluation& evaluation);

} // namespace Asm8080
