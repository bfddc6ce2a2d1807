#include "application/player_loop.hpp"

#include "application/application.hpp"
#include "application/key_map.hpp"
#include "application/rewind.hpp"
#include "base/clock.hpp"
#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "formats/key_script.hpp"
#include "machine/real_time.hpp"
#include "window/messages.hpp"
#include "window/platform.hpp"

#include <chrono>
#include <iostream>
#include <thread>
#include <utility>

namespace {

// The player's own keys, which the machine does not read.
constexpr char pause_key = 'P';
constexpr char step_key = 'N';
constexpr char first_slot_key = '1'; // to '4': slots 1 to 4
constexpr unsigned slot_count = 4;
constexpr std::uint32_t save_key = Tavrin::messages::vk_f1 + 4; // F5
constexpr std::uint32_t load_key = Tavrin::messages::vk_f1 + 8; // F9
constexpr std::uint32_t rewind_key = Tavrin::messages::vk_back;
// How far the rewind goes back: the history's snapshots, a few frames apart, at the machine's
// frame rate.
constexpr auto rewind_minutes = static_cast<int>(
    Drovask::History::Settings{}.most_snapshots *
    Drovask::History::Settings{}.frames_between_snapshots * Drovask::frame_interval / 60.0);
static_assert(
    [] {
        for (const Drovask::Input_Key& key : Drovask::input_keys) {
            if (key.key == pause_key || key.key == step_key ||
                (key.key >= first_slot_key && key.key < first_slot_key + int{slot_count})) {
                return false;
            }
        }
        for (const Key_Map::Alias& alias : Key_Map::aliases) {
            if (alias.code == save_key || alias.code == load_key || alias.code == rewind_key) {
                return false;
            }
        }
        return true;
    }(),
    "the player's keys are not the machine's");

class Player {
public:
    Player(Application& application, Drovask::Rom rom, const Player_Settings& settings)
        : application_(application), window_(application.window), machine_(application.machine),
          settings_(settings), record_(settings.record ? *settings.record : own_record_),
          rom_(rom.begin(), rom.end()), rewind_(machine_.session) {}

    // Until the window closes, or an error ends the run; returns the exit status.
    int run() {
        for (;;) {
            take_new_image();
            take_player_keys();
            const bool ran = run_due_frames();
            if (error_) {
                if (!report_error()) {
                    return 1;
                }
                if (!settings_.wait_after_error) {
                    return 0;
                }
            }
            if (!application_.frame()) {
                return 0;
            }
            if (!ran) {
                // Nothing was due: the next frame is at most 1/60 s away.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

private:
    bool pressed(std::size_t key) const {
        return window_.key_pressed[key].load(std::memory_order_relaxed);
    }
    bool held(std::size_t key) const {
        return window_.key_held[key].load(std::memory_order_relaxed);
    }
    Drovask::Rom rom() const { return Drovask::Rom{rom_.data(), Drovask::rom_size}; }

    void take_new_image() {
        if (!settings_.reload) {
            return;
        }
        const auto next = settings_.reload();
        if (!next) {
            return;
        }
        rom_ = std::move(*next);
        application_.restart(rom());
        if (settings_.record != nullptr && record_.frames() > 0) {
            std::cerr << "drovask-play: the record starts again with the new image\n";
        }
        record_.restart();
        rewind_.start_again(machine_.session);
        halted_ = false;
        tapped_ = 0;
    }

    void take_player_keys() {
        if (pressed(pause_key)) {
            paused_ = !paused_;
            if (paused_) {
                std::cerr << "drovask-play: paused after frame " << machine_.session.frames()
                          << '\n';
            } else {
                // The real-time clock goes on from now, not from when the machine stood still.
                machine_.real_time.restart(Tavrin::steady_seconds());
            }
        }
        if (pressed(step_key)) {
            paused_ = true;
            step_ = true;
        }
        take_slot_keys();
        const bool rewinding = held(rewind_key) && !halted_;
        if (rewinding != rewinding_) {
            rewinding_ = rewinding;
            // The rewind is paced from when it starts, and play from when it ends.
            machine_.real_time.restart(Tavrin::steady_seconds());
            std::cerr << "drovask-play: " << (rewinding_ ? "rewinding from" : "rewound to")
                      << " frame " << machine_.session.frames() << '\n';
        }
    }

    void take_slot_keys() {
        for (unsigned slot = 1; slot <= slot_count; ++slot) {
            if (pressed(static_cast<std::size_t>(first_slot_key) + slot - 1)) {
                slot_ = slot;
                std::cerr << "drovask-play: slot " << slot_ << '\n';
            }
        }
        // A machine stopped by a program error stands inside the instruction that failed.
        if (pressed(save_key) && !halted_) {
            save_slot();
        }
        if (pressed(load_key) && !halted_) {
            load_slot();
        }
    }

    void save_slot() {
        if (!settings_.save_slot) {
            std::cerr << "drovask-play: this build of drovask-play does not save states\n";
            return;
        }
        try {
            const std::string file = settings_.save_slot(slot_, machine_.session, rom());
            std::cerr << "drovask-play: frame " << machine_.session.frames() << " saved in slot "
                      << slot_ << ", " << file << '\n';
        } catch (const Tavrin::Exception& exception) {
            std::cerr << "drovask-play: slot " << slot_ << " not saved: " << exception.message
                      << '\n';
        }
    }

    // A state that cannot be loaded is refused with why, and the machine goes on as it was.
    void load_slot() {
        if (!settings_.load_slot) {
            std::cerr << "drovask-play: this build of drovask-play does not load states\n";
            return;
        }
        try {
            const Drovask::Session::State state =
                settings_.load_slot(slot_, rom(), machine_.session.instructions_per_interrupt());
            rewind_.load(machine_.session, record_, state, rom());
        } catch (const Tavrin::Exception& exception) {
            std::cerr << "drovask-play: slot " << slot_ << " not loaded: " << exception.message
                      << '\n';
            return;
        }
        std::cerr << "drovask-play: slot " << slot_ << " loaded, at frame "
                  << machine_.session.frames()
                  << (settings_.record != nullptr ? "; the record starts again from it\n" : "\n");
    }

    // Returns whether any frame ran. A program error stops the machine, in `error_`.
    bool run_due_frames() {
        if (halted_) {
            return false;
        }
        if (rewinding_) {
            return rewind_due_frames();
        }
        std::uint32_t due = 0;
        if (step_) {
            due = 1;
        } else if (!paused_) {
            due = machine_.frames_due(Tavrin::steady_seconds());
        }
        // A key tapped between two window updates that had no frame between them still counts.
        const std::uint8_t keys =
            static_cast<std::uint8_t>(tapped_ | Key_Map::held_or_pressed(window_));
        if (due == 0) {
            tapped_ = keys;
            return false;
        }
        tapped_ = 0;
        try {
            for (; due > 0; --due) {
                rewind_.play_frame(machine_.session, record_, keys);
            }
        } catch (const Tavrin::Exception& exception) {
            error_ = exception.message;
        }
        if (step_) {
            step_ = false;
            std::cerr << "drovask-play: frame " << machine_.session.frames() << '\n';
        }
        return true;
    }

    // While the rewind key is held, paused or not: a step back for each frame due, the machine's
    // keys ignored. Returns whether the machine went back.
    bool rewind_due_frames() {
        tapped_ = 0;
        std::uint32_t due = machine_.frames_due(Tavrin::steady_seconds());
        bool went_back = false;
        for (; due > 0; --due) {
            if (rewind_.step_back(machine_.session, record_) == 0) {
                break; // the oldest frame kept
            }
            went_back = true;
        }
        return went_back;
    }

    // The error on standard error, with where it happened, then in its box with the window
    // hidden. Returns false when no box could show it.
    bool report_error() {
        // Every opcode that is not implemented is one byte long, and its fetch has moved PC on.
        const auto pc = static_cast<std::uint16_t>(machine_.session.board.processor.pc - 1);
        const std::string where = "at PC " + Formats::hex(pc, 4) + ", in frame " +
                                  std::to_string(machine_.session.frames()) + ": ";
        std::cerr << "drovask-play: " << where << *error_ << '\n';
        Tavrin::platform::show_window(window_, false);
        const std::string message = *std::exchange(error_, std::nullopt);
        if (!Tavrin::show_error(message)) {
            return false;
        }
        if (settings_.wait_after_error) {
            std::cerr << "drovask-play: the machine has stopped; it starts again with the next "
                         "image of the ROM (Escape ends the player)\n";
            Tavrin::platform::show_window(window_, true);
            halted_ = true;
        }
        return true;
    }

    Application& application_;
    Tavrin::Window& window_;
    Drovask::Machine& machine_;
    const Player_Settings& settings_;
    Key_Record own_record_;
    Key_Record& record_;
    std::vector<std::uint8_t> rom_; // the image the machine runs
    Rewind rewind_;
    unsigned slot_ = 1;
    std::uint8_t tapped_ = 0;
    bool rewinding_ = false;
    bool paused_ = false;
    bool step_ = false;
    bool halted_ = false; // by a program error, until a new image
    std::optional<std::string> error_;
};

} // namespace

int run_player(Drovask::Rom rom, const Player_Settings& settings) {
    try {
        Application application(rom, settings.title);
        if (settings.on_window && !settings.on_window()) {
            return exit_refused;
        }
        Player player(application, rom, settings);
        return player.run();
    } catch (Tavrin::Exception exception) {
        return Tavrin::show_error(exception.message) ? 0 : 1;
    }
}

std::string player_keys_text() {
    return std::string(1, pause_key) + " pauses the machine and goes on; " + step_key +
           " runs one frame and pauses (the frame count goes to standard error).\n" +
           "1 to 4 choose a slot for saved states (slot 1 at first); F5 saves the machine in it,\n"
           "F9 loads it back. Backspace, held, rewinds at twice the speed of play, up to\n" +
           std::to_string(rewind_minutes) +
           " minutes back (or to the last load); play goes on from where it is let go.\n";
}
