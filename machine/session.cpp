#include "machine/session.hpp"

#include <algorithm>

namespace Drovask {

Session::Session(Rom rom, std::uint32_t instructions_per_interrupt)
    : board{rom}, instructions_per_interrupt_{instructions_per_interrupt} {}

void Session::run(std::uint64_t count) {
    // Counted in a local and added once: the loop keeps nothing in memory but the board. An
    // instruction that throws has done nothing, so the count stops before it.
    std::uint64_t done = 0;
    try {
        for (; done < count; ++done) {
            board.execute_instruction();
        }
    } catch (...) {
        // Every opcode that is not implemented is one byte long, and its fetch has moved PC on.
        instruction_pc_ = static_cast<std::uint16_t>(board.processor.pc - 1);
        counters_.instructions += done;
        counters_.in_period += static_cast<std::uint32_t>(done);
        throw;
    }
    counters_.instructions += done;
    counters_.in_period += static_cast<std::uint32_t>(done);
}

void Session::run_period() {
    run(instructions_per_interrupt_ - std::min(counters_.in_period, instructions_per_interrupt_));
    fire_timer();
}

void Session::run_frame() {
    do {
        run_period();
    } while (counters_.in_frame != 0);
}

void Session::restore(const State& state) {
    board = state.board;
    counters_ = state.counters;
}

bool operator==(const Session::State& a, const Session::State& b) {
    const Intel_8080& p = a.board.processor;
    const Intel_8080& q = b.board.processor;
    const bool same_processor =
        p.a == q.a && p.b == q.b && p.c == q.c && p.d == q.d && p.e == q.e && p.h == q.h &&
        p.l == q.l && p.sp == q.sp && p.pc == q.pc && p.flags == q.flags &&
        p.interrupts_enabled == q.interrupts_enabled && p.writable_start == q.writable_start &&
        p.writable_end == q.writable_end && p.video_start == q.video_start && p.memory == q.memory;
    return same_processor && a.board.shift_register == b.board.shift_register &&
           a.board.shift_amount == b.board.shift_amount && a.board.input == b.board.input &&
           a.board.interrupt_number == b.board.interrupt_number && a.counters == b.counters;
}

} // namespace Drovask
