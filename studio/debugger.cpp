#include "studio/debugger.hpp"

namespace Studio {

namespace {

// CALL, a conditional call and RST: the instructions that step over runs to their return.
constexpr bool is_call(std::uint8_t opcode) {
    return opcode == 0xCD || (opcode & 0xC7) == 0xC4 || (opcode & 0xC7) == 0xC7;
}

constexpr std::uint16_t call_size(std::uint8_t opcode) {
    return (opcode & 0xC7) == 0xC7 ? 1 : 3;
}

} // namespace

Debugger::Debugger(Drovask::Rom rom) : session_(rom) {}

void Debugger::start_frame() {
    while (script_next_ < script_.size() && script_[script_next_].frame <= frames()) {
        const Formats::Key_Event& change = script_[script_next_++];
        wanted_[static_cast<unsigned char>(change.key)] = change.press;
    }
    std::uint8_t keys = 0;
    for (const Drovask::Input_Key& k : Drovask::input_keys) {
        const bool down = wanted_[static_cast<unsigned char>(k.key)];
        if (down != ((session_.keys() & k.bit) != 0)) {
            recorded_.push_back({frames(), k.key, down});
        }
        keys = static_cast<std::uint8_t>(down ? keys | k.bit : keys);
    }
    session_.hold_keys(keys);
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
    for (const Formats::Key_Event& change : recorded_) {
        text += Formats::format_key_event(change);
    }
    return text;
}

} // namespace Studio
