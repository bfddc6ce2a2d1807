#include "tools/drovask-run/runner.hpp"

#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "processor/execute.hpp"
#include "processor/opcodes.hpp"
#include "tools/drovask-run/inspection.hpp"

#include <ostream>

namespace Drovask {

namespace {

std::uint16_t word(int value) {
    return static_cast<std::uint16_t>(value);
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
    const std::string where =
        (fault.at_interrupt ? "interrupt at PC " : "PC ") + Formats::hex(fault.pc, 4);
    const std::string address = Formats::hex(fault.address, 4);
    const std::string ram = Formats::hex(writable_start, 4) + "-" + Formats::hex(writable_end, 4);
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

std::optional<Fault> store_fault(const Intel_8080& p, std::uint16_t address, Store store,
                                 std::uint16_t pc, bool at_interrupt) {
    if (store == Store::dropped) {
        return Fault{Fault_Kind::dropped_store, pc, address, at_interrupt};
    }
    if (store == Store::unguarded && address < p.writable_start) {
        return Fault{Fault_Kind::rom_store, pc, address};
    }
    if (store == Store::unguarded && address > p.writable_end) {
        return Fault{Fault_Kind::store_above_ram, pc, address};
    }
    return std::nullopt;
}

std::optional<Fault> port_fault(const std::array<std::uint8_t, 3>& bytes, std::uint16_t pc) {
    if (bytes[0] == opcodes::in && !is_input_port(bytes[1])) {
        return Fault{Fault_Kind::ignored_input_port, pc, bytes[1]};
    }
    if (bytes[0] == opcodes::out && !is_output_port(bytes[1])) {
        return Fault{Fault_Kind::ignored_output_port, pc, bytes[1]};
    }
    return std::nullopt;
}

// SP may stand anywhere from the bottom of RAM to just past its top (an empty stack).
std::optional<Fault> stack_fault(std::uint16_t sp_before, std::uint16_t sp_after, std::uint16_t pc,
                                 bool at_interrupt) {
    if (sp_after != sp_before && (sp_after < writable_start || sp_after > writable_end + 1)) {
        return Fault{Fault_Kind::stack_outside_ram, pc, sp_after, at_interrupt};
    }
    return std::nullopt;
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

Runner::Runner(Rom rom, Run_Options options)
    : session{rom, options.instructions_per_interrupt}, options_{options} {}

void Runner::hold(char key, bool held) {
    if (trace_ != nullptr && held_[static_cast<std::uint8_t>(key)] != held) {
        *trace_ << "-- frame " << frames() << ": " << (held ? "press " : "release ") << key << '\n';
    }
    held_[static_cast<std::uint8_t>(key)] = held;
}

void Runner::release_all() {
    held_.fill(false);
}

void Runner::restore(const Session::State& state) {
    session.restore(state);
    for (const Input_Key& k : input_keys) {
        held_[static_cast<std::uint8_t>(k.key)] = (state.counters.keys & k.bit) != 0;
    }
}

void Runner::add_breakpoint(std::uint16_t address) {
    inspector_.set_breakpoint(address);
}

void Runner::add_watch(std::uint16_t first, std::uint32_t length, std::ostream& out) {
    inspector_.add_watch(first, length);
    watch_out_ = &out;
}

bool Runner::looking() const {
    return options_.audit || inspector_.any_breakpoint() || watch_out_ != nullptr ||
           trace_ != nullptr;
}

void Runner::run(std::uint64_t count) {
    if (looking()) {
        run_looking(count);
    } else {
        session.run(count);
    }
}

void Runner::run_looking(std::uint64_t count) {
    const Intel_8080& p = board.processor;
    for (std::uint64_t i = 0; i < count && !stopped(); ++i) {
        const std::uint16_t pc = p.pc;
        if (inspector_.breakpoint_at(pc)) {
            stopped_at = pc;
            return;
        }
        const std::uint16_t sp = p.sp;
        const std::array<std::uint8_t, 3> bytes{p.memory[pc], p.memory[word(pc + 1)],
                                                p.memory[word(pc + 2)]};
        session.execute(Store_Listener{this});
        if (options_.audit) {
            record(port_fault(bytes, pc));
            record(stack_fault(sp, p.sp, pc, false));
        }
        if (trace_ != nullptr) {
            *trace_ << trace_line(pc, bytes, p, symbols_, lines_) << '\n';
        }
    }
}

void Runner::interrupt() {
    if (stopped()) {
        return;
    }
    std::uint8_t keys = 0;
    for (const Input_Key& k : input_keys) {
        keys = static_cast<std::uint8_t>(held_[static_cast<std::uint8_t>(k.key)] ? keys | k.bit
                                                                                 : keys);
    }
    session.hold_keys(keys);
    if (!looking()) {
        session.fire_timer();
        return;
    }
    const Intel_8080& p = board.processor;
    const std::uint16_t pc = p.pc;
    const std::uint16_t sp = p.sp;
    if (trace_ != nullptr) {
        *trace_ << interrupt_line(board, symbols_, lines_) << '\n';
    }
    interrupt_pc_ = pc;
    at_interrupt_ = true;
    session.fire_timer(Store_Listener{this});
    at_interrupt_ = false;
    if (options_.audit) {
        record(stack_fault(sp, p.sp, pc, true));
    }
}

void Runner::frame() {
    if (trace_ != nullptr) {
        *trace_ << "-- frame " << frames() << '\n';
    }
    counted_frame(
        options_.instructions_per_interrupt, [this](std::uint64_t count) { run(count); },
        [this] { interrupt(); }, [this] { return stopped(); });
}

void Runner::stored(std::uint16_t address, std::uint8_t value, Store store) {
    const Intel_8080& p = board.processor;
    const std::uint16_t pc = at_interrupt_ ? interrupt_pc_ : session.instruction_pc();
    if (options_.audit) {
        record(store_fault(p, address, store, pc, at_interrupt_));
    }
    if (watch_out_ != nullptr && inspector_.watched(address)) {
        *watch_out_ << watch_line({frames(), pc, at_interrupt_, address, p.memory[address], value,
                                   store == Store::dropped},
                                  symbols_, lines_)
                    << '\n';
    }
}

} // namespace Drovask
