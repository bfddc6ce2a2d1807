#pragma once

// A session's past, kept so that it can be gone back to: a snapshot of the machine every few
// frames and every change of the keys, from which any earlier instruction is found again by
// restoring the snapshot before it and running forward on the same keys. The machine is
// deterministic on its counted schedule, so the state found is exactly the one that was.
//
//     Drovask::History history(session);            // the past starts here
//     history.hold_keys(session, keys);             // instead of session.hold_keys: logged
//     session.run_frame();
//     history.note(session);                        // after running: a snapshot when one is due
//     history.seek(session, session.instructions() - 1); // one instruction back
//
// Going back keeps what came after, so going forward again on the same keys lands on the same
// states; holding other keys than the past held there forgets the rest of the past, which
// did not happen now. The oldest snapshots go first once `Settings::most_snapshots` are kept.

#include "machine/session.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace Drovask {

class History {
public:
    struct Settings {
        // A step back replays at most this many frames (about 2 ms of the page's machine).
        std::uint64_t frames_between_snapshots = 10;
        // 10 minutes of the machine at a snapshot every sixth of a second (about 30 MB: RAM is
        // kept, the ROM's 8 KiB once while they stay the same, not the 48 KiB above RAM while
        // they hold zeros).
        std::size_t most_snapshots = 3600;
    };

    explicit History(const Session& start);
    History(const Session& start, Settings settings);

    // The keys from now on, into the session and the log. Keys other than the past's at this
    // point forget the past after it.
    void hold_keys(Session& session, std::uint8_t keys);

    // After the session has run: a snapshot once `frames_between_snapshots` frames have passed
    // since the last one.
    void note(const Session& session);

    // The session as it was after `instructions` instructions in all, from the snapshot before
    // that point, run forward. Returns false, leaving the session as it is, when that point is
    // before the oldest snapshot or after the latest point the history knows. Throws
    // Tavrin::Exception only if the program fails on the way, which it did not the first time.
    bool seek(Session& session, std::uint64_t instructions) const;

    // Instruction counts from which `seek` can go back, and to which it can go forward again.
    std::uint64_t earliest() const;
    std::uint64_t latest() const { return latest_; }

    std::size_t snapshot_count() const { return snapshots_.size(); }
    std::size_t memory_bytes() const;

private:
    // The machine without the 48 KiB above RAM while they hold zeros, which they do unless a
    // program stored there through HL; the ROM's bytes shared with the snapshot before while
    // they are the same (a store through HL can change them too).
    struct Snapshot {
        Session::Counters counters;
        std::array<std::uint8_t, 8> registers; // A B C D E H L flags
        std::uint16_t sp;
        std::uint16_t pc;
        bool interrupts_enabled;
        std::array<std::uint8_t, 2> shift_register;
        std::uint8_t shift_amount;
        std::uint8_t input;
        std::uint32_t interrupt_number;
        std::shared_ptr<const std::vector<std::uint8_t>> rom; // 0000H to 1FFFH
        std::vector<std::uint8_t> memory; // from 2000H: RAM, or all 64 KiB above the ROM
    };
    struct Key_Change {
        std::uint64_t firing; // the keys are sampled from this timer firing on (0: the first)
        std::uint8_t keys;
    };

    // `before`: the latest snapshot, whose ROM bytes the new one shares if they are the same.
    static Snapshot take(const Session& session, const Snapshot* before);
    static void put_back(const Snapshot& snapshot, Session& session);
    // The keys that timer firing number `firing` samples.
    std::uint8_t keys_for(std::uint64_t firing) const;
    void forget_after(std::uint64_t instructions);

    Settings settings_;
    std::deque<Snapshot> snapshots_; // in the order of their instruction counts
    std::vector<Key_Change> keys_;   // in order; the first is the keys at the oldest snapshot
    std::uint64_t latest_ = 0;
};

} // namespace Drovask
