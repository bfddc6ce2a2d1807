#pragma once

// The machine on the clock that counts instructions: the board with its schedule (an interrupt
// after every `instructions_per_interrupt` instructions, two a frame), its counters and the keys
// that the timer samples. The same ROM and keys give the same machine on every computer, so
// every tool that runs a whole program runs it here: the headless runner, the studio's debugger,
// the ROM player and the browser's page. Only the desktop program's emulation thread steps the
// board against the real clock instead (Board::step).
//
//     Drovask::Session session(rom);
//     session.hold_keys(key_bit('C'));        // sampled at the next timer firing
//     session.run_frame();                    // 2 x (1,938 instructions, then the timer)
//     session.step();                         // one instruction (and the timer, if it is due)
//     const Drovask::Session::State saved = session.save();
//     session.run_frame();
//     session.restore(saved);                 // exactly as it was, counters included
//
// A host that looks inside (breakpoints, watches, a trace) drives it instruction by instruction
// with `execute(observer)` and `timer_due()`/`fire_timer(observer)`; one that only plays runs
// whole periods or frames through the plain path, which is as fast as the board itself.

#include "machine/board.hpp"

#include <cstdint>

namespace Drovask {

// The bit of input port 1 that the machine key `key` sets, or 0 for any other key.
constexpr std::uint8_t key_bit(char key) {
    for (const Input_Key& k : input_keys) {
        if (k.key == key) {
            return k.bit;
        }
    }
    return 0;
}

// The keys held, as the bits of `input_keys`: what the timer samples.
struct Held_Keys {
    std::uint8_t bits;
    constexpr bool operator()(char key) const { return (bits & key_bit(key)) != 0; }
};

class Session {
public:
    // Where the machine stands on its schedule, and what it has run.
    struct Counters {
        std::uint64_t frames = 0;       // frames completed
        std::uint64_t instructions = 0; // instructions run
        std::uint32_t in_period = 0;    // instructions since the last timer firing
        std::uint32_t in_frame = 0;     // timer firings in the frame under way
        std::uint8_t keys = 0;          // held, as bits of `input_keys`

        bool operator==(const Counters&) const = default;
    };

    // The whole machine as a value: save it, restore it, compare it.
    struct State {
        Board board;
        Counters counters;
    };

    // Power-on with `rom`: every other byte 0, the processor at its start-up state.
    explicit Session(Rom rom,
                     std::uint32_t instructions_per_interrupt = default_instructions_per_interrupt);

    // The keys that the timer samples from its next firing on.
    void hold_keys(std::uint8_t keys) { counters_.keys = keys; }
    std::uint8_t keys() const { return counters_.keys; }

    // One instruction, then the timer if that instruction completes its period. Throws
    // Tavrin::Exception for an instruction that is not implemented; the counters then stand as
    // before it and `instruction_pc()` is its address.
    template <Store_Observer Observer = No_Store_Observer>
    void step(Observer observe = {});

    // `count` instructions with no timer between them (a host that fires the timer itself).
    void run(std::uint64_t count);
    // The instructions left in the period under way, then the timer.
    void run_period();
    // To the end of the frame under way (a whole frame from the start of one).
    void run_frame();
    void run_frame(std::uint8_t keys) {
        hold_keys(keys);
        run_frame();
    }

    // The parts of `step`, for a host that looks at each instruction: one instruction without
    // the timer, and the timer, with `timer_due()` saying when the schedule fires it.
    template <Store_Observer Observer = No_Store_Observer>
    void execute(Observer observe = {});
    bool timer_due() const { return counters_.in_period >= instructions_per_interrupt_; }
    // The timer fires now: the keys are sampled and, if the program has enabled interrupts, the
    // next interrupt is delivered; the period starts again, and every second firing ends a frame.
    template <Store_Observer Observer = No_Store_Observer>
    void fire_timer(Observer observe = {});

    State save() const { return {board, counters_}; }
    void restore(const State& state);

    const Counters& counters() const { return counters_; }
    std::uint64_t frames() const { return counters_.frames; }
    std::uint64_t instructions() const { return counters_.instructions; }
    bool at_frame_start() const { return counters_.in_period == 0 && counters_.in_frame == 0; }
    std::uint32_t instructions_per_interrupt() const { return instructions_per_interrupt_; }
    // The address of the instruction being run, or of the last one that failed.
    std::uint16_t instruction_pc() const { return instruction_pc_; }

    Board board;

private:
    void count_instruction() {
        ++counters_.instructions;
        ++counters_.in_period;
    }

    Counters counters_;
    std::uint32_t instructions_per_interrupt_;
    std::uint16_t instruction_pc_ = 0;
};

// Equal when every register, flag, byte of memory, port and counter is.
bool operator==(const Session::State& a, const Session::State& b);

template <Store_Observer Observer>
void Session::execute(Observer observe) {
    instruction_pc_ = board.processor.pc;
    board.execute_instruction(observe);
    count_instruction();
}

template <Store_Observer Observer>
void Session::fire_timer(Observer observe) {
    board.fire_timer(Held_Keys{counters_.keys}, observe);
    counters_.in_period = 0;
    if (++counters_.in_frame == interrupts_per_frame) {
        counters_.in_frame = 0;
        ++counters_.frames;
    }
}

template <Store_Observer Observer>
void Session::step(Observer observe) {
    execute(observe);
    if (timer_due()) {
        fire_timer(observe);
    }
}

} // namespace Drovask
