#pragma once

// The source syntax of the assembler: the tokens of a line, and expressions.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Asm8080 {

enum class Token_Kind { identifier, number, string, punctuation };

struct Token {
    Token_Kind kind;
    std::string text; // identifiers upper-case, strings unquoted, punctuation as written
    std::int64_t value = 0;
    std::size_t column = 0;
    std::string spelling; // as written
};

// Splits a line into tokens, stopping at a comment. Returns an error message, or "".
std::string tokenize(std::string_view line, std::vector<Token>& tokens);

bool is_punctuation(const Token& token, std::string_view text);

// A token as a message names it.
std::string describe(const Token& token);

std::string upper(std::string_view text);

// `value` in upper-case hexadecimal digits, at least `width` of them.
std::string hex(std::int64_t value, int width);

// Operators, from the loosest binding to the tightest (as in C; all binary ones left to right):
//     |    ^    &    << >>    + -    * / %    unary - + ~    ( ) LOW( ) HIGH( )
// Values are 64-bit signed integers that wrap on overflow; each use checks the range it needs.
// Operands: numbers, 'c' characters ('ab' is 'a' * 256 + 'b'), symbols and $, the address of
// the current statement.

struct Expression {
    enum class Kind { number, symbol, here, unary, binary };
    Kind kind = Kind::number;
    std::int64_t value = 0;
    std::string name;     // a symbol, upper-case
    std::string spelling; // the symbol as written
    std::string op;       // a unary or binary operator, or LOW or HIGH
    std::unique_ptr<Expression> left, right;
    int depth = 1; // of the tree below and including this node
};

// Deeper expressions are refused, so that parsing and evaluating them cannot exhaust the stack.
constexpr int maximum_expression_depth = 200;

using Expression_Pointer = std::unique_ptr<Expression>;

// Parses all of `tokens` as one expression; on failure returns null and sets `error`.
Expression_Pointer parse_expression(const std::vector<Token>& tokens, std::string& error);

} // namespace Asm8080
