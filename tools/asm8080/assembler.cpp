// The assembler's entry points and its reading of the sources: files, included files and the
// lines that macros write, each line made a statement and handed to the part that takes it; and
// the errors, collected in source order.

#include "tools/asm8080/assembler_internal.hpp"
#include "tools/files/input_file.hpp"
#include "tools/files/messages.hpp"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace Asm8080 {
namespace Detail {
namespace {

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

// ERROR's text: its string, or the operand as written.
std::string error_text(const Statement& statement) {
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

} // namespace

Read_Result read_source(const std::string& file_name, std::size_t limit, std::string& text,
                        std::string& reason) {
    namespace fs = std::filesystem;
    const fs::path path(file_name);
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

Program Assembler::run(std::string&& text, const std::string& file_name) {
    program_.sources.push_back(std::make_unique<const std::string>(std::move(text)));
    const std::string_view source = *program_.sources.back();
    sources_.loaded = source.size();
    // One statement a line, and no growing of the table in steps past what is needed.
    statements_.reserve(std::min<std::size_t>(
        static_cast<std::size_t>(std::count(source.begin(), source.end(), '\n')) + 1,
        maximum_lines));
    load(source, file_name);
    if (!log_.stopped) {
        close_blocks();
    }
    // A pass after a stop would see only part of the program and report phantom errors.
    if (!log_.stopped) {
        second_pass();
    }
    finish();
    return std::move(program_);
}

// An error on a statement; on a line that a macro wrote, it names the line of the body too.
void Assembler::error(const Statement& statement, const std::string& message) {
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
void Assembler::error_at(int file, int line, const std::string& message, std::size_t order) {
    if (order != log_.last_order || program_.errors.empty()) {
        log_.last_order = order;
        log_.in_a_row = 0;
    }
    if (++log_.in_a_row > maximum_errors + 1) {
        return;
    }
    program_.errors.push_back({program_.files[static_cast<std::size_t>(file)], line, message});
    log_.order.push_back(order);
}

// After maximum_errors the rest of the input is not worth reading: stop there.
bool Assembler::stop_for_errors() {
    if (program_.errors.size() >= maximum_errors) {
        log_.stopped = true;
    }
    return log_.stopped;
}

void Assembler::load(std::string_view source, const std::string& file_name) {
    const int file = static_cast<int>(program_.files.size());
    program_.files.push_back(file_name);
    int line_number = 0;
    // A UTF-8 byte-order mark is not part of the first line.
    std::size_t start = source.starts_with(byte_order_mark) ? byte_order_mark.size() : 0;
    while (start < source.size() && !pass_.ended && !stop_for_errors()) {
        const std::string_view line = next_line(source, start);
        process(line, file, ++line_number, nullptr);
    }
}

// Reads one line, from a file or from an expansion (`origin` its line in the macro), and
// places it: a statement for every line, assembled or not, so that the listing shows each.
void Assembler::process(std::string_view text, int file, int line, const Body_Line* origin) {
    if (macros_.depth == 0) {
        macros_.runaway = false; // past the expansions that went too deep
    }
    if (statements_.size() >= maximum_lines) {
        error_at(file, line,
                 (macros_.depth > 0 ? "macros and repetitions take the program past "
                                    : "the source and its included files have more than ") +
                     std::to_string(maximum_lines) + " lines",
                 statements_.size());
        log_.stopped = true;
        return;
    }
    const std::size_t index = statements_.size();
    add_statement(text, file, line, origin);
    if (macros_.capture) {
        return capture(index);
    }
    if (!conditions_.open.empty() && !conditions_.open.back().active) {
        return skip(index);
    }
    sources_.operand.clear();
    parse(statements_[index]);
    const Macro* call = std::exchange(macros_.call, nullptr);
    locate(index);
    if (!statements_[index].valid) {
        return recover(index);
    }
    if (statements_[index].info()) {
        return act(index);
    }
    if (call) {
        expand(*call, index);
    }
}

Statement& Assembler::add_statement(std::string_view text, int file, int line,
                                    const Body_Line* origin) {
    Statement& statement = statements_.emplace_back();
    statement.file = file;
    statement.line = line;
    statement.text = text;
    statement.origin = origin;
    statement.expansion = origin != nullptr;
    return statement;
}

// What a directive does in the first pass besides taking its place.
void Assembler::act(std::size_t index) {
    Statement& statement = statements_[index];
    switch (statement.info()->action) {
    case Directive_Action::include:
        return load_include(sources_.operand, index);
    case Directive_Action::include_binary:
        return load_binary(sources_.operand, index);
    case Directive_Action::open_condition:
    case Directive_Action::continue_condition:
        return condition(index);
    case Directive_Action::open_block:
        return begin_block(index);
    case Directive_Action::close_block:
        return invalid(statement, "ENDM without MACRO, REPT, IRP or IRPC");
    case Directive_Action::declare_locals:
        return invalid(statement, "LOCAL belongs at the start of a macro's body");
    case Directive_Action::exit_macro:
        if (macros_.depth == 0) {
            return invalid(statement, "EXITM outside a macro");
        }
        macros_.exit = true;
        return;
    case Directive_Action::report_error:
        return error(statement, error_text(statement));
    case Directive_Action::none:
        return;
    }
}

// A faulty block or condition still has an end to match: its body is read and not expanded,
// and neither of its branches is taken.
void Assembler::recover(std::size_t index) {
    const Directive_Info* info = statements_[index].info();
    switch (info ? info->action : Directive_Action::none) {
    case Directive_Action::open_block:
        return begin_block(index);
    case Directive_Action::open_condition:
        conditions_.open.push_back({index, false, true, true, false});
        return;
    case Directive_Action::continue_condition:
        return condition(index);
    default:
        return;
    }
}

// At the end of the source: a block or a condition still open is an error at its start.
void Assembler::close_blocks() {
    if (macros_.capture) {
        invalid(statements_[macros_.capture->statement],
                block_name(*macros_.capture) + " without ENDM");
        macros_.capture.reset();
    }
    for (const Condition& open : conditions_.open) {
        error(statements_[open.statement], "IF without ENDIF");
    }
    conditions_.open.clear();
}

void Assembler::load_include(const std::string& path, std::size_t index) {
    const int file = statements_[index].file;
    const std::string resolved = beside(path, file);
    if (sources_.include_depth >= 16) {
        return error(statements_[index], "INCLUDE nested too deeply (is '" +
                                             Tools::printable(path) + "' including itself?)");
    }
    std::string text;
    if (!read_beside(resolved, index, text)) {
        return;
    }
    program_.sources.push_back(std::make_unique<const std::string>(std::move(text)));
    ++sources_.include_depth;
    load(*program_.sources.back(), resolved);
    --sources_.include_depth;
}

// INCBIN: the file's bytes become the statement's data. Its size is known now; the bytes are
// kept among the sources, whose budget they share.
void Assembler::load_binary(const std::string& path, std::size_t index) {
    const std::string resolved = beside(path, statements_[index].file);
    std::string bytes;
    if (!read_beside(resolved, index, bytes)) {
        return;
    }
    Statement& statement = statements_[index];
    if (bytes.size() > memory_size) {
        return invalid(statement,
                       "'" + Tools::printable(resolved) + "' is larger than the 64 KiB of memory");
    }
    statement.expression_begin = static_cast<std::uint32_t>(program_.sources.size());
    program_.files.push_back(resolved);
    program_.sources.push_back(std::make_unique<const std::string>(std::move(bytes)));
    statement.size = static_cast<std::uint32_t>(program_.sources.back()->size());
    pass_.here += statement.size;
    note_occupied(index);
}

// A path as written in `file`: relative to that file's folder.
std::string Assembler::beside(const std::string& path, int file) const {
    namespace fs = std::filesystem;
    return (fs::path(program_.files[static_cast<std::size_t>(file)]).parent_path() / path).string();
}

bool Assembler::read_beside(const std::string& resolved, std::size_t index, std::string& text) {
    std::string reason;
    switch (read_source(resolved, maximum_source_size - sources_.loaded, text, reason)) {
    case Read_Result::cannot_open:
        error(statements_[index], "cannot open included file '" + Tools::printable(resolved) + "'");
        return false;
    case Read_Result::refused:
        error(statements_[index], "cannot read '" + Tools::printable(resolved) + "': " + reason);
        return false;
    case Read_Result::read:
        break;
    }
    sources_.loaded += text.size();
    return true;
}

void Assembler::invalid(Statement& statement, const std::string& message) {
    statement.valid = false;
    error(statement, message);
}

} // namespace Detail

Program assemble(std::string_view source, const std::string& file_name, const Options& options) {
    return Detail::Assembler(options).run(std::string(source), file_name);
}

Program assemble_file(const std::string& file_name, const Options& options) {
    using Detail::Read_Result;
    std::string text;
    std::string reason;
    switch (Detail::read_source(file_name, maximum_source_size, text, reason)) {
    case Read_Result::read:
        return Detail::Assembler(options).run(std::move(text), file_name);
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
