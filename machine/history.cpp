#include "machine/history.hpp"

#include <algorithm>

namespace Drovask {

namespace {

// Timer firings so far: the number of the next one.
std::uint64_t firings(const Session& session) {
    return session.counters().frames * interrupts_per_frame + session.counters().in_frame;
}

constexpr std::size_t low_memory = writable_end + 1;

} // namespace

History::History(const Session& start) : History(start, Settings{}) {}

History::History(const Session& start, Settings settings)
    : settings_(settings), latest_(start.instructions()) {
    snapshots_.push_back(take(start, nullptr));
    keys_.push_back({firings(start), start.keys()});
}

History::Snapshot History::take(const Session& session, const Snapshot* before) {
    const Board& board = session.board;
    const Intel_8080& p = board.processor;
    const auto high_written = std::any_of(p.memory.begin() + low_memory, p.memory.end(),
                                          [](std::uint8_t byte) { return byte != 0; });
    const auto end = high_written ? p.memory.end() : p.memory.begin() + low_memory;
    const auto ram = p.memory.begin() + writable_start;
    auto rom = before != nullptr && std::equal(p.memory.begin(), ram, before->rom->begin())
                   ? before->rom
                   : std::make_shared<const std::vector<std::uint8_t>>(p.memory.begin(), ram);
    return {session.counters(),
            {p.a, p.b, p.c, p.d, p.e, p.h, p.l, p.flags},
            p.sp,
            p.pc,
            p.interrupts_enabled,
            board.shift_register,
            board.shift_amount,
            board.input,
            board.interrupt_number,
            std::move(rom),
            std::vector<std::uint8_t>(ram, end)};
}

void History::put_back(const Snapshot& snapshot, Session& session) {
    Session::State state = session.save();
    Board& board = state.board;
    Intel_8080& p = board.processor;
    const auto& r = snapshot.registers;
    p.a = r[0], p.b = r[1], p.c = r[2], p.d = r[3], p.e = r[4], p.h = r[5], p.l = r[6];
    p.flags = r[7];
    p.sp = snapshot.sp;
    p.pc = snapshot.pc;
    p.interrupts_enabled = snapshot.interrupts_enabled;
    board.shift_register = snapshot.shift_register;
    board.shift_amount = snapshot.shift_amount;
    board.input = snapshot.input;
    board.interrupt_number = snapshot.interrupt_number;
    std::copy(snapshot.rom->begin(), snapshot.rom->end(), p.memory.begin());
    const auto ram = std::copy(snapshot.memory.begin(), snapshot.memory.end(),
                               p.memory.begin() + writable_start);
    std::fill(ram, p.memory.end(), std::uint8_t{0});
    state.counters = snapshot.counters;
    session.restore(state);
}

std::uint8_t History::keys_for(std::uint64_t firing) const {
    const auto after = std::upper_bound(
        keys_.begin(), keys_.end(), firing,
        [](std::uint64_t f, const Key_Change& change) { return f < change.firing; });
    return after == keys_.begin() ? 0 : std::prev(after)->keys;
}

void History::forget_after(std::uint64_t instructions) {
    while (snapshots_.size() > 1 && snapshots_.back().counters.instructions > instructions) {
        snapshots_.pop_back();
    }
    latest_ = instructions;
}

void History::hold_keys(Session& session, std::uint8_t keys) {
    session.hold_keys(keys);
    const std::uint64_t firing = firings(session);
    if (keys == keys_for(firing)) {
        return; // as the log has it: in the past, going forward again replays it
    }
    if (session.instructions() < latest_) {
        forget_after(session.instructions()); // the past after now did not happen
    }
    while (keys_.size() > 1 && keys_.back().firing >= firing) {
        keys_.pop_back();
    }
    if (keys_.back().firing >= firing) {
        keys_.back() = {firing, keys};
    } else if (keys_.back().keys != keys) {
        keys_.push_back({firing, keys});
    }
}

void History::note(const Session& session) {
    latest_ = std::max(latest_, session.instructions());
    // Wherever the session stands once enough frames have passed: a host that runs periods may
    // never stop on a frame's start.
    const Session::Counters& last = snapshots_.back().counters;
    if (session.frames() < last.frames + settings_.frames_between_snapshots ||
        session.instructions() <= last.instructions) {
        return;
    }
    snapshots_.push_back(take(session, &snapshots_.back()));
    if (snapshots_.size() > settings_.most_snapshots) {
        snapshots_.pop_front();
        // The keys sampled from the oldest snapshot on: the change in effect there stays.
        const Session::Counters& oldest_counters = snapshots_.front().counters;
        const std::uint64_t oldest =
            oldest_counters.frames * interrupts_per_frame + oldest_counters.in_frame;
        while (keys_.size() > 1 && keys_[1].firing <= oldest) {
            keys_.erase(keys_.begin());
        }
    }
}

bool History::seek(Session& session, std::uint64_t instructions) const {
    if (instructions < earliest() || instructions > latest_) {
        return false;
    }
    const auto after = std::upper_bound(
        snapshots_.begin(), snapshots_.end(), instructions,
        [](std::uint64_t n, const Snapshot& s) { return n < s.counters.instructions; });
    put_back(*std::prev(after), session);
    // Whole periods while the point lies past the timer, then single instructions.
    while (session.instructions() < instructions) {
        const std::uint32_t left =
            session.instructions_per_interrupt() -
            std::min(session.counters().in_period, session.instructions_per_interrupt());
        if (session.instructions() + left <= instructions) {
            session.run(left);
        } else {
            session.run(instructions - session.instructions());
            break;
        }
        session.hold_keys(keys_for(firings(session)));
        session.fire_timer();
    }
    session.hold_keys(keys_for(firings(session)));
    return true;
}

std::uint64_t History::earliest() const {
    return snapshots_.front().counters.instructions;
}

std::size_t History::memory_bytes() const {
    std::size_t bytes = sizeof(*this) + keys_.capacity() * sizeof(Key_Change);
    const std::vector<std::uint8_t>* rom = nullptr; // shared by neighbours only: counted once
    for (const Snapshot& snapshot : snapshots_) {
        bytes += sizeof(Snapshot) + snapshot.memory.capacity();
        if (snapshot.rom.get() != rom) {
            rom = snapshot.rom.get();
            bytes += sizeof(*rom) + rom->capacity();
        }
    }
    return bytes;
}

} // namespace Drovask
