#include "studio/debugger.hpp"

#include <algorithm>

namespace Studio {

namespace {

// CALL, a conditional call and RST: the instructions that step over runs to their return.
constexpr bool is_call(std::uint8_t opcode) {
    return opcode == 0xCD || (opcode & 0xC7) == 0xC4 || (opcode & 0xC7) == 0xC7;
}

constexpr std::uint16_t call_size(std::uint8_t opcode) {
    return (opcode & 0xC7) == 0xC7 ? 1 : 3;
}

// RET and a conditional return.
constexpr bool is_return(std::uint8_t opcode) {
    return opcode == 0xC9 || (opcode & 0xC7) == 0xC0;
}

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

Stop Debugger::step() {
    return inspector_.run(
        session_, [] { return true; }, 0, Stop_Reason::done, [this] { start_frame(); });
}

Stop Debugger::step_over(std::uint64_t max_frames) {
    const Intel_8080& p = session_.board.processor;
    const std::uint8_t opcode = p.memory[p.pc];
    if (!is_call(opcode)) {
        return step();
    }
    const auto return_to = static_cast<std::uint16_t>(p.pc + call_size(opcode));
    const std::uint16_t sp = p.sp;
    return inspector_.run(
        session_, [&] { return p.pc == return_to && p.sp == sp; }, max_frames, Stop_Reason::limit,
        [this] { start_frame(); });
}

Stop Debugger::run_frames(std::uint64_t count) {
    if (count == 0) {
        return {};
    }
    return inspector_.run(
        session_, [] { return false; }, count, Stop_Reason::done, [this] { start_frame(); });
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

bool Debugger::seek(std::uint64_t instructions) {
    history_.note(session_); // what has run since the last frame start is history too
    return history_.seek(session_, instructions);
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
    history_.seek(session_, call ? outside->instruction : back);
    return {};
}

Stop Debugger::reverse_continue(std::uint64_t max_frames) {
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
            if (stored && point + 1 < now) {
                hit = point + 1, stop = {Stop_Reason::watch, *stored};
            }
        });
        return hit.has_value();
    });
    if (!hit) {
        history_.seek(session_, floor);
        return {Stop_Reason::limit, 0};
    }
    history_.seek(session_, *hit);
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
