#include "tools/drovask-run/inspection.hpp"

#include "formats/hex.hpp"
#include "tools/disassembler/disassembler.hpp"
#include "tools/drovask-run/runner.hpp"

#include <ostream>

namespace Drovask {

namespace {

using Formats::hex;

std::uint16_t word(unsigned value) {
    return static_cast<std::uint16_t>(value);
}

std::array<std::uint8_t, 3> bytes_at(const Intel_8080& p, std::uint16_t address) {
    return {p.memory[address], p.memory[word(address + 1u)], p.memory[word(address + 2u)]};
}

// The bytes of an instruction, padded to the width of three.
std::string bytes_text(const std::array<std::uint8_t, 3>& bytes, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < 3; ++i) {
        text += i < size ? hex(bytes[i], 2) : "  ";
        text += ' ';
    }
    return text;
}

// " demo.asm:12" when `lines` knows where the code at `address` was written.
std::string place_text(std::uint16_t address, const Formats::Line_Map* lines) {
    const std::string place = lines != nullptr ? lines->place_of(address) : "";
    return place.empty() ? place : ' ' + place;
}

} // namespace

std::string registers_text(const Intel_8080& p) {
    const auto bit = [&](std::uint8_t mask) { return (p.flags & mask) != 0 ? "1" : "0"; };
    return "A=" + hex(p.a, 2) + " BC=" + hex(get_bc(p), 4) + " DE=" + hex(get_de(p), 4) +
           " HL=" + hex(get_hl(p), 4) + " SP=" + hex(p.sp, 4) + " F=" + hex(p.flags, 2) +
           " S=" + bit(flag::sign) + " Z=" + bit(flag::zero) + " AC=" + bit(flag::auxiliary_carry) +
           " P=" + bit(flag::parity) + " CY=" + bit(flag::carry);
}

std::string address_text(std::uint16_t address, const Formats::Symbols* symbols,
                         const Formats::Line_Map* lines) {
    const std::string name = symbols != nullptr ? symbols->near_name(address) : "";
    return (name.empty() ? hex(address, 4) : hex(address, 4) + " (" + name + ")") +
           place_text(address, lines);
}

std::string trace_line(std::uint16_t pc, const std::array<std::uint8_t, 3>& bytes,
                       const Intel_8080& after, const Formats::Symbols* symbols,
                       const Formats::Line_Map* lines) {
    const Asm8080::Disassembly instruction = Asm8080::disassemble(bytes, symbols);
    std::string line = hex(pc, 4);
    line += ' ';
    line += bytes_text(bytes, instruction.size);
    line += ' ';
    line += instruction.text;
    line.append(instruction.text.size() < 18 ? 18 - instruction.text.size() : 0, ' ');
    line += ' ';
    line += registers_text(after);
    line += place_text(pc, lines);
    return line;
}

std::string interrupt_line(const Board& board, const Formats::Symbols* symbols,
                           const Formats::Line_Map* lines) {
    const Intel_8080& p = board.processor;
    if (!p.interrupts_enabled) {
        return "-- interrupt timer: no interrupt, they are disabled (keys sampled)";
    }
    return "-- interrupt: RST " + std::to_string(board.interrupt_number) + " to " +
           address_text(word(board.interrupt_number * 8), symbols) + " from PC " +
           address_text(p.pc, symbols, lines) + ", pushed at SP " + hex(word(p.sp - 2u), 4) +
           " (keys sampled)";
}

std::string watch_line(const Watched_Store& store, const Formats::Symbols* symbols,
                       const Formats::Line_Map* lines) {
    std::string line = "watch: frame " + std::to_string(store.frame) + ", " +
                       (store.at_interrupt ? "interrupt at PC " : "PC ") +
                       address_text(store.pc, symbols, lines) + ": " +
                       address_text(store.address, symbols) + " " + hex(store.old_value, 2) +
                       " -> " + hex(store.new_value, 2);
    if (store.dropped) {
        line += " dropped (outside RAM, the byte stays " + hex(store.old_value, 2) + ")";
    } else if (store.old_value == store.new_value) {
        line += " (unchanged)";
    }
    return line;
}

void write_break_report(std::ostream& out, const Runner& runner) {
    const Intel_8080& p = runner.board.processor;
    const Formats::Symbols* symbols = runner.symbols();
    const Formats::Line_Map* lines = runner.line_map();
    out << "stopped at breakpoint " << address_text(*runner.stopped_at, symbols, lines)
        << " in frame " << runner.frames() << " after " << runner.instructions()
        << " instructions\n";
    out << "registers: " << registers_text(p) << " interrupts "
        << (p.interrupts_enabled ? "enabled" : "disabled") << '\n';
    out << "next instructions:\n";
    std::uint16_t address = p.pc;
    for (int i = 0; i < 5; ++i) {
        const auto bytes = bytes_at(p, address);
        const Asm8080::Disassembly instruction = Asm8080::disassemble(bytes, symbols);
        out << (i == 0 ? "> " : "  ") << hex(address, 4) << ' '
            << bytes_text(bytes, instruction.size) << ' ' << instruction.text
            << place_text(address, lines) << '\n';
        address = word(address + static_cast<unsigned>(instruction.size));
    }
    out << "stack from SP " << hex(p.sp, 4) << ":";
    for (unsigned i = 0; i < 8; ++i) {
        const std::uint16_t at = word(p.sp + 2 * i);
        out << ' ' << hex(make_pair(p.memory[word(at + 1u)], p.memory[at]), 4);
    }
    out << '\n';
}

void write_state(std::ostream& out, const Runner& runner) {
    const Board& board = runner.board;
    const Intel_8080& p = board.processor;
    out << "frame " << runner.frames() << '\n'
        << "instructions " << runner.instructions() << '\n'
        << "pc " << hex(p.pc, 4) << '\n'
        << "sp " << hex(p.sp, 4) << '\n'
        << "a " << hex(p.a, 2) << '\n'
        << "bc " << hex(get_bc(p), 4) << '\n'
        << "de " << hex(get_de(p), 4) << '\n'
        << "hl " << hex(get_hl(p), 4) << '\n'
        << "flags " << hex(p.flags, 2) << '\n';
    const std::pair<const char*, std::uint8_t> flags[] = {{"s", flag::sign},
                                                          {"z", flag::zero},
                                                          {"ac", flag::auxiliary_carry},
                                                          {"p", flag::parity},
                                                          {"cy", flag::carry}};
    for (const auto& [name, mask] : flags) {
        out << "flag_" << name << ' ' << ((p.flags & mask) != 0 ? 1 : 0) << '\n';
    }
    out << "interrupts_enabled " << (p.interrupts_enabled ? 1 : 0) << '\n'
        << "next_interrupt " << hex(board.interrupt_number * 8, 4) << '\n'
        << "shift_register " << hex(make_pair(board.shift_register[1], board.shift_register[0]), 4)
        << '\n'
        << "shift_amount " << unsigned{board.shift_amount} << '\n'
        << "input " << hex(board.input, 2) << '\n'
        << "ram " << hex(p.writable_start, 4) << '-' << hex(p.writable_end, 4) << '\n';
    for (std::uint32_t line = p.writable_start; line <= p.writable_end; line += 32) {
        out << hex(line, 4) << ':';
        for (std::uint32_t i = line; i < line + 32 && i <= p.writable_end; ++i) {
            out << ' ' << hex(p.memory[i], 2);
        }
        out << '\n';
    }
}

} // namespace Drovask
