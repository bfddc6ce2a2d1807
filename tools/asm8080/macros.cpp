// Macros and repetitions: MACRO, REPT, IRP and IRPC read their bodies up to the matching ENDM;
// a call or the end of a repetition writes the body out again, with the arguments and local
// names in place of the parameters, and hands each line back to be read as a source line.

#include "tools/asm8080/assembler_internal.hpp"

#include <algorithm>
#include <cctype>
#include <utility>

namespace Asm8080::Detail {
namespace {

const std::string empty_text;

bool is_name_start(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '?' || c == '@' ||
           c == '.';
}
bool is_name_char(char c) {
    return is_name_start(c) || std::isdigit(static_cast<unsigned char>(c));
}
bool is_name(std::string_view text) {
    return !text.empty() && is_name_start(text[0]) &&
           std::all_of(text.begin(), text.end(), is_name_char);
}

// A list of operands as text, split at the commas outside quotes, parentheses and <angle
// brackets>, from `begin` up to a comment; one pair of angle brackets around an operand is
// taken off (<a,b> is "a,b"), and spaces around it.
std::vector<std::string> split_list(std::string_view text, std::size_t begin = 0) {
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

const std::string* replacement(const Substitution& substitution, std::string_view name) {
    const Macro& macro = substitution.macro;
    const auto found = macro.names.find(upper(name));
    if (found == macro.names.end()) {
        return nullptr;
    }
    const std::size_t k = found->second;
    if (k >= macro.parameters.size()) {
        return &substitution.locals[k - macro.parameters.size()];
    }
    return k < substitution.arguments.size() ? &substitution.arguments[k] : &empty_text;
}

// Copies the character at `i`, which starts no name, and returns where to go on. A number's
// digits and letters stay together: 0D7H holds no parameter D7H.
std::size_t copy_other(std::string_view text, std::size_t i, char& quote, std::string& out) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
        quote = quote == 0 ? c : quote == c ? 0 : quote;
        out += c;
        return i + 1;
    }
    const bool number = std::isdigit(static_cast<unsigned char>(c)) != 0;
    do {
        out += text[i++];
    } while (number && i < text.size() && is_name_char(text[i]));
    return i;
}

// Copies the name at `i`, or what it stands for, and returns where to go on; nothing when the
// text would pass `budget`.
std::optional<std::size_t> copy_name(std::string_view text, std::size_t i, char quote,
                                     const Substitution& substitution, std::size_t budget,
                                     std::string& out) {
    std::size_t end = i;
    while (end < text.size() && is_name_char(text[end])) {
        ++end;
    }
    const std::string_view name = text.substr(i, end - i);
    const bool joined_before = !out.empty() && out.back() == '&';
    const bool joined_after = end < text.size() && text[end] == '&';
    const std::string* value = replacement(substitution, name);
    if (!value || (quote != 0 && !joined_before && !joined_after)) {
        out.append(name);
        return end;
    }
    if (joined_before) {
        out.pop_back();
    }
    if (out.size() + value->size() > budget) {
        return std::nullopt;
    }
    out += *value;
    return joined_after ? end + 1 : end;
}

// ??0001, ??0002...: names that no one writes.
std::string local_name(std::size_t number) {
    const std::string digits = std::to_string(number);
    return "??" + std::string(4 - std::min<std::size_t>(digits.size(), 4), '0') + digits;
}

} // namespace

// Starts reading a body. A faulty MACRO, REPT, IRP or IRPC reads its body too, so that its
// lines are not taken for the program's, but is not expanded.
void Assembler::begin_block(std::size_t index) {
    Capture block;
    block.statement = index;
    block.macro = std::make_unique<Macro>();
    if (statements_[index].valid) {
        read_block_operands(statements_[index], block);
    }
    macros_.capture = std::move(block);
}

void Assembler::read_block_operands(Statement& statement, Capture& block) {
    Macro& macro = *block.macro;
    const std::vector<std::string> operands =
        split_arguments(statement, statement.directive != Directive::macro);
    switch (statement.directive) {
    case Directive::macro:
        macro.name = std::string(statement.label);
        for (const std::string& parameter : operands) {
            if (!is_name(parameter)) {
                return invalid(statement, "a macro's parameter is a name, not '" + parameter + "'");
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

void Assembler::capture(std::size_t index) {
    Statement& statement = statements_[index];
    statement.assembled = false;
    const Head line = head(statement.text);
    std::size_t start = 0;
    const Directive operation = body_operation(statement.text, line, start);
    Capture& block = *macros_.capture;
    const Directive_Info* info = directive_info(operation);
    switch (info ? info->action : Directive_Action::none) {
    case Directive_Action::open_block:
        ++block.depth;
        break;
    case Directive_Action::close_block:
        if (--block.depth == 0) {
            // A label on the last ENDM is the body's last line.
            if (start > 0) {
                block.macro->body.push_back({statement.text.substr(0, start), statement.file,
                                             statement.line, block.macro.get()});
            }
            return end_block();
        }
        break;
    case Directive_Action::declare_locals:
        if (block.depth == 1 && !block.in_body) {
            return declare_locals(statement, *block.macro);
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

// The operation of a body's line, and in `start` where it starts, after any label: a label of
// the body may be joined with '&' ("done&n:"), which hides what follows it from head().
Directive Assembler::body_operation(std::string_view text, const Head& line,
                                    std::size_t& start) const {
    Directive operation = operation_of(line);
    start =
        line.operation > 0 && line.operation < line.count ? line.tokens[line.operation].column : 0;
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
    return operation;
}

void Assembler::declare_locals(Statement& statement, Macro& macro) {
    for (const std::string& name : split_arguments(statement, false)) {
        if (!is_name(name)) {
            statement.assembled = true;
            return invalid(statement, "LOCAL expects names, not '" + name + "'");
        }
        macro.locals.push_back(upper(name));
    }
}

void Assembler::end_block() {
    Capture block = std::move(*macros_.capture);
    macros_.capture.reset();
    // Expanding adds statements: what is needed of this one is taken now.
    const Directive directive = statements_[block.statement].directive;
    if (!statements_[block.statement].valid) {
        return;
    }
    Macro& kept = *macros_.kept.emplace_back(std::move(block.macro));
    for (std::size_t k = 0; k < kept.parameters.size(); ++k) {
        kept.names.try_emplace(kept.parameters[k], k);
    }
    for (std::size_t k = 0; k < kept.locals.size(); ++k) {
        kept.names.try_emplace(kept.locals[k], kept.parameters.size() + k);
    }
    const Macro& macro = kept;
    if (directive == Directive::macro) {
        macros_.by_name[upper(macro.name)] = &macro;
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

bool Assembler::halted() {
    return pass_.ended || macros_.runaway || stop_for_errors();
}

// A call: the statement's operands are the arguments.
void Assembler::expand(const Macro& macro, std::size_t index) {
    std::vector<std::string> arguments = split_arguments(statements_[index], true);
    if (arguments.size() > macro.parameters.size()) {
        return invalid(statements_[index],
                       macro.name + " takes " + std::to_string(macro.parameters.size()) +
                           " argument" + (macro.parameters.size() == 1 ? "" : "s") + ", found " +
                           std::to_string(arguments.size()));
    }
    expand_once(macro, arguments, index);
}

// Writes the body once; true when an EXITM ended it.
bool Assembler::expand_once(const Macro& macro, const std::vector<std::string>& arguments,
                            std::size_t index) {
    if (macros_.depth >= maximum_expansion_depth) {
        error(statements_[index], "macros and repetitions nested more than " +
                                      std::to_string(maximum_expansion_depth) + " deep (does " +
                                      macro.name + " call itself without end?)");
        macros_.runaway = true; // reported once: every expansion open now ends
        return false;
    }
    if (macro.body.empty()) {
        return false;
    }
    std::vector<std::string> locals;
    for (std::size_t k = 0; k < macro.locals.size(); ++k) {
        locals.push_back(local_name(++macros_.locals_named));
    }
    const std::size_t conditions = conditions_.open.size();
    const std::size_t floor = conditions_.floor;
    const std::size_t first = statements_.size();
    conditions_.floor = first;
    ++macros_.depth;
    write_body({macro, arguments, locals}, index);
    --macros_.depth;
    const bool exited = std::exchange(macros_.exit, false);
    conditions_.floor = floor;
    close_expansion(first, conditions, exited);
    return exited;
}

// Each line of the body, written with its substitution, is read as a line of the source.
void Assembler::write_body(const Substitution& substitution, std::size_t index) {
    const int file = statements_[index].file;
    const int line = statements_[index].line;
    for (const Body_Line& body : substitution.macro.body) {
        const auto text = ++macros_.lines_written > maximum_expansion_lines
                              ? std::nullopt
                              : substitute(body.text, substitution);
        if (!text) {
            error_at(file, line,
                     "macros and repetitions write more than " +
                         (macros_.lines_written > maximum_expansion_lines
                              ? std::to_string(maximum_expansion_lines) + " lines"
                              : std::to_string(maximum_expansion_size >> 20) + " MiB") +
                         " (is a count or a list too long, or a macro calling itself?)",
                     index);
            log_.stopped = true;
        }
        if (halted()) {
            break;
        }
        process(*text, file, line, &body);
        if (macros_.exit || macros_.runaway) {
            break;
        }
    }
}

// What the expansion opened, it closes.
void Assembler::close_expansion(std::size_t first, std::size_t conditions, bool exited) {
    if (macros_.capture && macros_.capture->statement >= first && !halted()) {
        const Capture& block = *macros_.capture;
        error(statements_[block.statement], block_name(block) + " without ENDM");
        macros_.capture.reset();
    }
    while (conditions_.open.size() > conditions) {
        if (!halted() && !exited) {
            error(statements_[conditions_.open.back().statement], "IF without ENDIF");
        }
        conditions_.open.pop_back();
    }
}

std::string Assembler::block_name(const Capture& block) const {
    return statements_[block.statement].directive == Directive::macro ? "MACRO" : block.macro->name;
}

// A body line with the arguments and local names in place of the parameters. Outside strings
// every name that is a parameter is replaced; inside them only one joined to an '&'. An '&'
// next to a parameter joins it to the text around it, and is dropped. Nothing when the text
// written in all would pass maximum_expansion_size.
std::optional<std::string_view> Assembler::substitute(std::string_view text,
                                                      const Substitution& substitution) {
    std::string out;
    // What is read counts as well as what is written, so that parameters replaced by nothing
    // cannot make the work unbounded.
    const std::size_t budget =
        maximum_expansion_size -
        std::min(macros_.bytes_written + text.size(), maximum_expansion_size);
    char quote = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (quote == 0 && text[i] == ';') {
            out.append(text.substr(i));
            break;
        }
        if (!is_name_start(text[i])) {
            i = copy_other(text, i, quote, out);
            continue;
        }
        const auto next = copy_name(text, i, quote, substitution, budget, out);
        if (!next) {
            return std::nullopt;
        }
        i = *next;
    }
    if (out.size() > budget) {
        return std::nullopt;
    }
    macros_.bytes_written += text.size() + out.size();
    return keep(out);
}

// A copy of a written line that lives as long as the program.
std::string_view Assembler::keep(std::string_view text) {
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

// The operands of a MACRO, a call, an IRP, an IRPC or a LOCAL as split_list gives them.
// `evaluate` turns an operand %expr into the decimal digits of its value.
std::vector<std::string> Assembler::split_arguments(Statement& statement, bool evaluate) {
    const Head line = head(statement.text);
    std::vector<std::string> result =
        split_list(statement.text,
                   line.operation < line.count ? line.ends[line.operation] : statement.text.size());
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

} // namespace Asm8080::Detail
