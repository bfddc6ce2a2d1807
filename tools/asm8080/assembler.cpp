#include "tools/asm8080/assembler.hpp"
#include "tools/asm8080/instructions.hpp"
#include "tools/asm8080/syntax.hpp"
#include "tools/files/input_file.hpp"
#include "tools/files/messages.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <utility>

namespace Asm8080 {
namespace {

// ---------------------------------------------------------------------------------------------
// Statements

// A statement keeps no tokens and no expression trees, only where its parts lie in its line:
// expressions are parsed again, from the text, when they are evaluated. So a line of millions of
// operands costs its text and a few numbers, not a structure many times its size.
// There may be a million of them: the fields are ordered to pack.
struct Statement {
    std::string_view text;  // in Program::sources
    std::string_view label; // as written
    const Instruction* instruction = nullptr;
    int file = 0;
    int line = 0;
    // The instruction's operand, or the ORG / EQU / DS value: where it lies in `text`, and its
    // depth (0: none). DB and DW items are read again from `operands`, where the operands start.
    std::uint32_t expression_begin = 0;
    std::uint32_t expression_end = 0;
    std::uint32_t operands = 0;
    std::uint32_t address = 0;
    std::uint32_t size = 0;
    std::uint8_t depth = 0;
    std::uint8_t opcode = 0;
    Directive directive = Directive::none;
    bool valid = true;

    Lexer expression() const { return Lexer(text, expression_begin, expression_end); }
};

constexpr std::uint32_t memory_size = 0x10000;
static_assert(maximum_expression_depth <= 255, "Statement::depth holds the depth of an expression");

// A chain of EQUs is evaluated one inside another: the depths of their expressions add up on the
// stack, so it is their sum that is bounded, not each expression alone.
constexpr int maximum_evaluation_depth = 1000;

enum class Read_Result { read, cannot_open, refused };

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// The line that starts at `start`, which moves past its end: LF, CR LF or a lone CR (as older
// editors end lines).
std::string_view next_line(std::string_view source, std::size_t& start) {
    std::size_t end = source.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
        end = source.size();
    }
    const std::string_view line = source.substr(start, end - start);
    start = end + (source.substr(end, 2) == "\r\n" ? 2 : 1);
    return line;
}

// Reads a whole source file of at most `limit` bytes into `text`, reading no more than one byte
// past it. Only a regular file is read: a directory is not an empty source, nor is a device such
// as /dev/zero. When the result is `refused`, `reason` says why ("it is a directory").
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
    Tools::Input input = Tools::read_at_most(path, limit);
    if (input.error) {
        return Read_Result::cannot_open;
    }
    if (input.longer) {
        reason = "it is larger than the " + std::to_string(maximum_source_size >> 20) +
                 " MiB that a source and its included files may have together";
        return Read_Result::refused;
    }
    text = std::move(input.bytes);
    return Read_Result::read;
}

struct Symbol {
    int statement = 0; // index of the defining statement, which has the name as written
    bool is_equ = false;
    std::int64_t value = 0;
    enum class State { unresolved, resolving, resolved, failed } state = State::unresolved;
};
// ---------------------------------------------------------------------------------------------
// The assembler

class Assembler {
public:
    explicit Assembler(const Options& options) : options_(options) {}

    Program run(std::string&& text, const std::string& file_name) {
        program_.sources.push_back(std::make_unique<const std::string>(std::move(text)));
        const std::string_view source = *program_.sources.back();
        loaded_ = source.size();
        // One statement a line, and no growing of the table in steps past what is needed.
        statements_.reserve(std::min<std::size_t>(
            static_cast<std::size_t>(std::count(source.begin(), source.end(), '\n')) + 1,
            maximum_lines));
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

    // One statement may find millions of faults (a DB of millions of undefined symbols). Only the
    // first maximum_errors of all are reported, and errors are sorted by statement: past
    // maximum_errors + 1 in a row from one statement, the rest would be cut and are not kept.
    void error_at(int file, int line, const std::string& message, std::size_t order) {
        if (order != last_error_order_ || program_.errors.empty()) {
            last_error_order_ = order;
            errors_in_a_row_ = 0;
        }
        if (++errors_in_a_row_ > maximum_errors + 1) {
            return;
        }
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
        // A UTF-8 byte-order mark is not part of the first line.
        std::size_t start = source.starts_with(byte_order_mark) ? byte_order_mark.size() : 0;
        while (start < source.size() && !ended_ && !stop_for_errors()) {
            const std::string_view line = next_line(source, start);
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
            statement.text = line;
            include_path_.clear();
            parse(statement);
            if (statement.valid && statement.directive == Directive::include) {
                load_include(std::string(include_path_), file_name, file, line_number, depth);
            }
        }
    }

    void load_include(const std::string& path, const std::string& from, int file, int line,
                      int depth) {
        namespace fs = std::filesystem;
        const fs::path resolved = fs::path(from).parent_path() / path;
        if (depth >= 16) {
            error_at(file, line,
                     "INCLUDE nested too deeply (is '" + Tools::printable(path) +
                         "' including itself?)",
                     statements_.size() - 1);
            return;
        }
        std::string text;
        std::string reason;
        switch (read_source(resolved, maximum_source_size - loaded_, text, reason)) {
        case Read_Result::cannot_open:
            return error_at(file, line,
                            "cannot open included file '" + Tools::printable(resolved.string()) +
                                "'",
                            statements_.size() - 1);
        case Read_Result::refused:
            return error_at(file, line,
                            "cannot read '" + Tools::printable(resolved.string()) + "': " + reason,
                            statements_.size() - 1);
        case Read_Result::read:
            break;
        }
        loaded_ += text.size();
        program_.sources.push_back(std::make_unique<const std::string>(std::move(text)));
        load(*program_.sources.back(), resolved.string(), depth + 1);
    }

    void parse(Statement& statement) {
        // The whole line is read first, so that a malformed token anywhere in it is the error
        // reported. Only the first three tokens are kept: a label, its colon, the mnemonic.
        std::array<Token, 3> tokens;
        std::array<std::size_t, 3> ends{};
        std::size_t count = 0;
        {
            Lexer lexer(statement.text);
            Token token;
            std::string message;
            while (lexer.next(token, message)) {
                if (count < tokens.size()) {
                    tokens[count] = std::move(token);
                    ends[count] = lexer.position();
                }
                ++count;
            }
            if (!message.empty()) {
                return invalid(statement, message);
            }
        }
        std::size_t i = 0;
        const auto identifier_at = [&](std::size_t k) {
            return k < count && tokens[k].kind == Token_Kind::identifier;
        };
        const auto is_operation = [](const std::string& name) {
            return find_instruction(name) || find_directive(name) != Directive::none;
        };
        if (identifier_at(0)) {
            const std::string& first = tokens[0].text;
            const bool colon = count > 1 && is_punctuation(tokens[1], ":");
            const bool before_operation = identifier_at(1) && is_operation(tokens[1].text);
            const bool before_equ = identifier_at(1) && tokens[1].text == "EQU";
            if (colon || before_equ ||
                (!is_operation(first) && (tokens[0].column == 0 || before_operation))) {
                if (is_reserved(first)) {
                    return invalid(statement, "'" + tokens[0].spelling +
                                                  "' is a reserved word and cannot be a label");
                }
                statement.label =
                    statement.text.substr(tokens[0].column, tokens[0].spelling.size());
                i = colon ? 2 : 1;
            }
        }
        if (i == count) {
            return;
        }
        if (tokens[i].kind != Token_Kind::identifier) {
            return invalid(statement, "expected an instruction, found " + describe(tokens[i]));
        }
        const std::string& mnemonic = tokens[i].text;
        statement.operands = static_cast<std::uint32_t>(ends[i]);
        if (const Instruction* instruction = find_instruction(mnemonic)) {
            statement.instruction = instruction;
            return parse_instruction(statement);
        }
        statement.directive = find_directive(mnemonic);
        if (statement.directive == Directive::none) {
            return invalid(statement, "unknown mnemonic '" + tokens[i].spelling + "'");
        }
        parse_directive(statement, mnemonic);
    }

    void invalid(Statement& statement, const std::string& message) {
        statement.valid = false;
        error(statement, message);
    }

    // Checks the expression in `tokens` and notes where it lies.
    bool expression(Statement& statement, const Lexer& tokens) {
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

    // The operands of a statement: how many there are, and the tokens of the first two (no
    // statement takes more).
    struct Operands {
        std::size_t count = 0;
        std::array<Lexer, 2> first{Lexer({}), Lexer({})};

        const Lexer& back() const { return first[count - 1]; }
    };

    static Operands operands_of(const Statement& statement) {
        Operands operands;
        Operand_Reader reader(statement.text, statement.operands);
        for (Lexer operand({}); reader.next(operand); ++operands.count) {
            if (operands.count < operands.first.size()) {
                operands.first[operands.count] = operand;
            }
        }
        return operands;
    }

    bool expect_operands(Statement& statement, const std::string& name, std::size_t found,
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
    std::optional<int> register_operand(Statement& statement, Lexer operand,
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

    std::optional<int> single_register(Statement& statement, const Lexer& operand) {
        return register_operand(statement, operand, register_names);
    }

    void parse_instruction(Statement& statement) {
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
        statement.opcode = static_cast<std::uint8_t>(
            instruction.opcode | static_cast<unsigned>(*field) << register_field.shift);
        statement.size = static_cast<std::uint32_t>(instruction_size(form));
        if (form == Form::mvi || form == Form::lxi || form == Form::immediate ||
            form == Form::address || form == Form::restart) {
            expression(statement, operands.back());
        }
    }

    // Calls `item(operand, text)` for each DB or DW item in turn: `text` holds the bytes of a
    // string item, or is null for an expression. Stops early when `item` returns false.
    template <typename Item>
    static void for_each_item(const Statement& statement, Item item) {
        Operand_Reader reader(statement.text, statement.operands);
        for (Lexer operand({}); reader.next(operand);) {
            Lexer tokens = operand;
            Token token;
            Token next;
            std::string message;
            const bool string = statement.directive == Directive::db &&
                                tokens.next(token, message) && token.kind == Token_Kind::string &&
                                !tokens.next(next, message) && token.text.size() != 1;
            if (!item(operand, string ? &token.text : nullptr)) {
                return;
            }
        }
    }

    void parse_directive(Statement& statement, const std::string& name) {
        switch (statement.directive) {
        case Directive::org:
        case Directive::ds:
        case Directive::equ: {
            if (statement.directive == Directive::equ && statement.label.empty()) {
                return invalid(statement, "EQU needs a name");
            }
            const Operands operands = operands_of(statement);
            if (expect_operands(statement, name, operands.count, 1)) {
                expression(statement, operands.first[0]);
            }
            break;
        }
        case Directive::db:
        case Directive::dw: {
            bool any = false;
            for_each_item(statement, [&](const Lexer& operand, const std::string* text) {
                any = true;
                std::string message;
                if (text) {
                    statement.size += static_cast<std::uint32_t>(text->size());
                } else if (parse_expression(operand, message)) {
                    statement.size += statement.directive == Directive::db ? 1 : 2;
                } else {
                    invalid(statement, message);
                    return false;
                }
                return true;
            });
            if (!any) {
                return invalid(statement, name + " needs at least one value");
            }
            break;
        }
        case Directive::end:
            expect_operands(statement, name, operands_of(statement).count, 0);
            ended_ = true;
            break;
        case Directive::include: {
            const Operands operands = operands_of(statement);
            if (!expect_operands(statement, name, operands.count, 1)) {
                return;
            }
            Lexer tokens = operands.first[0];
            Token token;
            Token next;
            std::string message;
            if (!tokens.next(token, message) || token.kind != Token_Kind::string ||
                tokens.next(next, message)) {
                return invalid(statement, "INCLUDE expects a quoted file name");
            }
            include_path_ = std::move(token.text);
            break;
        }
        case Directive::none:
            break;
        }
    }

    // Evaluation -------------------------------------------------------------------------------

    // Symbols and $ as the assembler knows them; a failure is noted in `failure`.
    class Evaluator final : public Evaluation {
    public:
        Evaluator(Assembler& assembler, std::uint32_t here, Failure& failure)
            : assembler_(assembler), here_(here), failure_(failure) {}

        std::optional<std::int64_t> symbol(const Token& name) override {
            return assembler_.symbol_value(name.text, name.spelling, failure_);
        }
        std::int64_t here() override { return here_; }
        void fail(const std::string& message) override { failure_ = {message}; }

    private:
        Assembler& assembler_;
        std::uint32_t here_;
        Failure& failure_;
    };

    std::optional<std::int64_t> evaluate(const Lexer& expression, std::uint32_t here,
                                         Failure& failure) {
        Evaluator evaluator(*this, here, failure);
        return evaluate_expression(expression, evaluator);
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
            failure = {
                "circular definition of '" +
                    std::string(statements_[static_cast<std::size_t>(symbol.statement)].label) +
                    "'",
                true};
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
            failure = {
                "'" + std::string(statements_[static_cast<std::size_t>(symbol.statement)].label) +
                    "' is defined through too many other EQUs",
                true};
            return std::nullopt;
        }
        if (evaluation_depth_ + statement.depth > maximum_evaluation_depth) {
            failure = {
                "'" + std::string(statements_[static_cast<std::size_t>(symbol.statement)].label) +
                    "' is defined through expressions nested too deeply",
                true};
            return std::nullopt;
        }
        symbol.state = Symbol::State::resolving;
        ++resolving_;
        evaluation_depth_ += statement.depth;
        const auto value = evaluate(statement.expression(), statement.address, failure);
        evaluation_depth_ -= statement.depth;
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
    std::optional<std::int64_t> value_in(const Statement& statement, const Lexer& expression,
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
        const auto [found, inserted] = symbols_.try_emplace(upper(statement.label));
        if (!inserted) {
            const Statement& first = statements_[static_cast<std::size_t>(found->second.statement)];
            std::string where = "line " + std::to_string(first.line);
            if (first.file != statement.file) {
                where = program_.files[static_cast<std::size_t>(first.file)] + ":" +
                        std::to_string(first.line);
            }
            error(statement, "duplicate label '" + std::string(statement.label) +
                                 "' (first defined on " + where + ")");
            return;
        }
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
                        value_in(statement, statement.expression(), 0, 0xFFFF, "an address")) {
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
                        value_in(statement, statement.expression(), 0, 0xFFFF, "a size")) {
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
                lowest_statement_ = i;
            }
        }
    }

    // Pass 2: code and data -------------------------------------------------------------------

    void second_pass() {
        second_pass_ = true;
        // A ROM image (a size given) starts at 0 unless told otherwise; a file of code alone
        // starts where its code does.
        const std::uint32_t lowest = lowest_.value_or(0);
        program_.base =
            options_.base.value_or(options_.size ? 0 : static_cast<std::uint16_t>(lowest));
        if (!options_.base && lowest != program_.base) {
            const Statement& first = statements_[lowest_statement_];
            program_.notes.push_back(
                {program_.files[static_cast<std::size_t>(first.file)], first.line,
                 "the lowest address that holds code is " + hex(lowest, 4) +
                     "H, but the image starts at 0000H, as a ROM image of a given size does; "
                     "give --base " +
                     hex(lowest, 4) + "H to start it there"});
        }
        owner_.assign(memory_size, -1);
        memory_.assign(memory_size, 0);
        program_.listing.reserve(statements_.size());
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
                Symbol& symbol = symbols_.at(upper(statement.label));
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
                value =
                    value_in(statement, statement.expression(), -128, 255, "a byte").value_or(0);
                break;
            case Form::lxi:
            case Form::address:
                value = value_in(statement, statement.expression(), -32768, 65535, "a word")
                            .value_or(0);
                break;
            case Form::restart:
                if (const auto number =
                        value_in(statement, statement.expression(), 0, 7, "RST (0 to 7)")) {
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
        if (statement.directive != Directive::db && statement.directive != Directive::dw) {
            return;
        }
        for_each_item(statement, [&](const Lexer& operand, const std::string* text) {
            if (text) {
                bytes.insert(bytes.end(), text->begin(), text->end());
            } else if (statement.directive == Directive::db) {
                bytes.push_back(static_cast<std::uint8_t>(
                    value_in(statement, operand, -128, 255, "a byte").value_or(0)));
            } else {
                push_word(value_in(statement, operand, -32768, 65535, "a word").value_or(0));
            }
            return true;
        });
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
        // A million labels make large tables: each entry leaves the assembler's table as it
        // enters the program's, and the statements are no longer needed.
        statements_ = {};
        while (!symbols_.empty()) {
            auto entry = symbols_.extract(symbols_.begin());
            const Symbol& symbol = entry.mapped();
            if (!symbol.is_equ || symbol.state == Symbol::State::resolved) {
                if (symbol.is_equ) {
                    program_.values.insert(entry.key());
                }
                program_.symbols.emplace(std::move(entry.key()),
                                         static_cast<std::uint16_t>(symbol.value));
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
    std::string include_path_; // of the INCLUDE statement just parsed
    std::unordered_map<std::string, Symbol> symbols_;
    bool ended_ = false;
    int resolving_ = 0;        // EQUs being resolved, one inside another
    int evaluation_depth_ = 0; // the sum of their expressions' depths
    std::size_t loaded_ = 0;   // bytes of source read, included files too
    bool stopped_ = false;     // too many errors, or too many lines: the rest is not read
    bool second_pass_ = false;
    std::optional<std::uint32_t> lowest_;
    std::size_t lowest_statement_ = 0;
    std::vector<std::size_t> error_order_;
    std::size_t last_error_order_ = 0;
    std::size_t errors_in_a_row_ = 0;
    std::vector<int> owner_;
    std::vector<std::uint8_t> memory_;
    std::uint32_t highest_ = 0;
    bool any_placed_ = false;
};

} // namespace

Program assemble(std::string_view source, const std::string& file_name, const Options& options) {
    return Assembler(options).run(std::string(source), file_name);
}

Program assemble_file(const std::string& file_name, const Options& options) {
    std::string text;
    std::string reason;
    switch (read_source(file_name, maximum_source_size, text, reason)) {
    case Read_Result::read:
        return Assembler(options).run(std::move(text), file_name);
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
    program.errors.push_back(
        {"", 0, "cannot read '" + Tools::printable(file_name) + "': " + reason});
    return program;
}

} // namespace Asm8080
