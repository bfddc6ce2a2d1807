#include "studio/debugger.hpp"

#include "processor/execute.hpp"

namespace Studio {

namespace {

constexpr std::uint32_t period = Drovask::default_instructions_per_interrupt;

// CALL, a conditional call and RST: the instructions that step over runs to their return.
constexpr bool is_call(std::uint8_t opcode) {
    return opcode == 0xCD || (opcode & 0xC7) == 0xC4 || (opcode & 0xC7) == 0xC7;
}

constexpr std::uint16_t call_size(std::uint8_t opcode) {
    return (opcode & 0xC7) == 0xC7 ? 1 : 3;
}

} // namespace

Debugger::Debugger(Drovask::Rom rom) : board_(rom) {}

void Debugger::start_frame() {
    while (script_next_ < script_.size() && script_[script_next_].frame <= frames_) {
        const Formats::Key_Event& change = script_[script_next_++];
        wanted_[static_cast<unsigned char>(change.key)] = change.press;
    }
    for (const Drovask::Input_Key& k : Drovask::input_keys) {
        const auto index = static_cast<unsigned char>(k.key);
        if (held_[index] != wanted_[index]) {
            held_[index] = wanted_[index];
            recorded_.push_back({frames_, k.key, held_[index]});
        }
    }
}

void Debugger::stored(std::uint16_t address) {
    if (watched_[address] && !watch_hit_) {
        watch_hit_ = true;
        watch_address_ = address;
    }
}

void Debugger::execute() {
    if (at_frame_start()) {
        start_frame();
    }
    instruction_pc_ = board_.processor.pc;
    board_.execute_instruction(Watch_Listener{this});
    ++instructions_;
    if (++in_period_ < period) {
        return;
    }
    in_period_ = 0;
    board_.fire_timer([this](char key) { return held_[static_cast<unsigned char>(key)]; },
                      Watch_Listener{this});
    if (++in_frame_ == Drovask::interrupts_per_frame) {
        in_frame_ = 0;
        ++frames_;
    }
}

template <typename Done>
Stop Debugger::run_until(Done&& done, std::uint64_t max_frames, Stop_Reason at_limit) {
    const std::uint64_t last_frame = frames_ + max_frames;
    watch_hit_ = false;
    for (bool first = true;; first = false) {
        const std::uint16_t pc = board_.processor.pc;
        if (!first && breakpoints_[pc]) {
            return {Stop_Reason::breakpoint, pc};
        }
        execute();
        if (watch_hit_) {
            return {Stop_Reason::watch, watch_address_};
        }
        if (done()) {
            return {};
        }
        if (frames_ >= last_frame && at_frame_start()) {
            return {at_limit, 0};
        }
    }
}

Stop Debugger::step() {
    return run_until([] { return true; }, 0, Stop_Reason::done);
}

Stop Debugger::step_over(std::uint64_t max_frames) {
    const Intel_8080& p = board_.processor;
    const std::uint8_t opcode = p.memory[p.pc];
    if (!is_call(opcode)) {
        return step();
    }
    const auto return_to = static_cast<std::uint16_t>(p.pc + call_size(opcode));
    const std::uint16_t sp = p.sp;
    return run_until([&] { return p.pc == return_to && p.sp == sp; }, max_frames,
                     Stop_Reason::limit);
}

Stop Debugger::run_frames(std::uint64_t count) {
    if (count == 0) {
        return {};
    }
    return run_until([] { return false; }, count, Stop_Reason::done);
}

void Debugger::set_breakpoint(std::uint16_t address, bool on) {
    breakpoints_[address] = on;
}

void Debugger::clear_breakpoints() {
    breakpoints_.reset();
}

void Debugger::add_watch(std::uint16_t first, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length && i < 65536; ++i) {
        watched_[static_cast<std::uint16_t>(first + i)] = true;
    }
}

void Debugger::clear_watches() {
    watched_.reset();
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
