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

} // namespace

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
