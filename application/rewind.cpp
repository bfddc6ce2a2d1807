#include "application/rewind.hpp"

#include <algorithm>

namespace {

std::uint64_t instructions_per_frame(const Drovask::Session& session) {
    return std::uint64_t{Drovask::interrupts_per_frame} * session.instructions_per_interrupt();
}

} // namespace

Rewind::Rewind(const Drovask::Session& start, Drovask::History::Settings settings)
    : settings_(settings), history_(start, settings) {}

void Rewind::start_again(const Drovask::Session& session) {
    history_ = Drovask::History(session, settings_);
}

void Rewind::play_frame(Drovask::Session& session, Key_Record& record, std::uint8_t keys) {
    record.frame_starts(keys);
    play_frame(session, keys);
    record.frame_ends();
}

void Rewind::play_frame(Drovask::Session& session, std::uint8_t keys) {
    history_.hold_keys(session, keys);
    session.run_frame();
    history_.note(session);
}

void Rewind::play_period(Drovask::Session& session, std::uint8_t keys) {
    history_.hold_keys(session, keys);
    session.run_period();
    history_.note(session);
}

std::uint64_t Rewind::frames_kept(const Drovask::Session& session) const {
    const std::uint64_t now = session.instructions();
    const std::uint64_t earliest = history_.earliest();
    return now > earliest ? (now - earliest) / instructions_per_frame(session) : 0;
}

std::uint64_t Rewind::step_back(Drovask::Session& session, Key_Record& record) const {
    const std::uint64_t back = step_back(session);
    if (back > 0) {
        record.rewind_to(session.frames());
    }
    return back;
}

std::uint64_t Rewind::step_back(Drovask::Session& session) const {
    const std::uint64_t back = std::min(frames_per_step, frames_kept(session));
    if (back > 0) {
        history_.seek(session, session.instructions() - back * instructions_per_frame(session));
    }
    return back;
}

void Rewind::load(Drovask::Session& session, Key_Record& record,
                  const Drovask::Session::State& state, Drovask::Rom rom) {
    load(session, state);
    record.restart_from(session, rom);
}

void Rewind::load(Drovask::Session& session, const Drovask::Session::State& state) {
    session.restore(state);
    start_again(session);
}
