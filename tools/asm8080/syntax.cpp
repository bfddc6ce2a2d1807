#include "tools/asm8080/syntax.hpp"

#include "tools/asm8080/instructions.hpp"
#include "tools/files/messages.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <sstream>

namespace Asm8080 {
namespace {

bool is_identifier_start(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '?' || c == '@' ||
           c == '.';
}

bool is_identifier_char(char c) {
    return is_identifier_start(c) || std::isdigit(static_cast<unsigned char>(c));
}

// Digits in `base`, or nothing when a digit does not belong or the value exceeds 32 bits.
std::optional<std::int64_t> parse_digits(std::string_view digits, int base) {
    if (digits.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (char c : digits) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        if (digit >= base) {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFF) {
            return std::nullopt;
        }
    }
    return value;
}

// 0x1F, 1FH, 1010B, 17O or 17Q (octal), 31D or 31 (decimal).
std::optional<std::int64_t> parse_number(std::string_view text) {
    const std::string digits = upper(text);
    if (digits.size() > 2 && digits[0] == '0' && digits[1] == 'X') {
        return parse_digits(std::string_view(digits).substr(2), 16);
    }
    const std::string_view body = std::string_view(digits).substr(0, digits.size() - 1);
    switch (digits.back()) {
    case 'H':
        return parse_digits(body, 16);
    case 'B':
        return parse_digits(body, 2);
    case 'O':
    case 'Q':
        return parse_digits(body, 8);
    case 'D':
        return parse_digits(body, 10);
    default:
        return parse_digits(digits, 10);
    }
}

class Expression_Parser {
public:
    Expression_Parser(const std::vector<Token>& tokens, std::string& error)
        : tokens_(tokens), error_(error) {}

    Expression_Pointer parse_all() {
        if (tokens_.empty()) {
            fail("missing operand");
            return nullptr;
        }
        auto expression = parse_binary(0);
        if (expression && position_ < tokens_.size()) {
            fail("unexpected " + describe(tokens_[position_]) + " in expression");
            return nullptr;
        }
        return expression;
    }

private:
    static constexpr std::array<std::array<std::string_view, 3>, 6> levels{{
        {"|", "", ""},
        {"^", "", ""},
        {"&", "", ""},
        {"<<", ">>", ""},
        {"+", "-", ""},
        {"*", "/", "%"},
    }};

    const Token* peek() const { return position_ < tokens_.size() ? &tokens_[position_] : nullptr; }

    void fail(const std::string& message) {
        if (error_.empty()) {
            error_ = message;
        }
    }

    Expression_Pointer parse_binary(std::size_t level) {
        if (level == levels.size()) {
            return parse_unary();
        }
        auto left = parse_binary(level + 1);
        while (left) {
            const Token* token = peek();
            if (!token || token->kind != Token_Kind::punctuation) {
                break;
            }
            const auto& ops = levels[level];
            if (std::find(ops.begin(), ops.end(), token->text) == ops.end() ||
                token->text.empty()) {
                break;
            }
            ++position_;
            auto right = parse_binary(level + 1);
            if (!right) {
                return nullptr;
            }
            auto node = std::make_unique<Expression>();
            node->kind = Expression::Kind::binary;
            node->op = token->text;
            node->depth = std::max(left->depth, right->depth) + 1;
            node->left = std::move(left);
            node->right = std::move(right);
            left = checked(std::move(node));
        }
        return left;
    }

    Expression_Pointer checked(Expression_Pointer node) {
        if (node && node->depth > maximum_expression_depth) {
            fail("expression nested too deeply");
            return nullptr;
        }
        return node;
    }

    // Unary operators are gathered in a loop, not by recursion, and count towards the same depth
    // limit as every other level, so that a long run of them cannot exhaust the stack.
    Expression_Pointer parse_unary() {
        std::vector<const Token*> operators;
        for (const Token* token = peek();
             token && (is_punctuation(*token, "-") || is_punctuation(*token, "+") ||
                       is_punctuation(*token, "~"));
             token = peek()) {
            if (static_cast<int>(operators.size()) >= maximum_expression_depth) {
                fail("expression nested too deeply");
                return nullptr;
            }
            operators.push_back(token);
            ++position_;
        }
        auto operand = parse_primary();
        for (auto op = operators.rbegin(); operand && op != operators.rend(); ++op) {
            auto node = std::make_unique<Expression>();
            node->kind = Expression::Kind::unary;
            node->op = (*op)->text;
            node->depth = operand->depth + 1;
            node->left = std::move(operand);
            operand = checked(std::move(node));
        }
        return operand;
    }

    Expression_Pointer parse_primary() {
        const Token* token = peek();
        if (!token) {
            fail("expression ends too early");
            return nullptr;
        }
        ++position_;
        auto node = std::make_unique<Expression>();
        switch (token->kind) {
        case Token_Kind::number:
            node->value = token->value;
            return node;
        case Token_Kind::string:
            if (token->text.empty() || token->text.size() > 2) {
                fail("a character constant holds one or two characters");
                return nullptr;
            }
            for (char c : token->text) {
                node->value = node->value << 8 | static_cast<unsigned char>(c);
            }
            return node;
        case Token_Kind::identifier: {
            const Token* next = peek();
            if ((token->text == "LOW" || token->text == "HIGH") && next &&
                is_punctuation(*next, "(")) {
                node->kind = Expression::Kind::unary;
                node->op = token->text;
                node->left = parse_primary();
                if (!node->left) {
                    return nullptr;
                }
                node->depth = node->left->depth + 1;
                return checked(std::move(node));
            }
            if (is_reserved(token->text)) {
                fail("'" + token->spelling + "' cannot be used as a value");
                return nullptr;
            }
            node->kind = Expression::Kind::symbol;
            node->name = token->text;
            node->spelling = token->spelling;
            return node;
        }
        case Token_Kind::punctuation:
            if (token->text == "$") {
                node->kind = Expression::Kind::here;
                return node;
            }
            if (token->text == "(") {
                if (++parentheses_ > maximum_expression_depth) {
                    fail("expression nested too deeply");
                    return nullptr;
                }
                auto inner = parse_binary(0);
                --parentheses_;
                if (!inner) {
                    return nullptr;
                }
                const Token* close = peek();
                if (!close || !is_punctuation(*close, ")")) {
                    fail("missing ')'");
                    return nullptr;
                }
                ++position_;
                return inner;
            }
            break;
        }
        fail("unexpected " + describe(*token) + " in expression");
        return nullptr;
    }

    const std::vector<Token>& tokens_;
    std::string& error_;
    std::size_t position_ = 0;
    int parentheses_ = 0;
};

} // namespace

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

std::string hex(std::int64_t value, int width) {
    std::ostringstream out;
    out << std::uppercase << std::hex;
    out.width(width);
    out.fill('0');
    out << value;
    return out.str();
}

// Splits a line into tokens, stopping at a comment. Returns an error message, or "".
std::string tokenize(std::string_view line, std::vector<Token>& tokens) {
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        const std::size_t start = i;
        if (c == ';') {
            break;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (is_identifier_start(c)) {
            while (i < line.size() && is_identifier_char(line[i])) {
                ++i;
            }
            const std::string_view name = line.substr(start, i - start);
            tokens.push_back({Token_Kind::identifier, upper(name), 0, start, std::string(name)});
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            while (i < line.size() && is_identifier_char(line[i])) {
                ++i;
            }
            const std::string_view text = line.substr(start, i - start);
            const auto value = parse_number(text);
            if (!value) {
                return "invalid number '" + std::string(text) + "'";
            }
            tokens.push_back(
                {Token_Kind::number, std::string(text), *value, start, std::string(text)});
        } else if (c == '\'' || c == '"') {
            // A quote inside a string is written twice.
            std::string text;
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    return "unterminated string";
                }
                if (line[i] == c) {
                    if (i + 1 < line.size() && line[i + 1] == c) {
                        text += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += line[i++];
            }
            tokens.push_back({Token_Kind::string, text, 0, start, text});
        } else if ((c == '<' || c == '>') && i + 1 < line.size() && line[i + 1] == c) {
            tokens.push_back(
                {Token_Kind::punctuation, std::string(2, c), 0, start, std::string(2, c)});
            i += 2;
        } else if (std::string_view("+-*/%&|^~(),:$").find(c) != std::string_view::npos) {
            tokens.push_back(
                {Token_Kind::punctuation, std::string(1, c), 0, start, std::string(1, c)});
            ++i;
        } else {
            return "unexpected character '" + Tools::printable(line.substr(i, 1)) + "'";
        }
    }
    return "";
}

bool is_punctuation(const Token& token, std::string_view text) {
    return token.kind == Token_Kind::punctuation && token.text == text;
}

std::string describe(const Token& token) {
    switch (token.kind) {
    case Token_Kind::string:
        return "string";
    default:
        return "'" + token.spelling + "'";
    }
}

Expression_Pointer parse_expression(const std::vector<Token>& tokens, std::string& error) {
    return Expression_Parser(tokens, error).parse_all();
}

} // namespace Asm8080
