#include "tools/asm8080/assembler.hpp"
#include "tools/asm8080/instructions.hpp"
#include "tools/asm8080/syntax.hpp"
#include "tools/files/input_file.hpp"
#include "tools/files/messages.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <limits>
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
struct Macro;

// A line of a macro's or a repetition's body, as it was written.
struct Body_Line {
    std::string_view text;
    int file = 0;
    int line = 0;
    const Macro* macro = nullptr;
};

struct Macro {
    std::string name;                    // as written; "REPT", "IRP" or "IRPC" for a repetition
    std::vector<std::string> parameters; // upper-case
    std::vector<std::string> locals;     // upper-case
    std::vector<Body_Line> body;
    // Each parameter's index, then each local name's after them: one look-up a name.
    std::unordered_map<std::string, std::size_t> names;
};

struct Statement {
    std::string_view text;  // in Program::sources or Program::expansions
    std::string_view label; // as written
    const Instruction* instruction = nullptr;
    const Body_Line* origin = nullptr; // for a line a macro wrote, the line of its body
    std::int64_t value = 0;            // what a SET sets
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
    bool assembled = true; // false in a branch not taken, in a macro's definition
    bool expansion = false;
    bool filled = false;    // DS with a fill value
    bool has_value = false; // a SET whose value is known

    Lexer expression() const { return Lexer(text, expression_begin, expression_end); }
};

constexpr std::uint32_t memory_size = 0x10000;
// Bounds for values that may be anything.
constexpr std::int64_t any_low = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t any_high = std::numeric_limits<std::int64_t>::max();
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
    bool is_set = false; // its value is the last SET's, in either pass
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
        load(source, file_name);
        if (!stopped_) {
            close_blocks();
        }
        // A pass after a stop would see only part of the program and report phantom errors.
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
        std::string where;
        if (const Body_Line* origin = statement.origin) {
            where = " (in " + origin->macro->name + ", from ";
            if (origin->file != statement.file) {
                where += program_.files[static_cast<std::size_t>(origin->file)] + ":";
            } else {
                where += "line ";
            }
            where += std::to_string(origin->line) + ")";
        }
        error_at(statement.file, statement.line, message + where,
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

    // Reading the source: the first pass --------------------------------------------------------

    void load(std::string_view source, const std::string& file_name) {
        const int file = static_cast<int>(program_.files.size());
        program_.files.push_back(file_name);
        int line_number = 0;
        // A UTF-8 byte-order mark is not part of the first line.
        std::size_t start = source.starts_with(byte_order_mark) ? byte_order_mark.size() : 0;
        while (start < source.size() && !ended_ && !stop_for_errors()) {
            const std::string_view line = next_line(source, start);
            process(line, file, ++line_number, nullptr);
        }
    }

    // Reads one line, from a file or from an expansion (`origin` its line in the macro), and
    // places it: a statement for every line, assembled or not, so that the listing shows each.
    void process(std::string_view text, int file, int line, const Body_Line* origin) {
        if (expansion_depth_ == 0) {
            runaway_ = false; // past the expansions that went too deep
        }
        if (statements_.size() >= maximum_lines) {
            error_at(file, line,
                     (expansion_depth_ > 0 ? "macros and repetitions take the program past "
                                           : "the source and its included files have more than ") +
                         std::to_string(maximum_lines) + " lines",
                     statements_.size());
            stopped_ = true;
            return;
        }
        const std::size_t index = statements_.size();
        {
            Statement& statement = statements_.emplace_back();
            statement.file = file;
            statement.line = line;
            statement.text = text;
            statement.origin = origin;
            statement.expansion = origin != nullptr;
        }
        if (capture_) {
            return capture(index);
        }
        if (!conditions_.empty() && !conditions_.back().active) {
            return skip(index);
        }
        operand_text_.clear();
        parse(statements_[index]);
        const Macro* call = std::exchange(call_, nullptr);
        locate(index);
        Statement& statement = statements_[index];
        if (!statement.valid) {
            return recover(index);
        }
        switch (statement.directive) {
        case Directive::include:
            return load_include(operand_text_, index);
        case Directive::incbin:
            return load_binary(operand_text_, index);
        case Directive::if_value:
        case Directive::if_defined:
        case Directive::if_not_defined:
        case Directive::else_branch:
        case Directive::end_if:
            return condition(index);
        case Directive::macro:
        case Directive::rept:
        case Directive::irp:
        case Directive::irpc:
            return begin_block(index);
        case Directive::endm:
            return invalid(statement, "ENDM without MACRO, REPT, IRP or IRPC");
        case Directive::local:
            return invalid(statement, "LOCAL belongs at the start of a macro's body");
        case Directive::exitm:
            if (expansion_depth_ == 0) {
                return invalid(statement, "EXITM outside a macro");
            }
            exit_macro_ = true;
            return;
        case Directive::error:
            return error(statement, error_text(statement));
        default:
            break;
        }
        if (call) {
            expand(*call, index);
        }
    }

    // A faulty block or condition still has an end to match: its body is read and not expanded,
    // and neither of its branches is taken.
    void recover(std::size_t index) {
        switch (statements_[index].directive) {
        case Directive::macro:
        case Directive::rept:
        case Directive::irp:
        case Directive::irpc:
            return begin_block(index);
        case Directive::if_value:
        case Directive::if_defined:
        case Directive::if_not_defined:
            conditions_.push_back({index, false, true, true, false});
            return;
        case Directive::else_branch:
        case Directive::end_if:
            return condition(index);
        default:
            return;
        }
    }

    // The first tokens of a line, read without judging the rest: enough to find its label and
    // operation in a body being defined or a branch not taken, where anything may follow.
    struct Head {
        std::array<Token, 3> tokens;
        std::array<std::size_t, 3> ends{};
        std::size_t count = 0;
        std::size_t operation = 0; // the index of the operation's token; count when none
    };

    Head head(std::string_view text) const {
        Head result;
        Lexer lexer(text);
        std::string message;
        while (result.count < result.tokens.size() &&
               lexer.next(result.tokens[result.count], message)) {
            result.ends[result.count++] = lexer.position();
        }
        const auto identifier_at = [&](std::size_t k) {
            return k < result.count && result.tokens[k].kind == Token_Kind::identifier;
        };
        if (identifier_at(0)) {
            const std::string& first = result.tokens[0].text;
            const bool colon = result.count > 1 && is_punctuation(result.tokens[1], ":");
            const bool before_operation = identifier_at(1) && is_operation(result.tokens[1].text);
            const bool before_definition = identifier_at(1) && takes_name(result.tokens[1].text);
            result.operation =
                colon ? 2
                : before_definition ||
                        (!is_operation(first) && (result.tokens[0].column == 0 || before_operation))
                    ? 1
                    : 0;
        }
        return result;
    }

    bool is_operation(const std::string& name) const {
        return find_instruction(name) || find_directive(name) != Directive::none ||
               macros_.contains(name);
    }

    // Directives whose statement is named by the word before them.
    static bool takes_name(const std::string& name) {
        return name == "EQU" || name == "SET" || name == "DEFL" || name == "MACRO";
    }

    // The directive that the line's operation names, if any.
    Directive operation_of(const Head& line) const {
        if (line.operation >= line.count ||
            line.tokens[line.operation].kind != Token_Kind::identifier) {
            return Directive::none;
        }
        return find_directive(line.tokens[line.operation].text);
    }

    // Conditions -------------------------------------------------------------------------------

    struct Condition {
        std::size_t statement = 0; // the IF
        bool active = false;       // assembling the lines now
        bool parent_active = false;
        bool decided = false; // a branch has been taken, or the condition could not be known
        bool in_else = false;
    };

    void skip(std::size_t index) {
        Statement& statement = statements_[index];
        statement.assembled = false;
        switch (operation_of(head(statement.text))) {
        case Directive::if_value:
        case Directive::if_defined:
        case Directive::if_not_defined:
            conditions_.push_back({index, false, false, true, false});
            break;
        case Directive::else_branch:
        case Directive::end_if:
            statement.directive = operation_of(head(statement.text));
            condition(index);
            break;
        default:
            break;
        }
    }

    void condition(std::size_t index) {
        Statement& statement = statements_[index];
        const Directive directive = statement.directive;
        if (directive == Directive::else_branch || directive == Directive::end_if) {
            if (conditions_.empty() || conditions_.back().statement < block_floor_) {
                return invalid(statement,
                               std::string(directive == Directive::end_if ? "ENDIF" : "ELSE") +
                                   " without IF");
            }
            Condition& open = conditions_.back();
            if (directive == Directive::end_if) {
                conditions_.pop_back();
                return;
            }
            if (open.in_else) {
                return invalid(statement, "a second ELSE for the IF on line " +
                                              std::to_string(statements_[open.statement].line));
            }
            open.in_else = true;
            open.active = open.parent_active && !open.decided;
            open.decided = true;
            return;
        }
        std::optional<bool> holds;
        if (directive == Directive::if_value) {
            if (const auto value =
                    value_in(statement, statement.expression(), any_low, any_high, "a condition")) {
                holds = (*value & 0xFFFF) != 0;
            }
        } else {
            holds = symbols_.contains(upper(operand_text_)) == (directive == Directive::if_defined);
        }
        // A condition that cannot be known takes neither branch: its error is the one reported.
        conditions_.push_back({index, holds.value_or(false), true, holds.value_or(true), false});
    }

    // Macros and repetitions -------------------------------------------------------------------

    // A body being read, up to its ENDM.
    struct Capture {
        std::size_t statement = 0; // the MACRO, REPT, IRP or IRPC
        std::unique_ptr<Macro> macro;
        int depth = 1;                      // blocks open inside it, itself included
        bool in_body = false;               // past its LOCAL lines
        std::int64_t count = 0;             // of a REPT
        std::vector<std::string> arguments; // of an IRP, or IRPC's characters, one each
    };

    // Starts reading a body. A faulty MACRO, REPT, IRP or IRPC reads its body too, so that its
    // lines are not taken for the program's, but is not expanded.
    void begin_block(std::size_t index) {
        Capture block;
        block.statement = index;
        block.macro = std::make_unique<Macro>();
        if (statements_[index].valid) {
            read_block_operands(statements_[index], block);
        }
        capture_ = std::move(block);
    }

    void read_block_operands(Statement& statement, Capture& block) {
        Macro& macro = *block.macro;
        const std::vector<std::string> operands =
            split_arguments(statement, statement.directive != Directive::macro);
        switch (statement.directive) {
        case Directive::macro:
            macro.name = std::string(statement.label);
            for (const std::string& parameter : operands) {
                if (!is_name(parameter)) {
                    return invalid(statement,
                                   "a macro's parameter is a name, not '" + parameter + "'");
                }
                macro.parameters.push_back(upper(parameter));
            }
            break;
        case Directive::rept:
            macro.name = "REPT";
            if (const auto count =
                    value_in(statement, statement.expression(), 0, 0xFFFF, "a repetition count")) {
                block.count = *count;
            }
            break;
        default: {
            const bool characters = statement.directive == Directive::irpc;
            macro.name = characters ? "IRPC" : "IRP";
            if (operands.empty() || !is_name(operands[0])) {
                return invalid(statement, macro.name + " expects a name, a comma and " +
                                              (characters ? "characters" : "a list of values"));
            }
            macro.parameters.push_back(upper(operands[0]));
            if (characters) {
                const std::string text = operands.size() > 1 ? operands[1] : "";
                for (char c : text) {
                    block.arguments.emplace_back(1, c);
                }
            } else if (operands.size() == 2) {
                block.arguments = split_list(operands[1]);
            } else {
                block.arguments.assign(operands.begin() + 1, operands.end());
            }
        }
        }
    }

    void capture(std::size_t index) {
        Statement& statement = statements_[index];
        statement.assembled = false;
        const std::string_view text = statement.text;
        const Head line = head(text);
        Directive operation = operation_of(line);
        // Where the operation starts, after any label: a label of the body may be joined with
        // '&' ("done&n:"), which hides what follows it from head().
        std::size_t start = line.operation > 0 && line.operation < line.count
                                ? line.tokens[line.operation].column
                                : 0;
        if (const std::size_t colon = text.find(':');
            operation == Directive::none && colon != std::string_view::npos && colon > 0 &&
            std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon),
                        [](char c) { return is_name_char(c) || c == '&'; })) {
            const Head rest = head(text.substr(colon + 1));
            if (rest.count > 0) {
                operation = operation_of(rest);
                start = colon + 1 + rest.tokens[0].column;
            }
        }
        Capture& block = *capture_;
        switch (operation) {
        case Directive::macro:
        case Directive::rept:
        case Directive::irp:
        case Directive::irpc:
            ++block.depth;
            break;
        case Directive::endm:
            if (--block.depth == 0) {
                // A label on the last ENDM is the body's last line.
                if (start > 0) {
                    block.macro->body.push_back(
                        {text.substr(0, start), statement.file, statement.line, block.macro.get()});
                }
                return end_block();
            }
            break;
        case Directive::local:
            if (block.depth == 1 && !block.in_body) {
                for (const std::string& name : split_arguments(statement, false)) {
                    if (!is_name(name)) {
                        statement.assembled = true;
                        return invalid(statement, "LOCAL expects names, not '" + name + "'");
                    }
                    block.macro->locals.push_back(upper(name));
                }
                return;
            }
            break;
        default:
            if (line.count == 0) {
                return; // a comment or an empty line is not written again
            }
            break;
        }
        block.in_body = true;
        block.macro->body.push_back(
            {statement.text, statement.file, statement.line, block.macro.get()});
    }

    void end_block() {
        Capture block = std::move(*capture_);
        capture_.reset();
        // Expanding adds statements: what is needed of this one is taken now.
        const Directive directive = statements_[block.statement].directive;
        if (!statements_[block.statement].valid) {
            return;
        }
        Macro& kept = *macros_kept_.emplace_back(std::move(block.macro));
        for (std::size_t k = 0; k < kept.parameters.size(); ++k) {
            kept.names.try_emplace(kept.parameters[k], k);
        }
        for (std::size_t k = 0; k < kept.locals.size(); ++k) {
            kept.names.try_emplace(kept.locals[k], kept.parameters.size() + k);
        }
        const Macro& macro = kept;
        if (directive == Directive::macro) {
            macros_[upper(macro.name)] = &macro;
            return;
        }
        if (macro.body.empty()) {
            return; // nothing to repeat, however often
        }
        switch (directive) {
        case Directive::rept:
            for (std::int64_t k = 0; k < block.count && !halted(); ++k) {
                if (expand_once(macro, {}, block.statement)) {
                    return;
                }
            }
            return;
        default:
            for (std::size_t k = 0; k < block.arguments.size() && !halted(); ++k) {
                if (expand_once(macro, {block.arguments[k]}, block.statement)) {
                    return;
                }
            }
            // An empty list gives one pass with an empty value, as the classic assemblers do.
            if (block.arguments.empty()) {
                expand_once(macro, {""}, block.statement);
            }
        }
    }

    bool halted() { return ended_ || runaway_ || stop_for_errors(); }

    // A call: the statement's operands are the arguments.
    void expand(const Macro& macro, std::size_t index) {
        std::vector<std::string> arguments = split_arguments(statements_[index], true);
        if (arguments.size() > macro.parameters.size()) {
            return invalid(statements_[index],
                           macro.name + " takes " + std::to_string(macro.parameters.size()) +
                               " argument" + (macro.parameters.size() == 1 ? "" : "s") +
                               ", found " + std::to_string(arguments.size()));
        }
        expand_once(macro, arguments, index);
    }

    // Writes the body once; true when an EXITM ended it.
    bool expand_once(const Macro& macro, const std::vector<std::string>& arguments,
                     std::size_t index) {
        const int file = statements_[index].file;
        const int line = statements_[index].line;
        if (expansion_depth_ >= maximum_expansion_depth) {
            error(statements_[index], "macros and repetitions nested more than " +
                                          std::to_string(maximum_expansion_depth) + " deep (does " +
                                          macro.name + " call itself without end?)");
            runaway_ = true; // reported once: every expansion open now ends
            return false;
        }
        if (macro.body.empty()) {
            return false;
        }
        // ??0001, ??0002...: names that no one writes.
        std::vector<std::string> locals;
        for (std::size_t k = 0; k < macro.locals.size(); ++k) {
            const std::string number = std::to_string(++local_count_);
            locals.push_back("??" + std::string(4 - std::min<std::size_t>(number.size(), 4), '0') +
                             number);
        }
        const std::size_t conditions = conditions_.size();
        const std::size_t floor = block_floor_;
        const std::size_t first = statements_.size();
        block_floor_ = first;
        ++expansion_depth_;
        for (const Body_Line& body : macro.body) {
            const auto text = ++expanded_lines_ > maximum_expansion_lines
                                  ? std::nullopt
                                  : substitute(body.text, macro, arguments, locals);
            if (!text) {
                error_at(file, line,
                         "macros and repetitions write more than " +
                             (expanded_lines_ > maximum_expansion_lines
                                  ? std::to_string(maximum_expansion_lines) + " lines"
                                  : std::to_string(maximum_expansion_size >> 20) + " MiB") +
                             " (is a count or a list too long, or a macro calling itself?)",
                         index);
                stopped_ = true;
            }
            if (halted()) {
                break;
            }
            process(*text, file, line, &body);
            if (exit_macro_ || runaway_) {
                break;
            }
        }
        --expansion_depth_;
        const bool exited = std::exchange(exit_macro_, false);
        block_floor_ = floor;
        // What the expansion opened, it closes.
        if (capture_ && capture_->statement >= first && !halted()) {
            const Capture& block = *capture_;
            error(statements_[block.statement], block_name(block) + " without ENDM");
            capture_.reset();
        }
        while (conditions_.size() > conditions) {
            if (!halted() && !exited) {
                error(statements_[conditions_.back().statement], "IF without ENDIF");
            }
            conditions_.pop_back();
        }
        return exited;
    }

    std::string block_name(const Capture& block) const {
        return statements_[block.statement].directive == Directive::macro ? "MACRO"
                                                                          : block.macro->name;
    }

    // A body line with the arguments and local names in place of the parameters. Outside strings
    // every name that is a parameter is replaced; inside them only one joined to an '&'. An '&'
    // next to a parameter joins it to the text around it, and is dropped. Nothing when the text
    // written in all would pass maximum_expansion_size.
    std::optional<std::string_view> substitute(std::string_view text, const Macro& macro,
                                               const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& locals) {
        std::string out;
        // What is read counts as well as what is written, so that parameters replaced by nothing
        // cannot make the work unbounded.
        const std::size_t budget =
            maximum_expansion_size - std::min(expanded_ + text.size(), maximum_expansion_size);
        const auto replacement = [&](std::string_view name) -> const std::string* {
            const auto found = macro.names.find(upper(name));
            if (found == macro.names.end()) {
                return nullptr;
            }
            const std::size_t k = found->second;
            if (k >= macro.parameters.size()) {
                return &locals[k - macro.parameters.size()];
            }
            return k < arguments.size() ? &arguments[k] : &empty_;
        };
        char quote = 0;
        std::size_t i = 0;
        while (i < text.size()) {
            const char c = text[i];
            if (quote == 0 && c == ';') {
                out.append(text.substr(i));
                break;
            }
            if (c == '\'' || c == '"') {
                quote = quote == 0 ? c : quote == c ? 0 : quote;
                out += c;
                ++i;
                continue;
            }
            if (!is_name_start(c)) {
                // A number's digits and letters stay together: 0D7H holds no parameter D7H.
                const bool number = std::isdigit(static_cast<unsigned char>(c)) != 0;
                do {
                    out += text[i++];
                } while (number && i < text.size() && is_name_char(text[i]));
                continue;
            }
            std::size_t end = i;
            while (end < text.size() && is_name_char(text[end])) {
                ++end;
            }
            const std::string_view name = text.substr(i, end - i);
            const bool joined_before = !out.empty() && out.back() == '&';
            const bool joined_after = end < text.size() && text[end] == '&';
            const std::string* value = replacement(name);
            if (value && (quote == 0 || joined_before || joined_after)) {
                if (joined_before) {
                    out.pop_back();
                }
                if (out.size() + value->size() > budget) {
                    return std::nullopt;
                }
                out += *value;
                if (joined_after) {
                    ++end;
                }
            } else {
                out.append(name);
            }
            i = end;
        }
        if (out.size() > budget) {
            return std::nullopt;
        }
        expanded_ += text.size() + out.size();
        return keep(out);
    }

    // A copy of a written line that lives as long as the program.
    std::string_view keep(std::string_view text) {
        constexpr std::size_t block_size = 1 << 20;
        auto& blocks = program_.expansions;
        if (blocks.empty() || blocks.back()->capacity() - blocks.back()->size() < text.size()) {
            blocks.push_back(std::make_unique<std::string>());
            blocks.back()->reserve(std::max(block_size, text.size()));
        }
        std::string& block = *blocks.back();
        const std::size_t start = block.size();
        block.append(text);
        return std::string_view(block).substr(start, text.size());
    }

    static bool is_name_start(char c) {
        return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '?' || c == '@' ||
               c == '.';
    }
    static bool is_name_char(char c) {
        return is_name_start(c) || std::isdigit(static_cast<unsigned char>(c));
    }
    static bool is_name(std::string_view text) {
        return !text.empty() && is_name_start(text[0]) &&
               std::all_of(text.begin(), text.end(), is_name_char);
    }

    // A list of operands as text, split at the commas outside quotes, parentheses and <angle
    // brackets>, from `begin` up to a comment; one pair of angle brackets around an operand is
    // taken off (<a,b> is "a,b"), and spaces around it.
    static std::vector<std::string> split_list(std::string_view text, std::size_t begin = 0) {
        std::vector<std::string> result;
        std::string current;
        int angles = 0;
        int parentheses = 0;
        char quote = 0;
        bool any = false;
        const auto finish = [&] {
            std::string trimmed = current;
            trimmed.erase(0, std::min(trimmed.find_first_not_of(" \t"), trimmed.size()));
            trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
            if (trimmed.size() >= 2 && trimmed.front() == '<' && trimmed.back() == '>') {
                trimmed = trimmed.substr(1, trimmed.size() - 2);
            }
            result.push_back(std::move(trimmed));
            current.clear();
        };
        for (std::size_t i = begin; i < text.size(); ++i) {
            const char c = text[i];
            if (quote != 0) {
                quote = c == quote ? 0 : quote;
            } else if (c == ';' && angles == 0) {
                break;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == '<') {
                ++angles;
            } else if (c == '>' && angles > 0) {
                --angles;
            } else if (c == '(') {
                ++parentheses;
            } else if (c == ')' && parentheses > 0) {
                --parentheses;
            } else if (c == ',' && angles == 0 && parentheses == 0) {
                finish();
                any = true;
                continue;
            }
            any = any || (c != ' ' && c != '\t');
            current += c;
        }
        if (any) {
            finish();
        }
        return result;
    }

    // The operands of a MACRO, a call, an IRP, an IRPC or a LOCAL as split_list gives them.
    // `evaluate` turns an operand %expr into the decimal digits of its value.
    std::vector<std::string> split_arguments(Statement& statement, bool evaluate) {
        const Head line = head(statement.text);
        std::vector<std::string> result =
            split_list(statement.text, line.operation < line.count ? line.ends[line.operation]
                                                                   : statement.text.size());
        for (std::string& argument : result) {
            if (!evaluate || !argument.starts_with('%')) {
                continue;
            }
            const Lexer tokens(argument, 1);
            std::string message;
            Failure failure;
            if (!parse_expression(tokens, message)) {
                invalid(statement, message);
            } else if (const auto value = this->evaluate(tokens, statement.address, failure)) {
                argument = std::to_string(*value);
            } else if (!failure.message.empty()) {
                invalid(statement, failure.message);
            }
        }
        return result;
    }

    // ERROR's text: its string, or the operand as written.
    static std::string error_text(const Statement& statement) {
        Lexer tokens(statement.text, statement.operands);
        Token token;
        Token next;
        std::string message;
        if (tokens.next(token, message) && token.kind == Token_Kind::string &&
            !tokens.next(next, message)) {
            return token.text;
        }
        std::string text(statement.text.substr(statement.operands));
        text.erase(0, std::min(text.find_first_not_of(" \t"), text.size()));
        return text.empty() ? "ERROR" : text;
    }

    // At the end of the source: a block or a condition still open is an error at its start.
    void close_blocks() {
        if (capture_) {
            invalid(statements_[capture_->statement], block_name(*capture_) + " without ENDM");
            capture_.reset();
        }
        for (const Condition& open : conditions_) {
            error(statements_[open.statement], "IF without ENDIF");
        }
        conditions_.clear();
    }

    void load_include(const std::string& path, std::size_t index) {
        const int file = statements_[index].file;
        const std::string resolved = beside(path, file);
        if (include_depth_ >= 16) {
            return error(statements_[index], "INCLUDE nested too deeply (is '" +
                                                 Tools::printable(path) + "' including itself?)");
        }
        std::string text;
        if (!read_beside(resolved, index, text)) {
            return;
        }
        program_.sources.push_back(std::make_unique<const std::string>(std::move(text)));
        ++include_depth_;
        load(*program_.sources.back(), resolved);
        --include_depth_;
    }

    // INCBIN: the file's bytes become the statement's data. Its size is known now; the bytes are
    // kept among the sources, whose budget they share.
    void load_binary(const std::string& path, std::size_t index) {
        const std::string resolved = beside(path, statements_[index].file);
        std::string bytes;
        if (!read_beside(resolved, index, bytes)) {
            return;
        }
        Statement& statement = statements_[index];
        if (bytes.size() > memory_size) {
            return invalid(statement, "'" + Tools::printable(resolved) +
                                          "' is larger than the 64 KiB of memory");
        }
        statement.expression_begin = static_cast<std::uint32_t>(program_.sources.size());
        program_.files.push_back(resolved);
        program_.sources.push_back(std::make_unique<const std::string>(std::move(bytes)));
        statement.size = static_cast<std::uint32_t>(program_.sources.back()->size());
        here_ += statement.size;
        note_occupied(index);
    }

    // A path as written in `file`: relative to that file's folder.
    std::string beside(const std::string& path, int file) const {
        namespace fs = std::filesystem;
        return (fs::path(program_.files[static_cast<std::size_t>(file)]).parent_path() / path)
            .string();
    }

    bool read_beside(const std::string& resolved, std::size_t index, std::string& text) {
        std::string reason;
        switch (read_source(resolved, maximum_source_size - loaded_, text, reason)) {
        case Read_Result::cannot_open:
            error(statements_[index],
                  "cannot open included file '" + Tools::printable(resolved) + "'");
            return false;
        case Read_Result::refused:
            error(statements_[index],
                  "cannot read '" + Tools::printable(resolved) + "': " + reason);
            return false;
        case Read_Result::read:
            break;
        }
        loaded_ += text.size();
        return true;
    }

    void parse(Statement& statement) {
        const Head line = head(statement.text);
        const std::size_t i = line.operation;
        const std::string* operation =
            i < line.count && line.tokens[i].kind == Token_Kind::identifier ? &line.tokens[i].text
                                                                            : nullptr;
        const auto found_macro = operation ? macros_.find(*operation) : macros_.end();
        const Directive directive = operation ? find_directive(*operation) : Directive::none;
        // The whole line is read first, so that a malformed token anywhere in it is the error
        // reported; but a macro's arguments and some directives' operands are text of any kind.
        const bool free_text = found_macro != macros_.end() || directive == Directive::irp ||
                               directive == Directive::irpc || directive == Directive::macro ||
                               directive == Directive::context || directive == Directive::error;
        if (!free_text) {
            Lexer lexer(statement.text);
            Token token;
            std::string message;
            while (lexer.next(token, message)) {
            }
            if (!message.empty()) {
                return invalid(statement, message);
            }
        }
        if (i > 0) {
            const Token& name = line.tokens[0];
            if (is_reserved(name.text)) {
                return invalid(statement,
                               "'" + name.spelling + "' is a reserved word and cannot be a label");
            }
            statement.label = statement.text.substr(name.column, name.spelling.size());
        }
        if (i == line.count) {
            return;
        }
        if (!operation) {
            return invalid(statement, "expected an instruction, found " + describe(line.tokens[i]));
        }
        statement.operands = static_cast<std::uint32_t>(line.ends[i]);
        if (const Instruction* instruction = find_instruction(*operation)) {
            statement.instruction = instruction;
            return parse_instruction(statement);
        }
        if (found_macro != macros_.end()) {
            call_ = found_macro->second;
            return;
        }
        statement.directive = directive;
        if (directive == Directive::none) {
            const std::string& spelling = line.tokens[i].spelling;
            if (is_instruction_set(*operation)) {
                return invalid(statement, "'" + spelling +
                                              "' would change the instruction set: asm8080 "
                                              "assembles 8080 code only");
            }
            if (*operation == "CSEG" || *operation == "DSEG" || *operation == "COMMON") {
                return invalid(statement, "'" + spelling +
                                              "' asks for relocatable code: asm8080 places "
                                              "everything where ORG says (ASEG)");
            }
            return invalid(statement, "unknown mnemonic '" + spelling + "'");
        }
        parse_directive(statement, *operation);
    }

    // The directives of other assemblers that switch to another processor's instructions.
    static bool is_instruction_set(const std::string& name) {
        static constexpr std::array<std::string_view, 9> names{
            ".Z80", ".Z180", ".Z280", ".8085", ".8086", ".R800", ".6502", ".HD64", ".Z8080"};
        return std::find(names.begin(), names.end(), name) != names.end();
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
        // DB and DW read their items one at a time (there may be millions); the rest take few.
        const bool items =
            statement.directive == Directive::db || statement.directive == Directive::dw;
        const Operands operands = items ? Operands{} : operands_of(statement);
        switch (statement.directive) {
        case Directive::org:
        case Directive::equ:
        case Directive::set:
        case Directive::rept:
        case Directive::if_value: {
            if ((statement.directive == Directive::equ || statement.directive == Directive::set) &&
                statement.label.empty()) {
                return invalid(statement, name + " needs a name");
            }
            if (expect_operands(statement, name, operands.count, 1)) {
                expression(statement, operands.first[0]);
            }
            break;
        }
        case Directive::ds:
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
            break;
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
        case Directive::macro:
            if (statement.label.empty()) {
                return invalid(statement, "MACRO needs a name");
            }
            break;
        case Directive::end:
            if (operands.count > 1) {
                return invalid(statement, "END takes at most one operand (where the program "
                                          "starts), found " +
                                              std::to_string(operands.count));
            }
            if (operands.count == 1) {
                expression(statement, operands.first[0]);
            }
            ended_ = true;
            break;
        case Directive::include:
        case Directive::incbin:
        case Directive::if_defined:
        case Directive::if_not_defined: {
            const bool file = statement.directive == Directive::include ||
                              statement.directive == Directive::incbin;
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
            operand_text_ = std::move(token.text);
            break;
        }
        case Directive::else_branch:
        case Directive::end_if:
        case Directive::exitm:
        case Directive::endm:
            expect_operands(statement, name, operands.count, 0);
            break;
        default: // their operands are text: the first pass reads them
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

    // Places a statement read in the first pass: its address, its label, the space it takes.
    void locate(std::size_t i) {
        Statement& statement = statements_[i];
        statement.address = here_;
        const int index = static_cast<int>(i);
        if (statement.directive == Directive::macro) {
            return; // its label names the macro
        }
        if (!statement.valid) {
            return define(statement, index, false);
        }
        switch (statement.directive) {
        case Directive::org:
            if (const auto value =
                    value_in(statement, statement.expression(), 0, 0xFFFF, "an address")) {
                here_ = static_cast<std::uint32_t>(*value);
                statement.address = here_;
            }
            define(statement, index, false);
            break;
        case Directive::equ:
            define(statement, index, true);
            break;
        case Directive::set:
            set(statement, index);
            break;
        case Directive::ds:
            define(statement, index, false);
            if (const auto value =
                    value_in(statement, statement.expression(), 0, 0xFFFF, "a size")) {
                here_ += static_cast<std::uint32_t>(*value);
                if (here_ > memory_size) {
                    error(statement, "DS reserves space past the end of memory (FFFFH)");
                    here_ = memory_size;
                } else if (statement.filled) {
                    statement.size = static_cast<std::uint32_t>(*value);
                }
            }
            break;
        default:
            define(statement, index, false);
            here_ += statement.size;
            break;
        }
        note_occupied(i);
    }

    void note_occupied(std::size_t i) {
        const Statement& statement = statements_[i];
        const bool occupies = statement.size > 0 ||
                              (statement.directive == Directive::ds && here_ > statement.address);
        if (occupies && (!lowest_ || statement.address < *lowest_)) {
            lowest_ = statement.address;
            lowest_statement_ = i;
        }
    }

    // SET (or DEFL): the value, known now, holds from here to the next SET of the name; the
    // second pass sets it again at the same lines.
    void set(Statement& statement, int index) {
        const auto value =
            value_in(statement, statement.expression(), any_low, any_high, "a value");
        const auto [found, inserted] = symbols_.try_emplace(upper(statement.label));
        Symbol& symbol = found->second;
        if (!inserted && !symbol.is_set) {
            const Statement& first = statements_[static_cast<std::size_t>(symbol.statement)];
            return error(statement, "'" + std::string(statement.label) +
                                        "' is already defined on line " +
                                        std::to_string(first.line) +
                                        " by other means than SET, so SET cannot change it");
        }
        if (inserted) {
            symbol.statement = index;
            symbol.is_set = true;
        }
        statement.has_value = value.has_value();
        statement.value = value.value_or(0);
        symbol.value = statement.value;
        symbol.state = value ? Symbol::State::resolved : Symbol::State::failed;
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
        // A name given by SET takes its values again, line by line.
        for (auto& [name, symbol] : symbols_) {
            if (symbol.is_set) {
                symbol.state = Symbol::State::unresolved;
            }
        }
        for (std::size_t i = 0; i < statements_.size() && !stop_for_errors(); ++i) {
            Statement& statement = statements_[i];
            Listing_Line& listed = program_.listing.emplace_back();
            listed.file = static_cast<std::size_t>(statement.file);
            listed.line = statement.line;
            listed.text = statement.text;
            listed.expansion = statement.expansion;
            if (!statement.valid || !statement.assembled ||
                statement.directive == Directive::macro) {
                continue;
            }
            if (statement.directive == Directive::set) {
                Symbol& symbol = symbols_.at(upper(statement.label));
                if (symbol.is_set) {
                    symbol.value = statement.value;
                    symbol.state =
                        statement.has_value ? Symbol::State::resolved : Symbol::State::failed;
                    if (statement.has_value) {
                        listed.value = static_cast<std::uint16_t>(statement.value);
                    }
                }
                continue;
            }
            if (statement.directive == Directive::end && statement.depth > 0) {
                value_in(statement, statement.expression(), 0, 0xFFFF, "an address");
            }
            const bool has_address =
                statement.instruction || !statement.label.empty() ||
                statement.directive == Directive::org || statement.directive == Directive::db ||
                statement.directive == Directive::dw || statement.directive == Directive::ds ||
                statement.directive == Directive::incbin;
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
        if (statement.directive == Directive::ds && statement.filled) {
            const auto fill =
                value_in(statement, operands_of(statement).first[1], -128, 255, "a byte");
            bytes.assign(statement.size, static_cast<std::uint8_t>(fill.value_or(0)));
            return;
        }
        if (statement.directive == Directive::incbin) {
            if (statement.size > 0) {
                const std::string& data = *program_.sources[statement.expression_begin];
                bytes.assign(data.begin(), data.end());
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
            if ((!symbol.is_equ && !symbol.is_set) || symbol.state == Symbol::State::resolved) {
                if (symbol.is_equ || symbol.is_set) {
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
    std::string operand_text_; // the file of an INCLUDE or INCBIN, the name of an IFDEF
    std::uint32_t here_ = 0;   // where the first pass places the next statement
    std::unordered_map<std::string, const Macro*> macros_; // by upper-case name
    std::vector<std::unique_ptr<Macro>> macros_kept_; // every body, for the lines that point in
    std::optional<Capture> capture_;                  // a body being read
    std::vector<Condition> conditions_;               // the IFs open, innermost last
    std::size_t block_floor_ = 0; // an ELSE or ENDIF closes no IF before this statement
    const Macro* call_ = nullptr; // the macro the statement just parsed calls
    int expansion_depth_ = 0;
    int include_depth_ = 0;
    bool exit_macro_ = false;        // an EXITM was met
    bool runaway_ = false;           // expansions went too deep: every one open ends
    std::size_t expanded_lines_ = 0; // lines that macros and repetitions wrote
    std::size_t expanded_ = 0;       // bytes of text that macros wrote
    std::size_t local_count_ = 0;
    const std::string empty_;
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
