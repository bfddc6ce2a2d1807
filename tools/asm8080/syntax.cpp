#include "tools/asm8080/syntax.hpp"

#include "formats/hex.hpp"
#include "tools/asm8080/instructions.hpp"
#include "tools/files/messages.hpp"
#include "tools/files/numbers.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

namespace Asm8080 {
namespace {

bool is_identifier_start(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '?' || c == '@' ||
           c == '.';
}

bool is_identifier_char(char c) {
    return is_identifier_start(c) || std::isdigit(static_cast<unsigned char>(c));
}

std::int64_t apply_unary(char op, std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    switch (op) {
    case '-':
        return static_cast<std::int64_t>(0 - bits);
    case '~': // and NOT
        return static_cast<std::int64_t>(~bits);
    case 'L': // LOW
        return value & 0xFF;
    case 'H': // HIGH
        return value >> 8 & 0xFF;
    default:
        return value;
    }
}

// The classic assemblers' truth values: all bits set, or none.
constexpr std::int64_t truth(bool holds) {
    return holds ? -1 : 0;
}

// EQ NE LT LE GT GE on the 16-bit values that words stand for, unsigned, as the classic
// assemblers compare them; nothing for another operator.
std::optional<std::int64_t> relation(std::string_view op, std::uint64_t a16, std::uint64_t b16) {
    if (op == "EQ") {
        return truth(a16 == b16);
    }
    if (op == "NE") {
        return truth(a16 != b16);
    }
    if (op == "LT") {
        return truth(a16 < b16);
    }
    if (op == "LE") {
        return truth(a16 <= b16);
    }
    if (op == "GT") {
        return truth(a16 > b16);
    }
    if (op == "GE") {
        return truth(a16 >= b16);
    }
    return std::nullopt;
}

// << >> SHL SHR.
std::optional<std::int64_t> shift(std::string_view op, std::int64_t left, std::int64_t right,
                                  Evaluation& evaluation) {
    if (right < 0 || right > 63) {
        evaluation.fail("shift count " + std::to_string(right) + " is out of range");
        return std::nullopt;
    }
    const auto a = static_cast<std::uint64_t>(left);
    const auto b = static_cast<std::uint64_t>(right);
    if (op == "SHR") { // the 16-bit value, zeros shifted in
        return static_cast<std::int64_t>((a & 0xFFFF) >> b);
    }
    return op == ">>" ? left >> right : static_cast<std::int64_t>(a << b);
}

// "/", "%" and MOD: truncating, as in C.
std::optional<std::int64_t> divide(std::string_view op, std::int64_t left, std::int64_t right,
                                   Evaluation& evaluation) {
    if (right == 0) {
        evaluation.fail("division by zero");
        return std::nullopt;
    }
    if (right == -1) {
        return op == "/" ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(left)) : 0;
    }
    return op == "/" ? left / right : left % right;
}

std::optional<std::int64_t> apply_binary(std::string_view op, std::int64_t left, std::int64_t right,
                                         Evaluation& evaluation) {
    const auto a = static_cast<std::uint64_t>(left);
    const auto b = static_cast<std::uint64_t>(right);
    if (op == "+") {
        return static_cast<std::int64_t>(a + b);
    }
    if (op == "-") {
        return static_cast<std::int64_t>(a - b);
    }
    if (op == "*") {
        return static_cast<std::int64_t>(a * b);
    }
    if (op == "&" || op == "AND") {
        return static_cast<std::int64_t>(a & b);
    }
    if (op == "|" || op == "OR") {
        return static_cast<std::int64_t>(a | b);
    }
    if (op == "^" || op == "XOR") {
        return static_cast<std::int64_t>(a ^ b);
    }
    if (const auto related = relation(op, a & 0xFFFF, b & 0xFFFF)) {
        return related;
    }
    if (op == "<<" || op == ">>" || op == "SHL" || op == "SHR") {
        return shift(op, left, right, evaluation);
    }
    return divide(op, left, right, evaluation);
}

// A recursive descent over the tokens as the lexer reads them. Without an evaluation it only
// checks the syntax and the depth; with one (on an expression already checked) it computes the
// value as it goes, operands before their operator, as a tree would be evaluated.
class Expression_Parser {
public:
    Expression_Parser(Lexer tokens, std::string& error, Evaluation* evaluation)
        : tokens_(tokens), error_(error), evaluation_(evaluation) {}

    struct Node {
        std::int64_t value = 0;
        int depth = 1;
    };

    std::optional<Node> parse_all() {
        advance();
        if (!current_) {
            fail("missing operand");
            return std::nullopt;
        }
        auto expression = parse_binary(0);
        if (expression && current_) {
            fail("unexpected " + describe(*current_) + " in expression");
            return std::nullopt;
        }
        if (!error_.empty()) {
            return std::nullopt;
        }
        return expression;
    }

private:
    // The binary operators by level, loosest first. The words keep the classic assemblers'
    // order, the symbols C's; NOT stands between AND and the relations.
    static constexpr std::array<std::array<std::string_view, 6>, 9> levels{{
        {"OR", "XOR"},
        {"AND"},
        {"EQ", "NE", "LT", "LE", "GT", "GE"},
        {"|"},
        {"^"},
        {"&"},
        {"<<", ">>"},
        {"+", "-"},
        {"*", "/", "%", "MOD", "SHL", "SHR"},
    }};
    static constexpr std::size_t not_level = 2; // NOT applies to this level and tighter ones

    static bool is_operator(const Token& token, std::string_view text) {
        return !text.empty() && token.text == text &&
               (token.kind == Token_Kind::punctuation || token.kind == Token_Kind::identifier);
    }

    // A prefix operator: - + ~ as symbols; HIGH, LOW and NOT as words. Returns its code for
    // apply_unary, or 0.
    static char prefix(const Token& token) {
        if (token.kind == Token_Kind::punctuation &&
            (token.text == "-" || token.text == "+" || token.text == "~")) {
            return token.text[0];
        }
        if (token.kind == Token_Kind::identifier) {
            if (token.text == "HIGH" || token.text == "LOW") {
                return token.text[0];
            }
            if (token.text == "NOT") {
                return '~';
            }
        }
        return 0;
    }

    const Token* peek() const { return current_ ? &*current_ : nullptr; }

    void advance() {
        if (!current_) {
            current_.emplace();
        }
        std::string message;
        level_ = levels.size();
        if (!tokens_.next(*current_, message)) {
            current_.reset();
            if (!message.empty()) {
                fail(message);
            }
            return;
        }
        for (std::size_t level = 0; level < levels.size(); ++level) {
            for (std::string_view op : levels[level]) {
                if (is_operator(*current_, op)) {
                    level_ = level;
                    return;
                }
            }
        }
    }

    void fail(const std::string& message) {
        if (error_.empty()) {
            error_ = message;
        }
    }

    // Operands joined by the operators of `level` and tighter ones, by precedence climbing: an
    // operand costs one call whatever the number of levels.
    std::optional<Node> parse_binary(std::size_t level) {
        const Token* first = peek();
        auto left =
            level <= not_level && first && is_operator(*first, "NOT") ? parse_not() : parse_unary();
        while (left && level_ < levels.size() && level_ >= level) {
            const std::size_t op_level = level_;
            const std::string op = current_->text;
            advance();
            const auto right = parse_binary(op_level + 1);
            if (!right) {
                return std::nullopt;
            }
            Node node{0, std::max(left->depth, right->depth) + 1};
            if (evaluation_) {
                const auto value = apply_binary(op, left->value, right->value, *evaluation_);
                if (!value) {
                    return std::nullopt;
                }
                node.value = *value;
            }
            left = checked(node);
        }
        return left;
    }

    // NOT x: the complement of a relation or anything tighter. Gathered in a loop, as the unary
    // operators are.
    std::optional<Node> parse_not() {
        int count = 0;
        for (const Token* token = peek(); token && is_operator(*token, "NOT"); token = peek()) {
            if (++count > maximum_expression_depth) {
                fail("expression nested too deeply");
                return std::nullopt;
            }
            advance();
        }
        auto operand = parse_binary(not_level);
        for (int k = 0; operand && k < count; ++k) {
            operand =
                checked({evaluation_ ? apply_unary('~', operand->value) : 0, operand->depth + 1});
        }
        return operand;
    }

    std::optional<Node> checked(Node node) {
        if (node.depth > maximum_expression_depth) {
            fail("expression nested too deeply");
            return std::nullopt;
        }
        return node;
    }

    // Unary operators are gathered in a loop, not by recursion, and count towards the same depth
    // limit as every other level, so that a long run of them cannot exhaust the stack.
    std::optional<Node> parse_unary() {
        std::string operators;
        for (const Token* token = peek(); token && prefix(*token) != 0; token = peek()) {
            if (static_cast<int>(operators.size()) >= maximum_expression_depth) {
                fail("expression nested too deeply");
                return std::nullopt;
            }
            operators += prefix(*token);
            advance();
        }
        auto operand = parse_primary();
        for (auto op = operators.rbegin(); operand && op != operators.rend(); ++op) {
            operand =
                checked({evaluation_ ? apply_unary(*op, operand->value) : 0, operand->depth + 1});
        }
        return operand;
    }

    std::optional<Node> parse_primary() {
        if (!current_) {
            fail("expression ends too early");
            return std::nullopt;
        }
        const Token token = std::move(*current_);
        advance();
        Node node;
        switch (token.kind) {
        case Token_Kind::number:
            node.value = token.value;
            return node;
        case Token_Kind::string:
            if (token.text.empty() || token.text.size() > 2) {
                fail("a character constant holds one or two characters");
                return std::nullopt;
            }
            for (char c : token.text) {
                node.value = node.value << 8 | static_cast<unsigned char>(c);
            }
            return node;
        case Token_Kind::identifier:
            return parse_symbol(token);
        case Token_Kind::punctuation:
            if (token.text == "$") {
                node.value = evaluation_ ? evaluation_->here() : 0;
                return node;
            }
            if (token.text == "(") {
                return parse_parenthesised();
            }
            break;
        }
        fail("unexpected " + describe(token) + " in expression");
        return std::nullopt;
    }

    std::optional<Node> parse_symbol(const Token& token) {
        // A register's or a mnemonic's name may be a label's ("daa:"): whether it is one, only
        // the symbols can say, when the value is needed.
        if (is_operator_word(token.text)) {
            fail("'" + token.spelling + "' cannot be used as a value");
            return std::nullopt;
        }
        Node node;
        if (evaluation_) {
            const auto value = evaluation_->symbol(token);
            if (!value) {
                return std::nullopt;
            }
            node.value = *value;
        }
        return node;
    }

    // After a '(': an expression and its ')'.
    std::optional<Node> parse_parenthesised() {
        if (++parentheses_ > maximum_expression_depth) {
            fail("expression nested too deeply");
            return std::nullopt;
        }
        auto inner = parse_binary(0);
        --parentheses_;
        if (!inner) {
            return std::nullopt;
        }
        const Token* close = peek();
        if (!close || !is_punctuation(*close, ")")) {
            fail("missing ')'");
            return std::nullopt;
        }
        advance();
        return inner;
    }

    Lexer tokens_;
    std::optional<Token> current_;
    std::size_t level_ = levels.size(); // of the current token as a binary operator; none
    std::string& error_;
    Evaluation* evaluation_;
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
    return Formats::hex(static_cast<std::uint64_t>(value), width);
}

namespace {

// Reads the string whose opening quote is at `i`, up to its closing quote, and moves `i` past it.
// A quote inside a string is written twice.
bool read_string(std::string_view line, std::size_t& i, std::string& text, std::string& error) {
    const char quote = line[i++];
    for (;;) {
        if (i >= line.size()) {
            error = "unterminated string";
            return false;
        }
        if (line[i] == quote) {
            if (i + 1 < line.size() && line[i + 1] == quote) {
                text += quote;
                i += 2;
                continue;
            }
            ++i;
            return true;
        }
        if (static_cast<unsigned char>(line[i]) >= 0x80) {
            // The whole character, for the message: its lead byte and what follows it.
            std::size_t last = i + 1;
            while (last < line.size() && last < i + 4 &&
                   (static_cast<unsigned char>(line[last]) & 0xC0) == 0x80) {
                ++last;
            }
            error = "'" + std::string(line.substr(i, last - i)) + "' is not ASCII";
            return false;
        }
        text += line[i++];
    }
}

} // namespace

bool Lexer::next(Token& token, std::string& error) {
    const std::string_view line = line_;
    std::size_t& i = position_;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) {
        ++i;
    }
    if (i >= line.size() || line[i] == ';') {
        i = line.size();
        return false;
    }
    const char c = line[i];
    const std::size_t start = i;
    const auto set = [&](Token_Kind kind, std::string text, std::int64_t value) {
        token.kind = kind;
        token.text = std::move(text);
        token.value = value;
        token.column = start;
        token.spelling.assign(line.substr(start, i - start));
        return true;
    };
    if (is_identifier_start(c)) {
        while (i < line.size() && is_identifier_char(line[i])) {
            ++i;
        }
        return set(Token_Kind::identifier, upper(line.substr(start, i - start)), 0);
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
        while (i < line.size() && is_identifier_char(line[i])) {
            ++i;
        }
        const std::string_view text = line.substr(start, i - start);
        const auto value = Tools::parse_number(text);
        if (!value) {
            error = "invalid number '" + std::string(text) + "'";
            return false;
        }
        return set(Token_Kind::number, std::string(text), *value);
    }
    if (c == '\'' || c == '"') {
        std::string text;
        if (!read_string(line, i, text, error)) {
            return false;
        }
        set(Token_Kind::string, text, 0);
        token.spelling = std::move(text);
        return true;
    }
    if ((c == '<' || c == '>') && i + 1 < line.size() && line[i + 1] == c) {
        i += 2;
        return set(Token_Kind::punctuation, std::string(2, c), 0);
    }
    if (std::string_view("+-*/%&|^~(),:$").find(c) != std::string_view::npos) {
        ++i;
        return set(Token_Kind::punctuation, std::string(1, c), 0);
    }
    error = "unexpected character '" + Tools::printable(line.substr(i, 1)) + "'";
    return false;
}

Operand_Reader::Operand_Reader(std::string_view line, std::size_t begin)
    : line_(line), position_(begin) {
    Token token;
    std::string error;
    done_ = !Lexer(line, begin).next(token, error);
}

bool Operand_Reader::next(Lexer& operand) {
    if (done_) {
        return false;
    }
    Lexer tokens(line_, position_);
    Token token;
    std::string error;
    int depth = 0;
    while (tokens.next(token, error)) {
        depth += is_punctuation(token, "(") - is_punctuation(token, ")");
        if (depth == 0 && is_punctuation(token, ",")) {
            operand = Lexer(line_, position_, token.column);
            position_ = tokens.position();
            return true;
        }
    }
    operand = Lexer(line_, position_);
    done_ = true;
    return true;
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

std::optional<int> parse_expression(Lexer tokens, std::string& error) {
    const auto node = Expression_Parser(tokens, error, nullptr).parse_all();
    return node ? std::optional<int>(node->depth) : std::nullopt;
}

std::optional<std::int64_t> evaluate_expression(Lexer tokens, Evaluation& evaluation) {
    std::string error;
    const auto node = Expression_Parser(tokens, error, &evaluation).parse_all();
    return node ? std::optional<std::int64_t>(node->value) : std::nullopt;
}

} // namespace Asm8080
