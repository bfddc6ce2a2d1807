#pragma once

// For each address, the last store into it, kept as a debugger steps the machine one instruction
// at a time, so that "who wrote this byte?" needs no replay of the past. One flat table of 64 Ki
// entries, built once; a store writes one entry.
//
//     Drovask::Last_Writers writers;             // empty: keeps nothing until `start`
//     writers.start(session);                    // every byte as the session has it
//     writers.follow(session);                   // before each step
//     session.step([&](std::uint16_t a, std::uint8_t, Store s) { writers.heard(session, a, s); });
//     writers.find(0x2400, session.instructions(), earliest); // {known, write}
//
// It knows the stores of the runs it followed. Where the session has moved without it (a seek,
// a run of whole frames), it keeps what still holds: after a step back to P, the entries of the
// stores before P; after a jump forward, nothing. An entry it cannot vouch for is unknown, and
// the debugger replays the past for it.

#include "machine/session.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace Drovask {

class Last_Writers {
public:
    struct Write {
        std::uint64_t frame;       // the frame under way
        std::uint64_t instruction; // instructions run before the storing one; at an interrupt's
                                   // push, those run before the interrupt
        std::uint16_t pc;          // the storing instruction's; at an interrupt, the interrupted
        bool interrupt;
    };
    // What the table says of an address: `known` false when it cannot say (replay instead);
    // else `write`, or none where nothing stored into it (since the earliest point asked for).
    struct Answer {
        bool known;
        std::optional<Write> write;
    };

    // Keeps the stores from `session` on (from its power-on, for the table's "never").
    void start(const Session& session);
    bool started() const { return !entries_.empty(); }

    // Before a step: if the session is not where the table left off, what it cannot vouch for
    // becomes unknown.
    void follow(const Session& session) {
        if (started() && session.instructions() != at_) {
            moved_to(session.instructions());
        }
    }

    // A store heard during `session.step`: made by the instruction under way, or by the
    // interrupt's push once the instruction has completed the period. Then the table stands
    // after that step.
    void heard(const Session& session, std::uint16_t address, Store store) {
        if (store == Store::dropped || !started()) {
            return;
        }
        const Session::Counters& c = session.counters();
        const bool interrupt = c.in_period >= session.instructions_per_interrupt();
        entries_[address] = {c.frames, c.instructions,
                             interrupt ? session.board.processor.pc : session.instruction_pc(),
                             interrupt ? Kind::interrupt : Kind::instruction};
    }
    void stepped(const Session& session) { at_ = session.instructions(); }

    // The last store into `address` before the point after `now` instructions, looking no
    // further back than `earliest` instructions.
    Answer find(std::uint16_t address, std::uint64_t now, std::uint64_t earliest) const;

private:
    enum class Kind : std::uint8_t { never, instruction, interrupt, unknown };
    struct Entry {
        std::uint64_t frame;
        std::uint64_t instruction;
        std::uint16_t pc;
        Kind kind;

        // The point (instructions run) from which the store has happened.
        std::uint64_t done_at() const {
            return kind == Kind::interrupt ? instruction : instruction + 1;
        }
    };

    void moved_to(std::uint64_t instructions);

    std::vector<Entry> entries_; // 64 Ki once started
    std::uint64_t at_ = 0;       // the point the entries stand at
};

} // namespace Drovask
