#pragma once

// The keys of a played session as a key script that drovask-run replays to the same pictures,
// one "at FRAME press|release KEY" line for each change of the keys between two frames (FRAME:
// the frames run since power-on before it, as drovask-run counts them, also after --load-state).
//
//     Key_Record record;                          // from power-on
//     record.frame_starts(keys);                  // before each frame, the keys down in it
//     session.run_frame(keys);
//     record.frame_ends();
//     record.rewind_to(session.frames());         // the machine went back: the rest is forgotten
//     record.restart_from(session, rom);          // the machine goes on from a loaded state
//     // record.text(): "at 30 press C" ...; record.frames(): the frames it plays;
//     // record.start_state(): the state file it starts from (empty: power-on)
//
// After a rewind the record is what was played up to the frame gone back to, and play goes on
// from there, so it replays from power-on (or from the loaded state) to the picture played last.
// After a load it starts again from the loaded state: drovask-run --load-state with that state
// replays it.

#include "formats/key_script.hpp"
#include "machine/session.hpp"

#include <cstdint>
#include <string>
#include <vector>

class Key_Record {
public:
    // The frame about to run has `keys` (bits of Drovask::input_keys) down.
    void frame_starts(std::uint8_t keys);
    // That frame has run.
    void frame_ends() { ++next_frame_; }
    // The machine starts again from power-on: the session recorded so far is dropped.
    void restart() { *this = {}; }
    // The machine goes on from the state just loaded into `session`, which runs `rom`: the record
    // starts again from its frame, and replays from that state (with its keys released).
    void restart_from(const Drovask::Session& session, Drovask::Rom rom);
    // The machine went back to after `frame` frames (no earlier than the record's first): what
    // was played after it is forgotten.
    void rewind_to(std::uint64_t frame);

    // The frame the record starts from (0: power-on), and the frames it plays from there.
    std::uint64_t first_frame() const { return first_frame_; }
    std::uint64_t frames() const { return next_frame_ - first_frame_; }
    std::string text() const;
    const std::vector<std::uint8_t>& start_state() const { return start_state_; }

private:
    std::vector<Formats::Key_Event> events_;
    std::vector<std::uint8_t> start_state_; // a state file, or empty for power-on
    std::uint64_t first_frame_ = 0;
    std::uint64_t next_frame_ = 0;
    std::uint8_t keys_ = 0; // held in the last frame run
};
