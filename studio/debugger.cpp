#include "studio/debugger.hpp"

#include <algorithm>

namespace Studio {

namespace {

using Drovask::Call_Stack;
constexpr auto is_call = Call_Stack::is_call;
constexpr auto call_size = Call_Stack::call_size;
constexpr auto is_return = Call_Stack::is_return;

std::uint64_t instructions_per_frame(const Drovask::Session& session) {
    return std::uint64_t{Drovask::interrupts_per_frame} * session.instructions_per_interrupt();
}

} // namespace

Debugger::Debugger(Drovask::Rom rom) : session_(rom), history_(session_) {
    inspector_.keep_last_writers(session_);
}

std::uint8_t Debugger::keys_in(std::uint64_t frame) const {
    const auto after = std::upper_bound(
        keys_log_.begin(), keys_log_.end(), frame,
        [](std::uint64_t f, const Frame_Keys& change) { return f < change.frame; });
    return std::prev(after)->keys;
}

void Debugger::start_frame() {
    history_.note(session_);
    // In the past (its keys replayed from the log) the copies kept when it first ran stand, and
    // so do those after it: the same frames follow. Beyond it, none is later than now.
    if (frames() % Drovask::History::Settings{}.frames_between_snapshots == 0 &&
        frames() >= frames_keyed_) {
        while (!calls_kept_.empty() && calls_kept_.back().instructions >= instructions()) {
            calls_kept_.pop_back();
        }
        const auto all = calls_.all();
        calls_kept_.push_back({instructions(), {all.begin(), all.end()}});
        if (calls_kept_.size() > Drovask::History::Settings{}.most_snapshots + 1) {
            calls_kept_.pop_front();
        }
    }
    if (frames() < frames_keyed_) {
        history_.hold_keys(session_, keys_in(frames()));
        return;
    }
    while (script_next_ < script_.size() && script_[script_next_].frame <= frames()) {
        const Formats::Key_Event& change = script_[script_next_++];
        wanted_[static_cast<unsigned char>(change.key)] = change.press;
    }
    std::uint8_t keys = 0;
    for (const Drovask::Input_Key& k : Drovask::input_keys) {
        keys = static_cast<std::uint8_t>(wanted_[static_cast<unsigned char>(k.key)] ? keys | k.bit
                                                                                    : keys);
    }
    if (keys != keys_log_.back().keys) {
        keys_log_.push_back({frames(), keys});
    }
    frames_keyed_ = frames() + 1;
    history_.hold_keys(session_, keys);
}

bool Debugger::fault_met(const Drovask::Fault& fault, bool may_stop) {
    audit_.record(fault);
    if (!stop_on_faults_ || !may_stop) {
        return false;
    }
    last_fault_ = fault;
    return true;
}

Stop Debugger::step_over(std::uint64_t max_frames) {
    const Intel_8080& p = session_.board.processor;
    const std::uint8_t opcode = p.memory[p.pc];
    if (!is_call(opcode)) {
        return step();
    }
    const auto return_to = static_cast<std::uint16_t>(p.pc + call_size(opcode));
    const std::uint16_t sp = p.sp;
    return run([&] { return p.pc == return_to && p.sp == sp; }, max_frames, Stop_Reason::limit);
}

Stop Debugger::step_out(std::uint64_t max_frames) {
    const auto calls = call_stack();
    if (calls.empty()) {
        return run([] { return false; }, max_frames, Stop_Reason::limit);
    }
    // Its return pops the return address from `sp`; an interrupt taken inside it returns first.
    const std::uint16_t sp = calls.back().sp;
    const Intel_8080& p = session_.board.processor;
    return run([&] { return p.sp > sp; }, max_frames, Stop_Reason::limit);
}

Stop Debugger::run_to(std::uint16_t address, std::uint64_t max_frames) {
    const Intel_8080& p = session_.board.processor;
    return run([&] { return p.pc == address; }, max_frames, Stop_Reason::limit);
}

Stop Debugger::run_frames(std::uint64_t count) {
    if (count == 0) {
        return {};
    }
    return run([] { return false; }, count, Stop_Reason::done);
}

void Debugger::key(char key, bool down) {
    wanted_[static_cast<unsigned char>(key)] = down;
}

void Debugger::replay(const std::vector<Formats::Key_Event>& changes) {
    script_.insert(script_.end(), changes.begin(), changes.end());
}

std::string Debugger::recording() const {
    std::string text;
    std::uint8_t before = 0;
    for (const Frame_Keys& change : keys_log_) {
        for (const Drovask::Input_Key& k : Drovask::input_keys) {
            if (((before ^ change.keys) & k.bit) != 0) {
                text +=
                    Formats::format_key_event({change.frame, k.key, (change.keys & k.bit) != 0});
            }
        }
        before = change.keys;
    }
    return text;
}

template <typename Step>
void Debugger::replay_past(std::uint64_t from, std::uint64_t to, Step&& step) {
    history_.seek(session_, from);
    while (session_.instructions() < to) {
        if (session_.at_frame_start()) {
            session_.hold_keys(keys_in(frames()));
        }
        step(session_);
    }
}

template <typename Scan>
bool Debugger::search_back(std::uint64_t now, std::uint64_t floor, Scan&& scan) {
    // Windows that start at snapshots, so that each replay starts without running up to it.
    const std::uint64_t window =
        Drovask::History::Settings{}.frames_between_snapshots * instructions_per_frame(session_);
    for (std::uint64_t to = now; to > floor;) {
        const std::uint64_t from = std::max(floor, (to - 1) / window * window);
        if (scan(from, to)) {
            return true;
        }
        to = from;
    }
    return false;
}

bool Debugger::go_to(std::uint64_t target) {
    if (target < history_.earliest() || target > history_.latest()) {
        return false;
    }
    const auto after = std::upper_bound(
        calls_kept_.begin(), calls_kept_.end(), target,
        [](std::uint64_t n, const Calls_At& kept) { return n < kept.instructions; });
    if (after == calls_kept_.begin() || std::prev(after)->instructions < history_.earliest()) {
        calls_.clear(); // older than any kept: the calls there are not known
        return history_.seek(session_, target);
    }
    const Calls_At& kept = *std::prev(after);
    calls_.assign(kept.frames);
    replay_past(kept.instructions, target, [this](Drovask::Session& s) {
        const Call_Stack::Before before = Call_Stack::before(s.board);
        s.step();
        calls_.stepped(before, s.board);
    });
    return true;
}

bool Debugger::seek(std::uint64_t instructions) {
    history_.note(session_); // what has run since the last frame start is history too
    return go_to(instructions);
}

bool Debugger::seek_frame(std::uint64_t frame) {
    return seek(frame * instructions_per_frame(session_));
}

Stop Debugger::step_back() {
    const std::uint64_t now = instructions();
    return now > 0 && seek(now - 1) ? Stop{} : Stop{Stop_Reason::limit, 0};
}

Stop Debugger::step_back_over() {
    const Intel_8080& p = session_.board.processor;
    const std::uint16_t pc = p.pc;
    const std::uint16_t sp = p.sp;
    const std::uint64_t back = instructions() - 1;
    if (const Stop stop = step_back(); stop.reason != Stop_Reason::done) {
        return stop;
    }
    if (!is_return(p.memory[p.pc]) || pc == static_cast<std::uint16_t>(p.pc + 1)) {
        return {};
    }
    // Inside the callee the stack is deeper than after the return, so the call is the last
    // point before with the stack as high: if that point is a CALL returning here, go there.
    struct Point {
        std::uint64_t instruction;
        std::uint16_t pc, sp;
        std::uint8_t opcode;
    };
    std::optional<Point> outside;
    search_back(back, history_.earliest(), [&](std::uint64_t from, std::uint64_t to) {
        replay_past(from, to, [&](Drovask::Session& s) {
            const Intel_8080& q = s.board.processor;
            if (q.sp >= sp) {
                outside = Point{s.instructions(), q.pc, q.sp, q.memory[q.pc]};
            }
            s.step();
        });
        return outside.has_value();
    });
    const bool call = outside && is_call(outside->opcode) && outside->sp == sp &&
                      static_cast<std::uint16_t>(outside->pc + call_size(outside->opcode)) == pc;
    go_to(call ? outside->instruction : back);
    return {};
}

Stop Debugger::reverse_continue(std::uint64_t max_frames, bool resumed) {
    history_.note(session_);
    const std::uint64_t now = instructions();
    const std::uint64_t span = max_frames * instructions_per_frame(session_);
    const std::uint64_t floor = std::max(history_.earliest(), now > span ? now - span : 0);
    std::optional<std::uint64_t> hit;
    Stop stop;
    search_back(now, floor, [&](std::uint64_t from, std::uint64_t to) {
        replay_past(from, to, [&](Drovask::Session& s) {
            const std::uint64_t point = s.instructions();
            const std::uint16_t pc = s.board.processor.pc;
            if (inspector_.breakpoint_at(pc)) {
                hit = point, stop = {Stop_Reason::breakpoint, pc};
            }
            std::optional<std::uint16_t> stored;
            s.step([&](std::uint16_t address, std::uint8_t, Store) {
                if (!stored && inspector_.watched(address)) {
                    stored = address;
                }
            });
            if (stored && (point + 1 < now || resumed)) {
                hit = point + 1, stop = {Stop_Reason::watch, *stored};
            }
        });
        return hit.has_value();
    });
    if (!hit) {
        go_to(floor);
        return {Stop_Reason::limit, 0};
    }
    go_to(*hit);
    return stop;
}

std::optional<Writer> Debugger::who_wrote(std::uint16_t address) {
    history_.note(session_);
    // The table kept while stepping answers where it can vouch for the byte; else the replay.
    if (const auto table =
            inspector_.last_writers().find(address, instructions(), history_.earliest());
        table.known) {
        return table.write ? std::optional<Writer>({table.write->frame, table.write->instruction,
                                                    table.write->pc, table.write->interrupt})
                           : std::nullopt;
    }
    const Drovask::Session::State now = session_.save();
    std::optional<Writer> writer;
    search_back(
        now.counters.instructions, history_.earliest(), [&](std::uint64_t from, std::uint64_t to) {
            replay_past(from, to, [&](Drovask::Session& s) {
                const auto heard = [&](bool interrupt) {
                    return [&s, &writer, address, interrupt](std::uint16_t at, std::uint8_t,
                                                             Store store) {
                        if (at == address && store != Store::dropped) {
                            writer = Writer{s.frames(), s.instructions(),
                                            interrupt ? s.board.processor.pc : s.instruction_pc(),
                                            interrupt};
                        }
                    };
                };
                s.execute(heard(false));
                if (s.timer_due()) {
                    s.fire_timer(heard(true));
                }
            });
            return writer.has_value();
        });
    session_.restore(now);
    return writer;
}

} // namespace Studio
