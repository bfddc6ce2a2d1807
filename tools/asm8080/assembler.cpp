#include "tools/asm8080/assembler.hpp"
#include "tools/asm8080/instructions.hpp"
#include "tools/asm8080/syntax.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unordered_map>
#include <utility>

namespace Asm8080 {
namespace {

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

constexpr std::uint32_t memory_size = 0x10000;

// A chain of EQUs is evaluated one inside another: the depths of their expressions add up on the
// stack, so it is their sum that is bounded, not each expression alone.
constexpr int maximum_evaluation_depth = 1000;

enum class Read_Result { read, cannot_open, refused };

// Reads a whole source file of at most `limit` bytes into `text`. Only a regular file is read:
// a directory is not an empty source, and a device such as /dev/zero never ends. When the result
// is `refused`, `reason` says why ("it is a directory").
Read_Result read_source(const std::filesystem::path& path, std::size_t limit, std::string& text,
                        std::string& reason) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::directory) {
        reason = "it is a directory";
        return Read_Result::refused;
    }
    if (status.type() == fs::file_type::not_found || error) {
        return Read_Result::cannot_open;
    }
    if (status.type() != fs::file_type::regular) {
        reason = "it is not a regular file";
        return Read_Result::refused;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Read_Result::cannot_open;
    }
    // Read in pieces and no more than one past the limit, whatever size the file claims.
    text.clear();
    std::array<char, 65536> piece;
    while (in && text.size() <= limit) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        text.append(piece.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return Read_Result::cannot_open;
    }
    if (text.size() > limit) {
        text.clear();
        reason = "it is larger than the " + std::to_string(maximum_source_size >> 20) +
                 " MiB that a source and its included files may have together";
        return Read_Result::refused;
    }
    return Read_Result::read;
}

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
        loaded_ = source.size();
        load(source, file_name, 0);
        // A pass after a stop would see only part of the program and report phantom errors.
        if (!stopped_) {
            first_pass();
        }
        if (!stopped_) {
            second_pass();
        }
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

    // After maximum_errors the rest of the input is not worth reading: stop there.
    bool stop_for_errors() {
        if (program_.errors.size() >= maximum_errors) {
            stopped_ = true;
        }
        return stopped_;
    }

    // Reading the source -----------------------------------------------------------------------

    void load(std::string_view source, const std::string& file_name, int depth) {
        const int file = static_cast<int>(program_.files.size());
        program_.files.push_back(file_name);
        int line_number = 0;
        std::size_t start = 0;
        while (start < source.size() && !ended_ && !stop_for_errors()) {
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
            if (statements_.size() >= maximum_lines) {
                error_at(file, line_number,
                         "the source and its included files have more than " +
                             std::to_string(maximum_lines) + " lines",
                         statements_.size());
                stopped_ = true;
                return;
            }

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
            error_at(file, line,
                     "INCLUDE nested too deeply (is '" + escaped(path) + "' including itself?)",
                     statements_.size() - 1);
            return;
        }
        std::string text;
        std::string reason;
        switch (read_source(resolved, maximum_source_size - loaded_, text, reason)) {
        case Read_Result::cannot_open:
            return error_at(file, line,
                            "cannot open included file '" + escaped(resolved.string()) + "'",
                            statements_.size() - 1);
        case Read_Result::refused:
            return error_at(file, line,
                            "cannot read '" + escaped(resolved.string()) + "': " + reason,
                            statements_.size() - 1);
        case Read_Result::read:
            break;
        }
        loaded_ += text.size();
        load(text, resolved.string(), depth + 1);
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
        auto result = parse_expression(tokens, message);
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
                                        std::span<const std::string_view> allowed) {
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
        return register_operand(statement, operand, register_names);
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
        const Register_Field register_field = Asm8080::register_field(form);
        std::optional<int> field = 0;
        if (form == Form::mov) {
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
        } else if (!register_field.names.empty()) {
            field = register_operand(statement, operands[0], register_field.names);
        }
        if (!field) {
            return;
        }
        statement.opcode = static_cast<std::uint8_t>(
            instruction.opcode | static_cast<unsigned>(*field) << register_field.shift);
        statement.size = static_cast<std::uint32_t>(instruction_size(form));
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
            return symbol_value(expression.name, expression.spelling, failure);
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
        if (evaluation_depth_ + statement.operand->depth > maximum_evaluation_depth) {
            failure = {"'" + symbol.name + "' is defined through expressions nested too deeply",
                       true};
            return std::nullopt;
        }
        symbol.state = Symbol::State::resolving;
        ++resolving_;
        evaluation_depth_ += statement.operand->depth;
        const auto value = evaluate(*statement.operand, statement.address, failure);
        evaluation_depth_ -= statement.operand->depth;
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
        for (std::size_t i = 0; i < statements_.size() && !stop_for_errors(); ++i) {
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
                    if (here > memory_size) {
                        error(statement, "DS reserves space past the end of memory (FFFFH)");
                        here = memory_size;
                    }
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
        owner_.assign(memory_size, -1);
        memory_.assign(memory_size, 0);
        for (std::size_t i = 0; i < statements_.size() && !stop_for_errors(); ++i) {
            Statement& statement = statements_[i];
            Listing_Line& listed = program_.listing.emplace_back();
            listed.file = static_cast<std::size_t>(statement.file);
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
        if (program_.errors.size() > maximum_errors ||
            (stopped_ && program_.errors.size() == maximum_errors)) {
            program_.errors.resize(maximum_errors);
            program_.errors.push_back({"", 0, "too many errors; stopping"});
            program_.stopped = true;
        }
        for (const auto& [name, symbol] : symbols_) {
            if (!symbol.is_equ || symbol.state == Symbol::State::resolved) {
                program_.symbols[name] = static_cast<std::uint16_t>(symbol.value);
            }
        }
        if (!program_.errors.empty()) {
            return; // no image, and after a stop not even the memory to build one from
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
    }

    Options options_;
    Program program_;
    std::vector<Statement> statements_;
    std::unordered_map<std::string, Symbol> symbols_;
    bool ended_ = false;
    int resolving_ = 0;        // EQUs being resolved, one inside another
    int evaluation_depth_ = 0; // the sum of their expressions' depths
    std::size_t loaded_ = 0;   // bytes of source read, included files too
    bool stopped_ = false;     // too many errors, or too many lines: the rest is not read
    bool second_pass_ = false;
    std::optional<std::uint32_t> lowest_;
    std::vector<std::size_t> error_order_;
    std::vector<int> owner_;
    std::vector<std::uint8_t> memory_;
    std::uint32_t highest_ = 0;
    bool any_placed_ = false;
};

} // namespace

Program assemble(std::string_view source, const std::string& file_name, const Options& options) {
    return Assembler(options).run(source, file_name);
}

Program assemble_file(const std::string& file_name, const Options& options) {
    std::string text;
    std::string reason;
    switch (read_source(file_name, maximum_source_size, text, reason)) {
    case Read_Result::read:
        return assemble(text, file_name, options);
    case Read_Result::cannot_open: {
        Program program;
        program.files.push_back(file_name);
        program.errors.push_back({file_name, 0, "cannot open the file"});
        return program;
    }
    case Read_Result::refused:
        break;
    }
    Program program;
    program.files.push_back(file_name);
    program.errors.push_back({"", 0, "cannot read '" + escaped(file_name) + "': " + reason});
    return program;
}

} // namespace Asm8080
