#pragma once

// The studio's machine: a session on the counted schedule that drovask-run and the play page's
// test interface run (an interrupt after every 1,938 instructions, two a frame), driven one
// instruction at a time through the inspector, so that a debugger can stop anywhere and go on
// exactly as the schedule would have, pausing or not.
//
//     Studio::Debugger debugger(rom);
//     debugger.set_breakpoint(0x0123, true);
//     const Studio::Stop stop = debugger.run_frames(600); // stop.reason == Stop_Reason::breakpoint
//     debugger.step_over();                               // a CALL runs to its return
//     debugger.key('C', true);                            // from the next frame on
//     debugger.step_back();                               // the machine before the last step
//     debugger.reverse_continue(600);                     // back to the last breakpoint hit
//     debugger.who_wrote(0x2400);                         // the last store into 2400H
//     debugger.step_out(600);                             // to the caller, after its CALL
//     debugger.call_stack();                              // the calls PC is inside
//     debugger.stop_on_faults(true);                      // the audit's faults stop runs
//     debugger.audit().entries();                         // and each is kept as it is met
//
// Keys change only between frames, where a key script's `at FRAME` puts them, so every session
// can be written down as a key script (`recording()`) and replayed (`replay`) picture for picture.
//
// The session's past is kept in a history (a snapshot every few frames, ten minutes of them, and
// the keys): going back restores the snapshot before the point and runs forward to it, and the
// searches backwards (reverse continue, step back over, who wrote) replay the past window by
// window, latest first, looking at each instruction. Running forward costs nothing more. Going
// forward from the past replays the keys that the past held, so it lands on the states it went
// through before; the keys held now take effect once the machine is past the latest frame it ran.
//
// The call stack follows every step; it is kept beside the history's snapshots (every 30 frames)
// and, after going back, built again by running from the one before the point, so it is the
// same whichever way the machine got there.

#include "formats/key_script.hpp"
#include "machine/audit.hpp"
#include "machine/call_stack.hpp"
#include "machine/history.hpp"
#include "machine/inspector.hpp"
#include "machine/session.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Studio {

using Stop_Reason = Drovask::Stop_Reason;
using Stop = Drovask::Stop;

// The address of the video byte that holds the upright picture's pixel at column `x`, row `y`.
constexpr std::uint16_t picture_address(std::uint32_t x, std::uint32_t y) {
    constexpr std::uint32_t bytes_per_line = Drovask::screen_size.height / 8;
    return static_cast<std::uint16_t>(Drovask::video_start + bytes_per_line * x +
                                      (Drovask::screen_size.height - 1 - y) / 8);
}

// The last store into a byte: the instruction that made it, or the interrupt whose push did.
struct Writer {
    std::uint64_t frame;       // the frame under way then
    std::uint64_t instruction; // instructions run before it; going there shows it about to run
                               // (after an interrupt's push: the interrupt just taken)
    std::uint16_t pc;          // the storing instruction; at an interrupt, the interrupted PC
    bool interrupt;

    bool operator==(const Writer&) const = default;
};

class Debugger {
public:
    explicit Debugger(Drovask::Rom rom);

    // One instruction, then the interrupt if it completes a period. Throws Tavrin::Exception for
    // an instruction that is not implemented (as every way of running does); then
    // `back_to_fault()` puts PC back at it.
    Stop step() { return step(No_Store_Observer{}); }
    // As step, `observe` hearing the instruction's stores and then the interrupt's push (when
    // `instructions()` has counted the instruction already).
    template <Store_Observer Observer>
    Stop step(Observer observe);

    // As step, but a CALL, a conditional call that is taken or an RST runs until it returns to
    // the next instruction with the stack as it was (or stops, or `max_frames` frames pass).
    Stop step_over(std::uint64_t max_frames);

    // Runs until the innermost call on the call stack has returned (its return address popped),
    // stopping early at a breakpoint or a watch, or after `max_frames` frames (reason limit).
    // Outside every call it runs `max_frames` frames.
    Stop step_out(std::uint64_t max_frames);

    // Runs until PC is at `address` after a step, or a breakpoint or a watch stops it, or
    // `max_frames` frames pass (reason limit).
    Stop run_to(std::uint16_t address, std::uint64_t max_frames);

    // The calls PC is inside, outermost first.
    std::span<const Drovask::Call_Frame> call_stack() const {
        return calls_.frames(session_.board.processor.sp);
    }

    // Runs to the end of the `count`-th frame from here (the current one, if the machine stands
    // inside a frame, counts as the first), stopping early at a breakpoint or a watch.
    Stop run_frames(std::uint64_t count);

    // Going back in the history. The steps back stop with reason limit, the machine where it
    // was, when the history does not reach back far enough.
    // One instruction back: the machine as it was before the last step.
    Stop step_back();
    // One instruction back, but back from the return of a CALL (a conditional call or an RST)
    // to the call itself, skipping the callee: step over's start.
    Stop step_back_over();
    // Back to the last point before this one where a breakpoint or a watch would stop a run
    // forwards (a breakpoint before its instruction, a watch after its store), looking at most
    // `max_frames` frames back; when there is none, as far back as it looked (reason limit).
    // `resumed`: the search goes on from where the last one reached its limit, so a store that
    // lands exactly here stops it too (from a stop, that store is the one it stopped after).
    Stop reverse_continue(std::uint64_t max_frames, bool resumed = false);
    // To the start of frame `frame` (backwards or forwards within the history); false, the
    // machine where it was, outside it.
    bool seek_frame(std::uint64_t frame);
    // To the point after `instructions` instructions in all, within the history.
    bool seek(std::uint64_t instructions);
    // The last store into `address` before now that wrote it (a dropped one did not), within the
    // history; the machine stays where it is.
    std::optional<Writer> who_wrote(std::uint16_t address);

    const Drovask::History& history() const { return history_; }

    // After an instruction threw: PC at that instruction again, which did nothing else, so the
    // machine stands where the program failed and a step shows the failure again.
    void back_to_fault() { session_.board.processor.pc = session_.instruction_pc(); }

    void set_breakpoint(std::uint16_t address, bool on) { inspector_.set_breakpoint(address, on); }
    void clear_breakpoints() { inspector_.clear_breakpoints(); }
    bool breakpoint_at(std::uint16_t address) const { return inspector_.breakpoint_at(address); }

    // Stores into `first` and the `length` - 1 addresses after it stop the run after the
    // instruction that made them.
    void add_watch(std::uint16_t first, std::uint32_t length) {
        inspector_.add_watch(first, length);
    }
    void clear_watches() { inspector_.clear_watches(); }

    // The audit's faults that the machine met running forwards since power-on (stores outside
    // RAM, the stack leaving RAM, ports that nothing answers), each distinct one with its count.
    const Drovask::Audit& audit() const { return audit_; }
    // With `on`, a fault stops the run after the step that made it (reason fault, the stop's
    // address its instruction); `last_fault()` is the one that did.
    void stop_on_faults(bool on) { stop_on_faults_ = on; }
    const std::optional<Drovask::Fault>& last_fault() const { return last_fault_; }

    // Holds or releases a machine key from the start of the next frame (now, between frames).
    void key(char key, bool down);

    // Key changes to make at the start of their frames from now on, after those already given.
    void replay(const std::vector<Formats::Key_Event>& changes);

    // The key changes made so far, as a key script ("at FRAME press|release KEY").
    std::string recording() const;

    const Drovask::Board& board() const { return session_.board; }
    const Drovask::Session& session() const { return session_; }
    std::uint64_t frames() const { return session_.frames(); }             // frames completed
    std::uint64_t instructions() const { return session_.instructions(); } // instructions run
    // Instructions run since the last interrupt of the schedule, and interrupts in this frame.
    std::uint32_t period_position() const { return session_.counters().in_period; }
    int frame_position() const { return static_cast<int>(session_.counters().in_frame); }

private:
    // At the start of a frame: a snapshot when one is due; in the past, the keys it held; else
    // the key script's changes due, then the keys as wanted now.
    void start_frame();
    // Steps until `done()` holds after a step, a breakpoint or a watch stops the run, or
    // `max_frames` more frames are complete (then the stop is `at_limit`), the call stack
    // following each step: every way forward runs here, as nearly as fast as the plain path.
    template <typename Done, Store_Observer Observer = No_Store_Observer>
    Stop run(Done&& done, std::uint64_t max_frames, Stop_Reason at_limit, Observer heard = {});
    // To the point after `instructions` instructions in all, within the history, with the call
    // stack as it was there.
    bool go_to(std::uint64_t instructions);
    // Keeps a fault that the audit met; true when it stops the run (faults stop runs, and
    // `may_stop`: nothing else stopped it yet). Kept out of line: `execute` is flattened, and
    // everything it calls is inlined into each of its 256 handlers.
    [[gnu::noinline]] bool fault_met(const Drovask::Fault& fault, bool may_stop);
    // The keys held in frame `frame`, from the log.
    std::uint8_t keys_in(std::uint64_t frame) const;
    // Replays the past from `from` to `to` instructions: `step(session)` runs one instruction
    // at a time, and the keys change at frame starts as they did.
    template <typename Step>
    void replay_past(std::uint64_t from, std::uint64_t to, Step&& step);
    // Replays the windows between snapshots from `now` back to `floor`, latest first, until
    // `scan(from, to)` says it found what it looks for.
    template <typename Scan>
    bool search_back(std::uint64_t now, std::uint64_t floor, Scan&& scan);

    Drovask::Session session_;
    Drovask::Inspector inspector_;
    std::array<bool, 256> wanted_{};         // the keys as the person holds them now
    std::vector<Formats::Key_Event> script_; // to replay, in the order of their frames
    std::size_t script_next_ = 0;
    // The keys held from each frame on where they changed; the first entry is power-on's.
    struct Frame_Keys {
        std::uint64_t frame;
        std::uint8_t keys;
    };
    std::vector<Frame_Keys> keys_log_{{0, 0}};
    std::uint64_t frames_keyed_ = 0; // frames whose keys are in the log: the past's
    Drovask::History history_;
    Drovask::Call_Stack calls_;
    Drovask::Audit audit_;
    bool stop_on_faults_ = false;
    std::optional<Drovask::Fault> last_fault_;
    // The call stack at frame starts every `frames_between_snapshots` frames, as far back as the
    // history reaches.
    struct Calls_At {
        std::uint64_t instructions;
        std::vector<Drovask::Call_Frame> frames;
    };
    std::deque<Calls_At> calls_kept_{{0, {}}};
};

template <Store_Observer Observer>
Stop Debugger::step(Observer observe) {
    return run([] { return true; }, 0, Stop_Reason::done, observe);
}

template <typename Done, Store_Observer Observer>
Stop Debugger::run(Done&& done, std::uint64_t max_frames, Stop_Reason at_limit, Observer heard) {
    using Drovask::Call_Stack;
    const std::uint64_t last_frame = frames() + max_frames;
    const Drovask::Board& board = session_.board;
    const std::uint16_t& pc = board.processor.pc;
    const Intel_8080& p = board.processor;
    Stop stop;
    // The audit looks at every step: each fault is kept, and with `stop_on_faults_` the first
    // ends the run after its step.
    std::uint16_t at = pc;   // the instruction being run
    std::uint16_t sp = p.sp; // SP before it
    bool at_interrupt = false;
    const auto met = [&](const std::optional<Drovask::Fault>& fault) {
        if (fault && fault_met(*fault, stop.reason == Stop_Reason::done)) {
            stop = {Stop_Reason::fault, fault->pc};
        }
    };
    // The first store into a watched address stops the run after its step.
    const auto observe = [&](std::uint16_t address, std::uint8_t value, Store store) {
        if (stop.reason == Stop_Reason::done && inspector_.watched(address)) {
            stop = {Stop_Reason::watch, address};
        }
        met(Drovask::store_fault(p, address, store, at_interrupt ? p.pc : at, at_interrupt));
        heard(address, value, store);
    };
    // After each step: the audit's port and stack rules, the call stack follows it (only a call,
    // a return or an interrupt changes it), then a watch's store, a fault or `done` ends it. Of the
    // machine before the next step it needs all only before a call or a return: reading PC and SP
    // at once just after the instruction stored them one by one would wait for the stores, at every
    // instruction.
    Call_Stack::Before before = Call_Stack::before(board);
    const auto after_step = [&] {
        met(Drovask::port_fault({before.opcode, p.memory[static_cast<std::uint16_t>(at + 1)],
                                 p.memory[static_cast<std::uint16_t>(at + 2)]},
                                at));
        met(Drovask::stack_fault(sp, p.sp, at, false));
        sp = p.sp;
        at = pc;
        if (Call_Stack::is_call(before.opcode) || Call_Stack::is_return(before.opcode) ||
            board.interrupt_number != before.interrupt_number) {
            calls_.stepped(before, board);
            before.interrupt_number = board.interrupt_number;
        }
        before.opcode = p.memory[pc];
        if (Call_Stack::is_call(before.opcode) || Call_Stack::is_return(before.opcode)) {
            before = Call_Stack::before(board);
        }
        return stop.reason != Stop_Reason::done || done();
    };
    if (session_.at_frame_start()) {
        start_frame();
    }
    // One call of `execute` for every instruction: the browser's build inlines the processor
    // into it, once. (No try block here: that build would route every call inside one through
    // JavaScript.) The instructions left in the period are counted here, in a register.
    const std::uint32_t period = session_.instructions_per_interrupt();
    std::uint32_t left = period - std::min(period - 1, session_.counters().in_period);
    for (;;) {
        session_.execute(observe);
        const bool period_ends = --left == 0;
        if (period_ends) {
            // The instruction's own change of SP, then the interrupt's entry at its end.
            met(Drovask::stack_fault(sp, p.sp, at, false));
            sp = p.sp;
            const std::uint16_t interrupted = pc;
            at_interrupt = true;
            session_.fire_timer(observe);
            at_interrupt = false;
            met(Drovask::stack_fault(sp, p.sp, interrupted, true));
            sp = p.sp;
            left = period;
        }
        if (after_step()) {
            return stop;
        }
        const bool frame_starts = period_ends && session_.at_frame_start();
        if (frame_starts && frames() >= last_frame) {
            return {at_limit, 0};
        }
        if (inspector_.breakpoint_at(pc)) {
            return {Stop_Reason::breakpoint, pc};
        }
        if (frame_starts) {
            start_frame();
        }
    }
}

} // namespace Studio
