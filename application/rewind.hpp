#pragma once

// The rewind of drovask-play and the page: the session's past kept in a Drovask::History (a
// snapshot every few frames and the keys), gone back through a few frames at a time while the
// player holds its key; drovask-play keeps its key record in step, so that the record always
// replays to the picture on screen (the page keeps none).
//
//     Rewind rewind(session);
//     rewind.play_frame(session, record, keys);  // playing: a frame with `keys` down
//     rewind.play_period(session, keys);         // or a period, with no record (the page)
//     rewind.step_back(session, record);         // rewinding: once a frame shown
//     rewind.load(session, record, state, rom);  // a state loaded: a past of its own
//     rewind.start_again(session);               // power-on with a new image
//
// Each step lands exactly on the state the machine had then, so play goes on from there as it
// went the first time, or as the keys now held make it go. A step restores the snapshot before
// the frame gone back to and runs forward from it, at most the frames between two snapshots.

#include "application/key_record.hpp"
#include "machine/history.hpp"
#include "machine/session.hpp"

#include <cstdint>

class Rewind {
public:
    // Frames gone back a step, one step a frame shown: the picture runs back at twice the speed
    // it was played, showing every other frame.
    static constexpr std::uint64_t frames_per_step = 2;

    explicit Rewind(const Drovask::Session& start, Drovask::History::Settings settings = {});

    // The past starts again at `session`: what came before is another machine's.
    void start_again(const Drovask::Session& session);

    // One frame played with `keys` (bits of Drovask::input_keys) down, into the record and the
    // past. Throws Tavrin::Exception for a program error, with the frame not counted.
    void play_frame(Drovask::Session& session, Key_Record& record, std::uint8_t keys);
    // The same without a record, a frame or a period (1/120 s) of it.
    void play_frame(Drovask::Session& session, std::uint8_t keys);
    void play_period(Drovask::Session& session, std::uint8_t keys);

    // `frames_per_step` frames back, or as far as the past is kept; the record forgets what
    // was played after. Returns the frames gone back: 0 at the oldest frame kept.
    std::uint64_t step_back(Drovask::Session& session, Key_Record& record) const;
    std::uint64_t step_back(Drovask::Session& session) const;

    // The machine goes on from `state`, saved with `rom`: the past and the record start again
    // from it.
    void load(Drovask::Session& session, Key_Record& record, const Drovask::Session::State& state,
              Drovask::Rom rom);
    void load(Drovask::Session& session, const Drovask::Session::State& state);

    // The frames that can be gone back from `session`.
    std::uint64_t frames_kept(const Drovask::Session& session) const;

    const Drovask::History& history() const { return history_; }

private:
    Drovask::History::Settings settings_;
    Drovask::History history_;
};
