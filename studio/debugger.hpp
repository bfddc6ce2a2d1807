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
//
// Keys change only between frames, where a key script's `at FRAME` puts them, so every session
// can be written down as a key script (`recording()`) and replayed (`replay`) picture for picture.

#include "formats/key_script.hpp"
#include "machine/inspector.hpp"
#include "machine/session.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Studio {

using Stop_Reason = Drovask::Stop_Reason;
using Stop = Drovask::Stop;

class Debugger {
public:
    explicit Debugger(Drovask::Rom rom);

    // One instruction, then the interrupt if it completes a period. Throws Tavrin::Exception for
    // an instruction that is not implemented (as every way of running does); then
    // `back_to_fault()` puts PC back at it.
    Stop step();

    // As step, but a CALL, a conditional call that is taken or an RST runs until it returns to
    // the next instruction with the stack as it was (or stops, or `max_frames` frames pass).
    Stop step_over(std::uint64_t max_frames);

    // Runs to the end of the `count`-th frame from here (the current one, if the machine stands
    // inside a frame, counts as the first), stopping early at a breakpoint or a watch.
    Stop run_frames(std::uint64_t count);

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
    // At the start of a frame: the key script's changes due, then the keys as wanted now.
    void start_frame();

    Drovask::Session session_;
    Drovask::Inspector inspector_;
    std::array<bool, 256> wanted_{};         // the keys as the person holds them now
    std::vector<Formats::Key_Event> script_; // to replay, in the order of their frames
    std::size_t script_next_ = 0;
    std::vector<Formats::Key_Event> recorded_;
};

} // namespace Studio
