#include "tools/asm8080/assembler.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <unordered_map>
#include <utility>

namespace Asm8080 {
namespace {

// ---------------------------------------------------------------------------------------------
// Tokens

enum class Token_Kind { identifier, number, string, punctuation };

struct Token {
    Token_Kind kind;
    std::string text; // identifiers upper-case, strings unquoted, punctuation as written
    std::int64_t value = 0;
    std::size_t column = 0;
    std::string spelling; // as written
};

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

bool is_identifier_start(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '?' || c == '@' ||
           c == '.';
}

bool is_identifier_char(char c) {
    return is_identifier_start(c) || std::isdigit(static_cast<unsigned char>(c));
}

std::string hex(std::int64_t value, int width) {
    std::ostringstream out;
    out << std::uppercase << std::hex;
    out.width(width);
    out.fill('0');
    out << value;
    return out.str();
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
            return "unexpected character '" + std::string(1, c) + "'";
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

// ---------------------------------------------------------------------------------------------
// Registers and instructions

constexpr std::array<std::string_view, 8> register_names{"B", "C", "D", "E", "H", "L", "M", "A"};

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

const Instruction* find_instruction(std::string_view mnemonic) {
    for (const Instruction& instruction : instructions) {
        if (instruction.mnemonic == mnemonic) {
            return &instruction;
        }
    }
    return nullptr;
}

enum class Directive { none, org, equ, db, dw, ds, end, include };

Directive find_directive(std::string_view name) {
    static const std::unordered_map<std::string_view, Directive> directives{
        {"ORG", Directive::org},        {"EQU", Directive::equ}, {"DB", Directive::db},
        {"DW", Directive::dw},          {"DS", Directive::ds},   {"END", Directive::end},
        {"INCLUDE", Directive::include}};
    const auto found = directives.find(name);
    return found == directives.end() ? Directive::none : found->second;
}

bool is_reserved(std::string_view name) {
    return is_register_name(name) || find_instruction(name) ||
           find_directive(name) != Directive::none;
}

// ---------------------------------------------------------------------------------------------
// Expressions
//
// Operators, from the loosest binding to the tightest (as in C; all binary ones left to right):
//     |    ^    &    << >>    + -    * / %    unary - + ~    ( ) LOW( ) HIGH( )
// Values are 64-bit signed integers that wrap on overflow; each use checks the range it needs.
// Operands: numbers, 'c' characters ('ab' is 'a' * 256 + 'b'), symbols and $, the address of
// the current statement.

struct Expression {
    enum class Kind { number, symbol, here, unary, binary };
    Kind kind = Kind::number;
    std::int64_t value = 0;
    std::string name; // symbol (upper-case)
    std::string op;   // operator of a unary or binary node; LOW or HIGH; a symbol's spelling
    std::unique_ptr<Expression> left, right;
    int depth = 1; // of the tree below and including this node
};

// Deeper expressions are refused, so that parsing and evaluating them cannot exhaust the stack.
constexpr int maximum_expression_depth = 200;

using Expression_Pointer = std::unique_ptr<Expression>;

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

    Expression_Pointer parse_unary() {
        const Token* token = peek();
        if (token && (is_punctuation(*token, "-") || is_punctuation(*token, "+") ||
                      is_punctuation(*token, "~"))) {
            ++position_;
            auto operand = parse_unary();
            if (!operand) {
                return nullptr;
            }
            auto node = std::make_unique<Expression>();
            node->kind = Expression::Kind::unary;
            node->op = token->text;
            node->depth = operand->depth + 1;
            node->left = std::move(operand);
            return checked(std::move(node));
        }
        return parse_primary();
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
            node->op = token->spelling;
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

// ---------------------------------------------------------------------------------------------
// Statements

// A DB item: a string's bytes, or one expression.
struct Data_Item {
    std::string text;
    Expression_Pointer expression;
};

struct Statement {
    int file = 0;
    int line = 0;
    std::string text;

    bool valid = true;
    std::string label; // upper-case
    std::string label_spelling;
    Directive directive = Directive::none;
    const Instruction* instruction = nullptr;
    std::uint8_t opcode = 0;
    Expression_Pointer operand; // instruction operand, or ORG / EQU / DS value
    std::vector<Data_Item> items;
    std::string include_path;

    std::uint32_t address = 0;
    std::uint32_t size = 0;
};

struct Symbol {
    std::string name;
    int statement = 0; // index of the defining statement
    bool is_equ = false;
    std::int64_t value = 0;
    enum class State { unresolved, resolving, resolved, failed } state = State::unresolved;
};

// ---------------------------------------------------------------------------------------------
// The assembler

class Assembler {
public:
    explicit Assembler(const Options& options) : options_(options) {}

    Program run(std::string_view source, const std::string& file_name) {
        load(source, file_name, 0);
        first_pass();
        second_pass();
        finish();
        return std::move(program_);
    }

private:
    // Why an evaluation failed. An empty message means the cause is reported on another line.
    // A failure of the definitions themselves (circular, too deep) is reported wherever it is met.
    struct Failure {
        std::string message;
        bool in_definitions = false;
    };

    // Errors are collected with the index of their statement and reported in source order.
    void error(const Statement& statement, const std::string& message) {
        error_at(statement.file, statement.line, message,
                 static_cast<std::size_t>(&statement - statements_.data()));
    }

    void error_at(int file, int line, const std::string& message, std::size_t order) {
        program_.errors.push_back({program_.files[static_cast<std::size_t>(file)], line, message});
        error_order_.push_back(order);
    }

    // Reading the source -----------------------------------------------------------------------

    void load(std::string_view source, const std::string& file_name, int depth) {
        const int file = static_cast<int>(program_.files.size());
        program_.files.push_back(file_name);
        int line_number = 0;
        std::size_t start = 0;
        while (start < source.size() && !ended_) {
            std::size_t end = source.find('\n', start);
            if (end == std::string_view::npos) {
                end = source.size();
            }
            std::string_view line = source.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            start = end + 1;
            ++line_number;

            Statement& statement = statements_.emplace_back();
            statement.file = file;
            statement.line = line_number;
            statement.text = std::string(line);
            parse(statement);
            const bool include = statement.valid && statement.directive == Directive::include;
            const std::string include_path = statement.include_path;
            if (include) {
                load_include(include_path, file_name, file, line_number, depth);
            }
        }
    }

    void load_include(const std::string& path, const std::string& from, int file, int line,
                      int depth) {
        namespace fs = std::filesystem;
        const fs::path resolved = fs::path(from).parent_path() / path;
        if (depth >= 16) {
            error_at(file, line, "INCLUDE nested too deeply (is '" + path + "' including itself?)",
                     statements_.size() - 1);
            return;
        }
        std::ifstream in(resolved, std::ios::binary);
        if (!in) {
            error_at(file, line, "cannot open included file '" + resolved.string() + "'",
                     statements_.size() - 1);
            return;
        }
        std::ostringstream text;
        text << in.rdbuf();
        load(text.str(), resolved.string(), depth + 1);
    }

    void parse(Statement& statement) {
        std::vector<Token> tokens;
        if (const std::string message = tokenize(statement.text, tokens); !message.empty()) {
            return invalid(statement, message);
        }
        std::size_t i = 0;
        const auto identifier_at = [&](std::size_t k) {
            return k < tokens.size() && tokens[k].kind == Token_Kind::identifier;
        };
        const auto is_operation = [](const std::string& name) {
            return find_instruction(name) || find_directive(name) != Directive::none;
        };
        if (identifier_at(0)) {
            const std::string& first = tokens[0].text;
            const bool colon = tokens.size() > 1 && is_punctuation(tokens[1], ":");
            const bool before_operation = identifier_at(1) && is_operation(tokens[1].text);
            const bool before_equ = identifier_at(1) && tokens[1].text == "EQU";
            if (colon || before_equ ||
                (!is_operation(first) && (tokens[0].column == 0 || before_operation))) {
                if (is_reserved(first)) {
                    return invalid(statement, "'" + tokens[0].spelling +
                                                  "' is a reserved word and cannot be a label");
                }
                statement.label = first;
                statement.label_spelling = tokens[0].spelling;
                i = colon ? 2 : 1;
            }
        }
        if (i == tokens.size()) {
            return;
        }
        if (tokens[i].kind != Token_Kind::identifier) {
            return invalid(statement, "expected an instruction, found " + describe(tokens[i]));
        }
        const std::string mnemonic = tokens[i].text;
        std::vector<std::vector<Token>> operands;
        if (i + 1 < tokens.size()) {
            operands.emplace_back();
            int depth = 0;
            for (std::size_t k = i + 1; k < tokens.size(); ++k) {
                const Token& token = tokens[k];
                depth += is_punctuation(token, "(") - is_punctuation(token, ")");
                if (depth == 0 && is_punctuation(token, ",")) {
                    operands.emplace_back();
                } else {
                    operands.back().push_back(token);
                }
            }
        }
        if (const Instruction* instruction = find_instruction(mnemonic)) {
            statement.instruction = instruction;
            return parse_instruction(statement, operands);
        }
        statement.directive = find_directive(mnemonic);
        if (statement.directive == Directive::none) {
            return invalid(statement, "unknown mnemonic '" + tokens[i].spelling + "'");
        }
        parse_directive(statement, mnemonic, operands);
    }

    void invalid(Statement& statement, const std::string& message) {
        statement.valid = false;
        error(statement, message);
    }

    Expression_Pointer expression(Statement& statement, const std::vector<Token>& tokens) {
        std::string message;
        auto result = Expression_Parser(tokens, message).parse_all();
        if (!result) {
            invalid(statement, message);
        }
        return result;
    }

    bool expect_operands(Statement& statement, const std::string& name,
                         const std::vector<std::vector<Token>>& operands, std::size_t count) {
        if (operands.size() == count) {
            return true;
        }
        if (count == 0) {
            invalid(statement, name + " takes no operands");
        } else {
            invalid(statement, name + " takes " + std::to_string(count) + " operand" +
                                   (count == 1 ? "" : "s") + ", found " +
                                   std::to_string(operands.size()));
        }
        return false;
    }

    // The register an operand names, from `allowed` (whose position is its code), or nothing.
    std::optional<int> register_operand(Statement& statement, const std::vector<Token>& operand,
                                        std::initializer_list<std::string_view> allowed) {
        if (operand.size() == 1 && operand[0].kind == Token_Kind::identifier) {
            int code = 0;
            for (std::string_view name : allowed) {
                if (operand[0].text == name) {
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
        const std::string found = operand.empty() ? std::string("nothing") : describe(operand[0]);
        invalid(statement, std::string(statement.instruction->mnemonic) + " expects " + names +
                               ", found " + found);
        return std::nullopt;
    }

    std::optional<int> single_register(Statement& statement, const std::vector<Token>& operand) {
        return register_operand(statement, operand, {"B", "C", "D", "E", "H", "L", "M", "A"});
    }

    void parse_instruction(Statement& statement, const std::vector<std::vector<Token>>& operands) {
        const Instruction& instruction = *statement.instruction;
        const Form form = instruction.form;
        const std::size_t count = form == Form::none                                            ? 0
                                  : form == Form::mov || form == Form::mvi || form == Form::lxi ? 2
                                                                                                : 1;
        if (!expect_operands(statement, std::string(instruction.mnemonic), operands, count)) {
            return;
        }
        // The register field, where the form has one, is merged into the opcode.
        std::optional<int> field = 0;
        int shift = 0;
        switch (form) {
        case Form::reg_mid:
        case Form::mvi:
            field = single_register(statement, operands[0]);
            shift = 3;
            break;
        case Form::reg_low:
            field = single_register(statement, operands[0]);
            break;
        case Form::mov: {
            const auto destination = single_register(statement, operands[0]);
            const auto source =
                destination ? single_register(statement, operands[1]) : std::nullopt;
            if (!source) {
                return;
            }
            if (*destination == 6 && *source == 6) {
                return invalid(statement, "MOV M,M is not an instruction");
            }
            field = *destination << 3 | *source;
            break;
        }
        case Form::pair:
        case Form::lxi:
            field = register_operand(statement, operands[0], {"B", "D", "H", "SP"});
            shift = 4;
            break;
        case Form::push_pop:
            field = register_operand(statement, operands[0], {"B", "D", "H", "PSW"});
            shift = 4;
            break;
        case Form::bd_pair:
            field = register_operand(statement, operands[0], {"B", "D"});
            shift = 4;
            break;
        default:
            break;
        }
        if (!field) {
            return;
        }
        statement.opcode = static_cast<std::uint8_t>(instruction.opcode | *field << shift);
        statement.size = form == Form::mvi || form == Form::immediate ? 2
                         : form == Form::lxi || form == Form::address ? 3
                                                                      : 1;
        if (form == Form::mvi || form == Form::lxi || form == Form::immediate ||
            form == Form::address || form == Form::restart) {
            statement.operand = expression(statement, operands.back());
        }
    }

    void parse_directive(Statement& statement, const std::string& name,
                         const std::vector<std::vector<Token>>& operands) {
        switch (statement.directive) {
        case Directive::org:
        case Directive::ds:
        case Directive::equ:
            if (statement.directive == Directive::equ && statement.label.empty()) {
                return invalid(statement, "EQU needs a name");
            }
            if (expect_operands(statement, name, operands, 1)) {
                statement.operand = expression(statement, operands[0]);
            }
            break;
        case Directive::db:
        case Directive::dw:
            if (operands.empty()) {
                return invalid(statement, name + " needs at least one value");
            }
            for (const auto& operand : operands) {
                Data_Item item;
                if (statement.directive == Directive::db && operand.size() == 1 &&
                    operand[0].kind == Token_Kind::string && operand[0].text.size() != 1) {
                    item.text = operand[0].text;
                    statement.size += static_cast<std::uint32_t>(item.text.size());
                } else {
                    item.expression = expression(statement, operand);
                    if (!item.expression) {
                        return;
                    }
                    statement.size += statement.directive == Directive::db ? 1 : 2;
                }
                statement.items.push_back(std::move(item));
            }
            break;
        case Directive::end:
            expect_operands(statement, name, operands, 0);
            ended_ = true;
            break;
        case Directive::include:
            if (!expect_operands(statement, name, operands, 1)) {
                return;
            }
            if (operands[0].size() != 1 || operands[0][0].kind != Token_Kind::string) {
                return invalid(statement, "INCLUDE expects a quoted file name");
            }
            statement.include_path = operands[0][0].text;
            break;
        case Directive::none:
            break;
        }
    }

    // Evaluation -------------------------------------------------------------------------------

    std::optional<std::int64_t> evaluate(const Expression& expression, std::uint32_t here,
                                         Failure& failure) {
        switch (expression.kind) {
        case Expression::Kind::number:
            return expression.value;
        case Expression::Kind::here:
            return here;
        case Expression::Kind::symbol:
            return symbol_value(expression.name, expression.op, failure);
        case Expression::Kind::unary: {
            const auto value = evaluate(*expression.left, here, failure);
            if (!value) {
                return std::nullopt;
            }
            const auto bits = static_cast<std::uint64_t>(*value);
            if (expression.op == "-") {
                return static_cast<std::int64_t>(0 - bits);
            }
            if (expression.op == "~") {
                return static_cast<std::int64_t>(~bits);
            }
            if (expression.op == "LOW") {
                return *value & 0xFF;
            }
            if (expression.op == "HIGH") {
                return *value >> 8 & 0xFF;
            }
            return *value;
        }
        case Expression::Kind::binary:
            break;
        }
        const auto left = evaluate(*expression.left, here, failure);
        if (!left) {
            return std::nullopt;
        }
        const auto right = evaluate(*expression.right, here, failure);
        if (!right) {
            return std::nullopt;
        }
        const auto a = static_cast<std::uint64_t>(*left);
        const auto b = static_cast<std::uint64_t>(*right);
        const std::string& op = expression.op;
        if (op == "+") {
            return static_cast<std::int64_t>(a + b);
        }
        if (op == "-") {
            return static_cast<std::int64_t>(a - b);
        }
        if (op == "*") {
            return static_cast<std::int64_t>(a * b);
        }
        if (op == "&") {
            return static_cast<std::int64_t>(a & b);
        }
        if (op == "|") {
            return static_cast<std::int64_t>(a | b);
        }
        if (op == "^") {
            return static_cast<std::int64_t>(a ^ b);
        }
        if (op == "<<" || op == ">>") {
            if (*right < 0 || *right > 63) {
                failure = {"shift count " + std::to_string(*right) + " is out of range"};
                return std::nullopt;
            }
            return op == "<<" ? static_cast<std::int64_t>(a << b) : *left >> *right;
        }
        // "/" and "%": truncating, as in C.
        if (*right == 0) {
            failure = {"division by zero"};
            return std::nullopt;
        }
        if (*right == -1) {
            return op == "/" ? static_cast<std::int64_t>(0 - a) : 0;
        }
        return op == "/" ? *left / *right : *left % *right;
    }

    std::optional<std::int64_t> symbol_value(const std::string& name, const std::string& spelling,
                                             Failure& failure) {
        const auto found = symbols_.find(name);
        if (found == symbols_.end()) {
            failure = {second_pass_ ? "undefined symbol '" + spelling + "'"
                                    : "'" + spelling + "' must be defined on an earlier line"};
            return std::nullopt;
        }
        Symbol& symbol = found->second;
        if (!symbol.is_equ || symbol.state == Symbol::State::resolved) {
            return symbol.value;
        }
        if (symbol.state == Symbol::State::failed) {
            failure = {};
            return std::nullopt;
        }
        if (symbol.state == Symbol::State::resolving) {
            failure = {"circular definition of '" + symbol.name + "'", true};
            return std::nullopt;
        }
        const auto value = resolve(symbol, failure);
        if (!value && second_pass_ && !failure.in_definitions) {
            failure = {}; // the EQU's own line reports it
        }
        return value;
    }

    std::optional<std::int64_t> resolve(Symbol& symbol, Failure& failure) {
        const Statement& statement = statements_[static_cast<std::size_t>(symbol.statement)];
        if (resolving_ >= maximum_expression_depth) {
            failure = {"'" + symbol.name + "' is defined through too many other EQUs", true};
            return std::nullopt;
        }
        symbol.state = Symbol::State::resolving;
        ++resolving_;
        const auto value = evaluate(*statement.operand, statement.address, failure);
        --resolving_;
        if (value) {
            symbol.value = *value;
            symbol.state = Symbol::State::resolved;
        } else {
            symbol.state = second_pass_ ? Symbol::State::failed : Symbol::State::unresolved;
        }
        return value;
    }

    // Evaluates an operand and checks its range; reports failures.
    std::optional<std::int64_t> value_in(const Statement& statement, const Expression& expression,
                                         std::int64_t low, std::int64_t high, const char* what) {
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

    // Pass 1: addresses and labels ------------------------------------------------------------

    void define(const Statement& statement, int index, bool is_equ) {
        if (statement.label.empty()) {
            return;
        }
        const auto [found, inserted] = symbols_.try_emplace(statement.label);
        if (!inserted) {
            const Statement& first = statements_[static_cast<std::size_t>(found->second.statement)];
            std::string where = "line " + std::to_string(first.line);
            if (first.file != statement.file) {
                where = program_.files[static_cast<std::size_t>(first.file)] + ":" +
                        std::to_string(first.line);
            }
            error(statement, "duplicate label '" + statement.label_spelling +
                                 "' (first defined on " + where + ")");
            return;
        }
        found->second.name = statement.label_spelling;
        found->second.statement = index;
        found->second.is_equ = is_equ;
        found->second.value = statement.address;
    }

    void first_pass() {
        std::uint32_t here = 0;
        for (std::size_t i = 0; i < statements_.size(); ++i) {
            Statement& statement = statements_[i];
            statement.address = here;
            const int index = static_cast<int>(i);
            if (!statement.valid) {
                define(statement, index, false);
                continue;
            }
            switch (statement.directive) {
            case Directive::org:
                if (const auto value =
                        value_in(statement, *statement.operand, 0, 0xFFFF, "an address")) {
                    here = static_cast<std::uint32_t>(*value);
                    statement.address = here;
                }
                define(statement, index, false);
                break;
            case Directive::equ:
                define(statement, index, true);
                break;
            case Directive::ds:
                define(statement, index, false);
                if (const auto value =
                        value_in(statement, *statement.operand, 0, 0xFFFF, "a size")) {
                    here += static_cast<std::uint32_t>(*value);
                }
                break;
            default:
                define(statement, index, false);
                here += statement.size;
                break;
            }
            const bool occupies = statement.size > 0 || (statement.directive == Directive::ds &&
                                                         here > statement.address);
            if (occupies && (!lowest_ || statement.address < *lowest_)) {
                lowest_ = statement.address;
            }
        }
    }

    // Pass 2: code and data -------------------------------------------------------------------

    void second_pass() {
        second_pass_ = true;
        program_.base = options_.base.value_or(static_cast<std::uint16_t>(lowest_.value_or(0)));
        owner_.assign(0x10000, -1);
        memory_.assign(0x10000, 0);
        for (std::size_t i = 0; i < statements_.size(); ++i) {
            Statement& statement = statements_[i];
            Listing_Line& listed = program_.listing.emplace_back();
            listed.line = statement.line;
            listed.text = statement.text;
            if (!statement.valid) {
                continue;
            }
            const bool has_address =
                statement.instruction || !statement.label.empty() ||
                statement.directive == Directive::org || statement.directive == Directive::db ||
                statement.directive == Directive::dw || statement.directive == Directive::ds;
            if (statement.directive == Directive::equ) {
                Symbol& symbol = symbols_.at(statement.label);
                if (symbol.statement == static_cast<int>(i) &&
                    symbol.state != Symbol::State::resolved) {
                    Failure failure;
                    if (!resolve(symbol, failure) && !failure.message.empty()) {
                        error(statement, failure.message);
                    }
                }
                if (symbol.statement == static_cast<int>(i) &&
                    symbol.state == Symbol::State::resolved) {
                    listed.value = static_cast<std::uint16_t>(symbol.value);
                }
                continue;
            }
            if (has_address && statement.address <= 0xFFFF) {
                listed.address = static_cast<std::uint16_t>(statement.address);
            }
            std::vector<std::uint8_t> bytes;
            emit_statement(statement, bytes);
            place(statement, static_cast<int>(i), bytes);
            listed.bytes = std::move(bytes);
        }
    }

    void emit_statement(const Statement& statement, std::vector<std::uint8_t>& bytes) {
        const auto push_word = [&](std::int64_t value) {
            bytes.push_back(static_cast<std::uint8_t>(value));
            bytes.push_back(static_cast<std::uint8_t>(value >> 8));
        };
        if (statement.instruction) {
            std::uint8_t opcode = statement.opcode;
            std::int64_t value = 0;
            switch (statement.instruction->form) {
            case Form::mvi:
            case Form::immediate:
                value = value_in(statement, *statement.operand, -128, 255, "a byte").value_or(0);
                break;
            case Form::lxi:
            case Form::address:
                value =
                    value_in(statement, *statement.operand, -32768, 65535, "a word").value_or(0);
                break;
            case Form::restart:
                if (const auto number =
                        value_in(statement, *statement.operand, 0, 7, "RST (0 to 7)")) {
                    opcode = static_cast<std::uint8_t>(opcode | *number << 3);
                }
                break;
            default:
                break;
            }
            bytes.push_back(opcode);
            if (statement.size == 2) {
                bytes.push_back(static_cast<std::uint8_t>(value));
            } else if (statement.size == 3) {
                push_word(value);
            }
            return;
        }
        for (const Data_Item& item : statement.items) {
            if (!item.expression) {
                bytes.insert(bytes.end(), item.text.begin(), item.text.end());
            } else if (statement.directive == Directive::db) {
                bytes.push_back(static_cast<std::uint8_t>(
                    value_in(statement, *item.expression, -128, 255, "a byte").value_or(0)));
            } else {
                push_word(
                    value_in(statement, *item.expression, -32768, 65535, "a word").value_or(0));
            }
        }
    }

    // Writes a statement's bytes into memory, checking the image's bounds and overlaps.
    void place(const Statement& statement, int index, const std::vector<std::uint8_t>& bytes) {
        if (bytes.empty()) {
            return;
        }
        const std::uint32_t first = statement.address;
        const std::uint32_t last = first + static_cast<std::uint32_t>(bytes.size()) - 1;
        if (last > 0xFFFF) {
            return error(statement, "code runs past the end of memory (FFFFH)");
        }
        if (first < program_.base) {
            return error(statement, "code at " + hex(first, 4) + "H lies below the image start " +
                                        hex(program_.base, 4) + "H");
        }
        if (options_.size && last - program_.base >= *options_.size) {
            return error(
                statement,
                "code at " +
                    hex(std::max(first, program_.base + static_cast<std::uint32_t>(*options_.size)),
                        4) +
                    "H is past the end of the " + std::to_string(*options_.size) + "-byte image");
        }
        for (std::uint32_t address = first; address <= last; ++address) {
            if (owner_[address] >= 0) {
                const Statement& other = statements_[static_cast<std::size_t>(owner_[address])];
                return error(statement, "code at " + hex(address, 4) +
                                            "H overlaps code from line " +
                                            std::to_string(other.line));
            }
        }
        for (std::uint32_t address = first; address <= last; ++address) {
            owner_[address] = index;
            memory_[address] = bytes[address - first];
            highest_ = std::max(highest_, address);
            any_placed_ = true;
        }
    }

    void finish() {
        std::vector<std::size_t> positions(program_.errors.size());
        for (std::size_t k = 0; k < positions.size(); ++k) {
            positions[k] = k;
        }
        std::stable_sort(positions.begin(), positions.end(), [&](std::size_t x, std::size_t y) {
            return error_order_[x] < error_order_[y];
        });
        std::vector<Diagnostic> sorted;
        for (std::size_t k : positions) {
            sorted.push_back(std::move(program_.errors[k]));
        }
        program_.errors = std::move(sorted);
        for (const auto& [name, symbol] : symbols_) {
            if (!symbol.is_equ || symbol.state == Symbol::State::resolved) {
                program_.symbols[name] = static_cast<std::uint16_t>(symbol.value);
            }
        }
        std::size_t length =
            any_placed_ && highest_ >= program_.base ? highest_ - program_.base + 1 : 0;
        if (options_.size) {
            length = *options_.size;
        }
        program_.image.assign(length, 0);
        for (std::size_t k = 0; k < length && program_.base + k <= 0xFFFF; ++k) {
            program_.image[k] = memory_[program_.base + k];
        }
        if (!program_.errors.empty()) {
            program_.image.clear();
        }
    }

    Options options_;
    Program program_;
    std::vector<Statement> statements_;
    std::unordered_map<std::string, Symbol> symbols_;
    bool ended_ = false;
    int resolving_ = 0; // EQUs being resolved, one inside another
    bool second_pass_ = false;
    std::optional<std::uint32_t> lowest_;
    std::vector<std::size_t> error_order_;
    std::vector<int> owner_;
    std::vector<std::uint8_t> memory_;
    std::uint32_t highest_ = 0;
    bool any_placed_ = false;
};

std::string cpp_array(const Program& program, std::string_view name, bool header,
                      std::string_view source_name) {
    const std::size_t split = name.rfind("::");
    const std::string_view space = split == std::string_view::npos ? "" : name.substr(0, split);
    const std::string_view identifier =
        split == std::string_view::npos ? name : name.substr(split + 2);
    const std::string type =
        "std::array<std::uint8_t, " + std::to_string(program.image.size()) + ">";
    std::ostringstream out;
    out << "// Generated by asm8080 from " << source_name << ". Do not edit.\n";
    if (header) {
        out << "#pragma once\n";
    }
    out << "\n#include <array>\n#include <cstdint>\n\n";
    if (!space.empty()) {
        out << "namespace " << space << " {\n\n";
    }
    if (header) {
        out << "inline constexpr " << type << " " << identifier << "{";
    } else {
        out << "extern const " << type << " " << identifier << ";\n";
        out << "constexpr " << type << " " << identifier << "{";
    }
    for (std::size_t i = 0; i < program.image.size(); ++i) {
        out << (i % 16 == 0 ? "\n    " : " ") << "0x" << hex(program.image[i], 2) << ",";
    }
    out << "\n};\n";
    if (!space.empty()) {
        out << "\n} // namespace " << space << "\n";
    }
    return out.str();
}

} // namespace

Program assemble(std::string_view source, const std::string& file_name, const Options& options) {
    return Assembler(options).run(source, file_name);
}

Program assemble_file(const std::string& file_name, const Options& options) {
    std::ifstream in(file_name, std::ios::binary);
    if (!in) {
        Program program;
        program.files.push_back(file_name);
        program.errors.push_back({file_name, 0, "cannot open the file"});
        return program;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return assemble(text.str(), file_name, options);
}

std::string format_diagnostic(const Diagnostic& diagnostic) {
    if (diagnostic.line == 0) {
        return diagnostic.file + ": " + diagnostic.message;
    }
    return diagnostic.file + ":" + std::to_string(diagnostic.line) + ": " + diagnostic.message;
}

std::string format_listing(const Program& program) {
    // Columns: address (or "=value" for EQU), up to four bytes, line number, source text.
    std::ostringstream out;
    const auto row = [&out](std::string text) {
        text.erase(text.find_last_not_of(" \t") + 1);
        out << text << "\n";
    };
    for (const Listing_Line& line : program.listing) {
        const auto bytes_from = [&line](std::size_t start) {
            std::string text;
            for (std::size_t k = start; k < std::min(start + 4, line.bytes.size()); ++k) {
                text += hex(line.bytes[k], 2) + " ";
            }
            text.resize(12, ' ');
            return text;
        };
        std::string address = line.value     ? "=" + hex(*line.value, 4)
                              : line.address ? hex(*line.address, 4) + " "
                                             : std::string(5, ' ');
        std::string number = std::to_string(line.line);
        number.insert(0, number.size() < 5 ? 5 - number.size() : 0, ' ');
        row(address + " " + bytes_from(0) + number + "  " + line.text);
        for (std::size_t k = 4; k < line.bytes.size(); k += 4) {
            row(hex(line.address.value_or(0) + static_cast<std::int64_t>(k), 4) + "  " +
                bytes_from(k));
        }
    }
    if (!program.symbols.empty()) {
        out << "\nSymbols:\n";
        for (const auto& [name, value] : program.symbols) {
            row(hex(value, 4) + "  " + name);
        }
    }
    return out.str();
}

bool is_valid_cpp_name(std::string_view qualified_name) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = qualified_name.find("::", start);
        const std::string_view part = qualified_name.substr(start, end - start);
        if (part.empty() || std::isdigit(static_cast<unsigned char>(part[0]))) {
            return false;
        }
        for (char c : part) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
                return false;
            }
        }
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 2;
    }
}

std::string format_cpp_header(const Program& program, std::string_view qualified_name,
                              std::string_view source_name) {
    return cpp_array(program, qualified_name, true, source_name);
}

std::string format_cpp_source(const Program& program, std::string_view qualified_name,
                              std::string_view source_name) {
    return cpp_array(program, qualified_name, false, source_name);
}

} // namespace Asm8080
