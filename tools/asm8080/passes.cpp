// The two passes. The first places each statement as it is read: its address, its label, the
// space it takes. The second evaluates every operand, now that every label is known, writes the
// bytes into memory and the listing, and the image is cut from that memory.

#include "tools/asm8080/assembler_internal.hpp"

#include <algorithm>
#include <utility>

namespace Asm8080::Detail {
namespace {

void push_word(std::vector<std::uint8_t>& bytes, std::int64_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

// How the first pass placed a statement: an instruction, or a line without an operation, as a
// label.
Directive_Space space_of(const Statement& statement) {
    const Directive_Info* info = statement.info();
    return info ? info->space : Directive_Space::label;
}

} // namespace

// Pass 1: addresses and labels ---------------------------------------------------------------

void Assembler::define(const Statement& statement, int index, bool is_equ) {
    if (statement.label.empty()) {
        return;
    }
    const auto [found, inserted] = symbols_.entries.try_emplace(upper(statement.label));
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
void Assembler::locate(std::size_t i) {
    Statement& statement = statements_[i];
    statement.address = pass_.here;
    const int index = static_cast<int>(i);
    const Directive_Space space = space_of(statement);
    if (space == Directive_Space::none) {
        return; // its label names something else: a macro
    }
    if (!statement.valid) {
        return define(statement, index, false);
    }
    switch (space) {
    case Directive_Space::origin:
        if (const auto value =
                value_in(statement, statement.expression(), 0, 0xFFFF, "an address")) {
            pass_.here = static_cast<std::uint32_t>(*value);
            statement.address = pass_.here;
        }
        define(statement, index, false);
        break;
    case Directive_Space::equate:
        define(statement, index, true);
        break;
    case Directive_Space::assign:
        set(statement, index);
        break;
    case Directive_Space::reserve:
        define(statement, index, false);
        reserve(statement);
        break;
    default:
        define(statement, index, false);
        pass_.here += statement.size;
        break;
    }
    note_occupied(i);
}

// DS: space that the image holds only when it is filled.
void Assembler::reserve(Statement& statement) {
    if (const auto value = value_in(statement, statement.expression(), 0, 0xFFFF, "a size")) {
        pass_.here += static_cast<std::uint32_t>(*value);
        if (pass_.here > memory_size) {
            error(statement, "DS reserves space past the end of memory (FFFFH)");
            pass_.here = memory_size;
        } else if (statement.filled) {
            statement.size = static_cast<std::uint32_t>(*value);
        }
    }
}

void Assembler::note_occupied(std::size_t i) {
    const Statement& statement = statements_[i];
    const bool occupies = statement.size > 0 || (space_of(statement) == Directive_Space::reserve &&
                                                 pass_.here > statement.address);
    if (occupies && (!pass_.lowest || statement.address < *pass_.lowest)) {
        pass_.lowest = statement.address;
        pass_.lowest_statement = i;
    }
}

// SET (or DEFL): the value, known now, holds from here to the next SET of the name; the
// second pass sets it again at the same lines.
void Assembler::set(Statement& statement, int index) {
    const auto value = value_in(statement, statement.expression(), any_low, any_high, "a value");
    const auto [found, inserted] = symbols_.entries.try_emplace(upper(statement.label));
    Symbol& symbol = found->second;
    if (!inserted && !symbol.is_set) {
        const Statement& first = statements_[static_cast<std::size_t>(symbol.statement)];
        return error(statement, "'" + std::string(statement.label) +
                                    "' is already defined on line " + std::to_string(first.line) +
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

// Pass 2: code and data ---------------------------------------------------------------------

void Assembler::second_pass() {
    pass_.second = true;
    choose_base();
    output_.owner.assign(memory_size, -1);
    output_.memory.assign(memory_size, 0);
    program_.listing.reserve(statements_.size());
    // A name given by SET takes its values again, line by line.
    for (auto& [name, symbol] : symbols_.entries) {
        if (symbol.is_set) {
            symbol.state = Symbol::State::unresolved;
        }
    }
    for (std::size_t i = 0; i < statements_.size() && !stop_for_errors(); ++i) {
        const Statement& statement = statements_[i];
        Listing_Line& listed = program_.listing.emplace_back();
        listed.file = static_cast<std::size_t>(statement.file);
        listed.line = statement.line;
        listed.text = statement.text;
        listed.expansion = statement.expansion;
        if (statement.origin) {
            listed.body_file = static_cast<std::size_t>(statement.origin->file);
            listed.body_line = statement.origin->line;
        }
        if (statement.valid && statement.assembled) {
            assemble_statement(i, listed);
        }
    }
}

// A ROM image (a size given) starts at 0 unless told otherwise; a file of code alone starts
// where its code does.
void Assembler::choose_base() {
    const std::uint32_t lowest = pass_.lowest.value_or(0);
    program_.base = options_.base.value_or(options_.size ? 0 : static_cast<std::uint16_t>(lowest));
    if (!options_.base && lowest != program_.base) {
        const Statement& first = statements_[pass_.lowest_statement];
        program_.notes.push_back(
            {program_.files[static_cast<std::size_t>(first.file)], first.line,
             "the lowest address that holds code is " + hex(lowest, 4) +
                 "H, but the image starts at 0000H, as a ROM image of a given size does; "
                 "give --base " +
                 hex(lowest, 4) + "H to start it there"});
    }
}

void Assembler::assemble_statement(std::size_t i, Listing_Line& listed) {
    const Statement& statement = statements_[i];
    const Directive_Space space = space_of(statement);
    switch (space) {
    case Directive_Space::none:
        return;
    case Directive_Space::assign:
        return replay_set(statement, listed);
    case Directive_Space::equate:
        return resolve_equ(statement, i, listed);
    default:
        break;
    }
    const Directive_Info* info = statement.info();
    if (info && info->operands == Directive_Operands::optional_address && statement.depth > 0) {
        value_in(statement, statement.expression(), 0, 0xFFFF, "an address");
    }
    const bool has_address = statement.instruction || !statement.label.empty() ||
                             space == Directive_Space::origin || space == Directive_Space::data ||
                             space == Directive_Space::reserve;
    if (has_address && statement.address <= 0xFFFF) {
        listed.address = static_cast<std::uint16_t>(statement.address);
    }
    std::vector<std::uint8_t> bytes;
    emit_statement(statement, bytes);
    place(statement, static_cast<int>(i), bytes);
    listed.bytes = std::move(bytes);
}

void Assembler::replay_set(const Statement& statement, Listing_Line& listed) {
    Symbol& symbol = symbols_.entries.at(upper(statement.label));
    if (!symbol.is_set) {
        return;
    }
    symbol.value = statement.value;
    symbol.state = statement.has_value ? Symbol::State::resolved : Symbol::State::failed;
    if (statement.has_value) {
        listed.value = static_cast<std::uint16_t>(statement.value);
    }
}

// An EQU that no operand needed yet is evaluated on its own line, which reports its failure.
void Assembler::resolve_equ(const Statement& statement, std::size_t i, Listing_Line& listed) {
    Symbol& symbol = symbols_.entries.at(upper(statement.label));
    if (symbol.statement != static_cast<int>(i)) {
        return;
    }
    if (symbol.state != Symbol::State::resolved) {
        Failure failure;
        if (!resolve(symbol, failure) && !failure.message.empty()) {
            error(statement, failure.message);
        }
    }
    if (symbol.state == Symbol::State::resolved) {
        listed.value = static_cast<std::uint16_t>(symbol.value);
    }
}

void Assembler::emit_statement(const Statement& statement, std::vector<std::uint8_t>& bytes) {
    if (statement.instruction) {
        return emit_instruction(statement, bytes);
    }
    const Directive_Info* info = statement.info();
    switch (info ? info->data : Directive_Data::none) {
    case Directive_Data::fill:
        if (statement.filled) {
            const auto fill =
                value_in(statement, operands_of(statement).first[1], -128, 255, "a byte");
            bytes.assign(statement.size, static_cast<std::uint8_t>(fill.value_or(0)));
        }
        return;
    case Directive_Data::file:
        if (statement.size > 0) {
            const std::string& data = *program_.sources[statement.expression_begin];
            bytes.assign(data.begin(), data.end());
        }
        return;
    case Directive_Data::bytes:
    case Directive_Data::words:
        return emit_items(statement, bytes);
    case Directive_Data::none:
        return;
    }
}

void Assembler::emit_instruction(const Statement& statement, std::vector<std::uint8_t>& bytes) {
    std::uint8_t opcode = statement.opcode;
    std::int64_t value = 0;
    switch (statement.instruction->form) {
    case Form::mvi:
    case Form::immediate:
        value = value_in(statement, statement.expression(), -128, 255, "a byte").value_or(0);
        break;
    case Form::lxi:
    case Form::address:
        value = value_in(statement, statement.expression(), -32768, 65535, "a word").value_or(0);
        break;
    case Form::restart:
        if (const auto number = value_in(statement, statement.expression(), 0, 7, "RST (0 to 7)")) {
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
        push_word(bytes, value);
    }
}

// DB and DW: strings and values, one at a time.
void Assembler::emit_items(const Statement& statement, std::vector<std::uint8_t>& bytes) {
    const bool words = statement.info()->data == Directive_Data::words;
    for_each_item(statement, [&](const Lexer& operand, const std::string* text) {
        if (text) {
            bytes.insert(bytes.end(), text->begin(), text->end());
        } else if (!words) {
            bytes.push_back(static_cast<std::uint8_t>(
                value_in(statement, operand, -128, 255, "a byte").value_or(0)));
        } else {
            push_word(bytes, value_in(statement, operand, -32768, 65535, "a word").value_or(0));
        }
        return true;
    });
}

// Writes a statement's bytes into memory, checking the image's bounds and overlaps.
void Assembler::place(const Statement& statement, int index,
                      const std::vector<std::uint8_t>& bytes) {
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
        if (output_.owner[address] >= 0) {
            const Statement& other = statements_[static_cast<std::size_t>(output_.owner[address])];
            return error(statement, "code at " + hex(address, 4) + "H overlaps code from line " +
                                        std::to_string(other.line));
        }
    }
    for (std::uint32_t address = first; address <= last; ++address) {
        output_.owner[address] = index;
        output_.memory[address] = bytes[address - first];
        output_.highest = std::max(output_.highest, address);
        output_.any_placed = true;
    }
}

// The errors in source order, cut at maximum_errors; the symbols; the image.
void Assembler::finish() {
    sort_errors();
    // The statements are no longer needed: a million of them make a large table.
    statements_ = {};
    hand_over_symbols();
    if (!program_.errors.empty()) {
        return; // no image, and after a stop not even the memory to build one from
    }
    build_image();
}

void Assembler::sort_errors() {
    std::vector<std::size_t> positions(program_.errors.size());
    for (std::size_t k = 0; k < positions.size(); ++k) {
        positions[k] = k;
    }
    std::stable_sort(positions.begin(), positions.end(),
                     [&](std::size_t x, std::size_t y) { return log_.order[x] < log_.order[y]; });
    std::vector<Diagnostic> sorted;
    for (std::size_t k : positions) {
        sorted.push_back(std::move(program_.errors[k]));
    }
    program_.errors = std::move(sorted);
    if (program_.errors.size() > maximum_errors ||
        (log_.stopped && program_.errors.size() == maximum_errors)) {
        program_.errors.resize(maximum_errors);
        program_.errors.push_back({"", 0, "too many errors; stopping"});
        program_.stopped = true;
    }
}

// A million labels make large tables: each entry leaves the assembler's table as it enters
// the program's.
void Assembler::hand_over_symbols() {
    while (!symbols_.entries.empty()) {
        auto entry = symbols_.entries.extract(symbols_.entries.begin());
        const Symbol& symbol = entry.mapped();
        if ((!symbol.is_equ && !symbol.is_set) || symbol.state == Symbol::State::resolved) {
            if (symbol.is_equ || symbol.is_set) {
                program_.values.insert(entry.key());
            }
            program_.symbols.emplace(std::move(entry.key()),
                                     static_cast<std::uint16_t>(symbol.value));
        }
    }
}

void Assembler::build_image() {
    std::size_t length = output_.any_placed && output_.highest >= program_.base
                             ? output_.highest - program_.base + 1
                             : 0;
    if (options_.size) {
        length = *options_.size;
    }
    program_.image.assign(length, 0);
    for (std::size_t k = 0; k < length && program_.base + k <= 0xFFFF; ++k) {
        program_.image[k] = output_.memory[program_.base + k];
    }
}

} // namespace Asm8080::Detail
