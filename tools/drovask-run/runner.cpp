#include "tools/drovask-run/runner.hpp"

#include "processor/opcodes.hpp"
#include "window/exception.hpp"

#include <cstdio>
#include <ostream>

namespace Drovask {

namespace {

constexpr bool is_push(std::uint8_t opcode) {
    return (opcode & 0xCF) == 0xC5;
}
constexpr bool is_conditional_call(std::uint8_t opcode) {
    return (opcode & 0xC7) == 0xC4;
}
constexpr bool is_restart(std::uint8_t opcode) {
    return (opcode & 0xC7) == 0xC7;
}
// MOV M,r, MVI M, INR M and DCR M: the processor's stores that are not guarded.
constexpr bool stores_through_hl(std::uint8_t opcode) {
    return (opcode >= 0x70 && opcode <= 0x77 && opcode != opcodes::hlt) ||
           opcode == opcodes::mvi_m || opcode == opcodes::inr_m || opcode == opcodes::dcr_m;
}

std::uint16_t word(int value) {
    return static_cast<std::uint16_t>(value);
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

const char* kind_name(Fault_Kind kind) {
    switch (kind) {
    case Fault_Kind::dropped_store:
        return "stores dropped outside RAM";
    case Fault_Kind::rom_store:
        return "stores through HL into the ROM";
    case Fault_Kind::store_above_ram:
        return "stores through HL above RAM";
    case Fault_Kind::ignored_input_port:
        return "INs from ignored ports";
    case Fault_Kind::ignored_output_port:
        return "OUTs to ignored ports";
    case Fault_Kind::stack_outside_ram:
        return "changes of SP to outside RAM";
    }
    return "?";
}

} // namespace

std::string describe(const Fault& fault) {
    const std::string where = (fault.at_interrupt ? "interrupt at PC " : "PC ") + hex4(fault.pc);
    const std::string address = hex4(fault.address);
    const std::string ram = hex4(writable_start) + "-" + hex4(writable_end);
    switch (fault.kind) {
    case Fault_Kind::dropped_store:
        return where + ": store to " + address + " dropped (outside RAM, " + ram + ")";
    case Fault_Kind::rom_store:
        return where + ": store through HL into the ROM at " + address;
    case Fault_Kind::store_above_ram:
        return where + ": store through HL above RAM at " + address;
    case Fault_Kind::ignored_input_port:
        return where + ": IN from port " + std::to_string(fault.address) +
               ", which the machine ignores";
    case Fault_Kind::ignored_output_port:
        return where + ": OUT to port " + std::to_string(fault.address) +
               ", which the machine ignores";
    case Fault_Kind::stack_outside_ram:
        return where + ": SP left RAM (" + ram + "): " + address;
    }
    return where;
}

void Audit::record(const Fault& fault) {
    ++total_;
    ++counts_[static_cast<std::size_t>(fault.kind)];
    const std::uint64_t key = std::uint64_t{static_cast<std::uint8_t>(fault.kind)} << 40 |
                              std::uint64_t{fault.at_interrupt} << 32 |
                              std::uint64_t{fault.pc} << 16 | fault.address;
    if (const auto found = index_.find(key); found != index_.end()) {
        ++entries_[found->second].times;
    } else if (entries_.size() < max_entries) {
        index_.emplace(key, entries_.size());
        entries_.push_back({fault, 1});
    }
}

void Audit::report(std::ostream& out, std::size_t max_lines) const {
    if (total_ == 0) {
        out << "audit: nothing to report\n";
        return;
    }
    std::size_t lines = 0;
    for (const Entry& entry : entries_) {
        if (lines++ == max_lines) {
            break;
        }
        out << describe(entry.fault);
        if (entry.times > 1) {
            out << " (" << entry.times << " times)";
        }
        out << '\n';
    }
    if (entries_.size() > max_lines) {
        out << "... and " << entries_.size() - max_lines << " more distinct faults\n";
    }
    out << "audit: " << total_ << (total_ == 1 ? " fault:" : " faults:");
    const char* separator = " ";
    for (std::size_t kind = 0; kind < fault_kind_count; ++kind) {
        if (counts_[kind] != 0) {
            out << separator << counts_[kind] << ' ' << kind_name(static_cast<Fault_Kind>(kind));
            separator = ", ";
        }
    }
    out << '\n';
}

Runner::Runner(Rom rom, Run_Options options) : board{rom}, options_{options} {}

void Runner::hold(char key, bool held) {
    held_[static_cast<std::uint8_t>(key)] = held;
}

void Runner::release_all() {
    held_.fill(false);
}

void Runner::run(std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) {
        instruction_pc = board.processor.pc;
        if (options_.audit) {
            audited_instruction();
        } else {
            board.execute_instruction();
        }
        ++instructions;
    }
}

void Runner::interrupt() {
    const Intel_8080& p = board.processor;
    const std::uint16_t pc = p.pc;
    const std::uint16_t sp = p.sp;
    if (options_.audit && p.interrupts_enabled) {
        check_store(word(sp - 1), pc, true);
        check_store(word(sp - 2), pc, true);
    }
    board.fire_timer([this](char key) { return held_[static_cast<std::uint8_t>(key)]; });
    if (options_.audit) {
        check_stack(sp, pc, true);
    }
}

void Runner::frame() {
    counted_frame(
        options_.instructions_per_interrupt, [this](std::uint64_t count) { run(count); },
        [this] { interrupt(); });
}

// Works out what the instruction at PC is about to do, runs it, and records what was wrong.
void Runner::audited_instruction() {
    const Intel_8080& p = board.processor;
    const std::uint16_t pc = p.pc;
    const std::uint16_t sp = p.sp;
    const auto at = [&](int offset) { return p.memory[word(pc + offset)]; };
    const std::uint8_t opcode = at(0);
    const auto operand = word(at(1) | at(2) << 8);
    const std::uint16_t hl = get_hl(p);

    // The guarded stores it may make; a conditional call makes them only when it is taken.
    std::array<std::uint16_t, 2> stores{};
    std::size_t store_count = 0;
    const auto will_store = [&](std::uint16_t address) { stores[store_count++] = address; };
    if (opcode == opcodes::sta) {
        will_store(operand);
    } else if (opcode == opcodes::shld) {
        will_store(operand);
        will_store(word(operand + 1));
    } else if (opcode == opcodes::stax_b) {
        will_store(get_bc(p));
    } else if (opcode == opcodes::stax_d) {
        will_store(get_de(p));
    } else if (is_push(opcode) || opcode == opcodes::call || is_conditional_call(opcode) ||
               is_restart(opcode)) {
        will_store(word(sp - 1));
        will_store(word(sp - 2));
    } else if (opcode == opcodes::xthl) {
        will_store(sp);
        will_store(word(sp + 1));
    }

    board.execute_instruction();

    if (is_conditional_call(opcode) && p.sp == sp) {
        store_count = 0; // not taken
    }
    for (std::size_t i = 0; i < store_count; ++i) {
        check_store(stores[i], pc, false);
    }
    if (stores_through_hl(opcode)) {
        if (hl < p.writable_start) {
            audit.record({Fault_Kind::rom_store, pc, hl});
        } else if (hl > p.writable_end) {
            audit.record({Fault_Kind::store_above_ram, pc, hl});
        }
    } else if (opcode == opcodes::in && !is_input_port(at(1))) {
        audit.record({Fault_Kind::ignored_input_port, pc, at(1)});
    } else if (opcode == opcodes::out && !is_output_port(at(1))) {
        audit.record({Fault_Kind::ignored_output_port, pc, at(1)});
    }
    check_stack(sp, pc, false);
}

void Runner::check_store(std::uint16_t address, std::uint16_t pc, bool at_interrupt) {
    const Intel_8080& p = board.processor;
    if (address < p.writable_start || address > p.writable_end) {
        audit.record({Fault_Kind::dropped_store, pc, address, at_interrupt});
    }
}

// SP may stand anywhere from the bottom of RAM to just past its top (an empty stack).
void Runner::check_stack(std::uint16_t sp_before, std::uint16_t pc, bool at_interrupt) {
    const Intel_8080& p = board.processor;
    if (p.sp != sp_before && (p.sp < p.writable_start || p.sp > p.writable_end + 1)) {
        audit.record({Fault_Kind::stack_outside_ram, pc, p.sp, at_interrupt});
    }
}

} // namespace Drovask
