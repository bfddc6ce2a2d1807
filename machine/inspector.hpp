#pragma once

// Breakpoints and watches over a session, and the run that stops at them: what every debugger of
// this machine (the studio's, the headless runner's) looks with.
//
//     Drovask::Inspector inspector;
//     inspector.set_breakpoint(0x0123);
//     inspector.add_watch(0x2400, 32);             // stores into 2400H-241FH stop the run
//     const Drovask::Stop stop = inspector.run(session, [] { return false; }, 600);
//     // stop.reason: breakpoint (PC stands at 0123H, not yet run), watch (after the store's
//     // instruction; stop.address is the byte), or limit (600 frames ran)
//
// A breakpoint stops the run before its instruction; a run that starts on one runs it, so a
// debugger goes on from where it stopped. Stores are heard through the processor's store
// observer, an interrupt's push included. A debugger that asks who wrote a byte has each store
// noted in a table as it steps (keep_last_writers).

#include "machine/last_writers.hpp"
#include "machine/session.hpp"
#include "processor/execute.hpp"

#include <bitset>
#include <cstdint>

namespace Drovask {

enum class Stop_Reason : std::uint8_t {
    done,       // the steps, the frames or the call asked for were run
    breakpoint, // PC reached a breakpoint (before its instruction runs)
    watch,      // an instruction (or an interrupt's push) stored into a watched address
    limit,      // the most frames allowed to look for a breakpoint or a return were run
    fault,      // a step did what the audit reports (a store outside RAM, the stack leaving it)
};

struct Stop {
    Stop_Reason reason = Stop_Reason::done;
    std::uint16_t address = 0; // the breakpoint, the watched address stored into, or for a fault
                               // its instruction (at an interrupt, the interrupted one)

    bool operator==(const Stop&) const = default;
};

// The name of a stop reason as a debugger's messages and the studio's page show it: "done",
// "breakpoint", "watch", "limit", "fault".
const char* stop_reason_name(Stop_Reason reason);

class Inspector {
public:
    void set_breakpoint(std::uint16_t address, bool on = true) { breakpoints_[address] = on; }
    void clear_breakpoints() { breakpoints_.reset(); }
    bool breakpoint_at(std::uint16_t address) const { return breakpoints_[address]; }
    bool any_breakpoint() const { return breakpoints_.any(); }

    // `first` and the `length` - 1 addresses after it (wrapping past FFFF; at most all 64 KiB).
    void add_watch(std::uint16_t first, std::uint32_t length);
    void clear_watches() { watched_.reset(); }
    bool watched(std::uint16_t address) const { return watched_[address]; }
    bool any_watch() const { return watched_.any(); }

    // From now on the steps note the last store into each address (a table of 1.5 MB).
    void keep_last_writers(const Session& session) { writers_.start(session); }
    const Last_Writers& last_writers() const { return writers_; }

    // One step of `session` (an instruction, and the timer if it is due); a watch stops it after
    // the instruction whose store it heard. `observe` hears every store as well.
    template <Store_Observer Observer = No_Store_Observer>
    Stop step(Session& session, Observer observe = {});

    // Steps until `done()` holds after a step, a breakpoint or a watch stops the run, or
    // `max_frames` more frames are complete (then the stop is `at_limit`). Before a step that
    // starts a frame, `frame_starts()` is called (to change the keys there, say).
    template <typename Done, typename Frame_Starts = void (*)()>
    Stop run(
        Session& session, Done&& done, std::uint64_t max_frames,
        Stop_Reason at_limit = Stop_Reason::limit, Frame_Starts&& frame_starts = [] {});

private:
    std::bitset<65536> breakpoints_;
    std::bitset<65536> watched_;
    Last_Writers writers_;
};

template <Store_Observer Observer>
Stop Inspector::step(Session& session, Observer observe) {
    Stop stop;
    bool hit = false;
    writers_.follow(session);
    session.step([&](std::uint16_t address, std::uint8_t value, Store store) {
        if (!hit && watched_[address]) {
            hit = true;
            stop = {Stop_Reason::watch, address};
        }
        writers_.heard(session, address, store);
        observe(address, value, store);
    });
    writers_.stepped(session);
    return stop;
}

template <typename Done, typename Frame_Starts>
Stop Inspector::run(Session& session, Done&& done, std::uint64_t max_frames, Stop_Reason at_limit,
                    Frame_Starts&& frame_starts) {
    const std::uint64_t last_frame = session.frames() + max_frames;
    for (bool first = true;; first = false) {
        const std::uint16_t pc = session.board.processor.pc;
        if (!first && breakpoints_[pc]) {
            return {Stop_Reason::breakpoint, pc};
        }
        if (session.at_frame_start()) {
            frame_starts();
        }
        if (const Stop stop = step(session); stop.reason != Stop_Reason::done) {
            return stop;
        }
        if (done()) {
            return {};
        }
        if (session.frames() >= last_frame && session.at_frame_start()) {
            return {at_limit, 0};
        }
    }
}

} // namespace Drovask
