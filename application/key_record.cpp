#include "application/key_record.hpp"

#include "formats/state_file.hpp"

#include <algorithm>

void Key_Record::frame_starts(std::uint8_t keys) {
    for (const Drovask::Input_Key& key : Drovask::input_keys) {
        if (((keys ^ keys_) & key.bit) != 0) {
            events_.push_back({next_frame_, key.key, (keys & key.bit) != 0});
        }
    }
    keys_ = keys;
}

void Key_Record::restart_from(const Drovask::Session& session, Drovask::Rom rom) {
    *this = {};
    first_frame_ = next_frame_ = session.frames();
    // A key script cannot release a key that it has not pressed, so the record starts from the
    // state with the keys released and presses those held in its first frame. That is the same
    // machine: the keys are sampled only at the next timer firing, after that frame's events.
    Drovask::Session start = session;
    start.hold_keys(0);
    start_state_ = Formats::format_state_file(start, rom);
}

void Key_Record::rewind_to(std::uint64_t frame) {
    next_frame_ = std::max(frame, first_frame_);
    // Events at frame F take effect in frame F, which is to be played again.
    std::erase_if(events_,
                  [&](const Formats::Key_Event& event) { return event.frame >= next_frame_; });
    keys_ = 0;
    for (const Formats::Key_Event& event : events_) {
        const std::uint8_t bit = Drovask::key_bit(event.key);
        keys_ = static_cast<std::uint8_t>(event.press ? keys_ | bit : keys_ & ~bit);
    }
}

std::string Key_Record::text() const {
    std::string text;
    for (const Formats::Key_Event& event : events_) {
        text += Formats::format_key_event(event);
    }
    return text;
}
