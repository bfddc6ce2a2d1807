#pragma once

// The studio's machine: the board on the counted schedule that drovask-run and the play page's
// test interface run (an interrupt after every 1,938 instructions, two a frame), driven one
// instruction at a time, so that a debugger can stop anywhere and go on exactly as the schedule
// would have, pausing or not.
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
#include "machine/board.hpp"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Studio {

enum class Stop_Reason : std::uint8_t {
    done,       // the steps, the frames or the call asked for were run
    breakpoint, // PC reached a breakpoint (before its instruction runs)
    watch,      // an instruction (or an interrupt's push) stored into a watched address
    limit,      // the most frames allowed to look for a breakpoint or a return were run
};

struct Stop {
    Stop_Reason reason = Stop_Reason::done;
    std::uint16_t address = 0; // the breakpoint, or the watched address stored into
};

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
    void back_to_fault() { board_.processor.pc = instruction_pc_; }

    void set_breakpoint(std::uint16_t address, bool on);
    void clear_breakpoints();
    bool breakpoint_at(std::uint16_t address) const { return breakpoints_[address]; }

    // Stores into `first` and the `length` - 1 addresses after it stop the run after the
    // instruction that made them.
    void add_watch(std::uint16_t first, std::uint32_t length);
    void clear_watches();

    // Holds or releases a machine key from the start of the next frame (now, between frames).
    void key(char key, bool down);

    // Key changes to make at the start of their frames from now on, after those already given.
    void replay(const std::vector<Formats::Key_Event>& changes);

    // The key changes made so far, as a key script ("at FRAME press|release KEY").
    std::string recording() const;

    const Drovask::Board& board() const { return board_; }
    std::uint64_t frames() const { return frames_; }             // frames completed
    std::uint64_t instructions() const { return instructions_; } // instructions run
    // Instructions run since the last interrupt of the schedule, and interrupts in this frame.
    std::uint32_t period_position() const { return in_period_; }
    int frame_position() const { return in_frame_; }

private:
    struct Watch_Listener {
        Debugger* debugger;
        void operator()(std::uint16_t address, std::uint8_t, Store) const {
            debugger->stored(address);
        }
    };

    bool at_frame_start() const { return in_period_ == 0 && in_frame_ == 0; }
    void start_frame();
    void execute();
    void stored(std::uint16_t address);
    // Runs until `done()` holds after an instruction, a breakpoint or a watch stops it, or
    // `max_frames` more frames are complete.
    template <typename Done>
    Stop run_until(Done&& done, std::uint64_t max_frames, Stop_Reason at_limit);

    Drovask::Board board_;
    std::uint16_t instruction_pc_ = 0; // of the instruction being run
    std::uint32_t in_period_ = 0;
    int in_frame_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t instructions_ = 0;
    std::bitset<65536> breakpoints_;
    std::bitset<65536> watched_;
    bool watch_hit_ = false;
    std::uint16_t watch_address_ = 0;
    std::array<bool, 256> wanted_{};         // the keys as the person holds them now
    std::array<bool, 256> held_{};           // as the machine samples them
    std::vector<Formats::Key_Event> script_; // to replay, in the order of their frames
    std::size_t script_next_ = 0;
    std::vector<Formats::Key_Event> recorded_;
};

} // namespace Studio
