#include "application/player_loop.hpp"

#include "application/application.hpp"
#include "application/key_map.hpp"
#include "base/clock.hpp"
#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "formats/key_script.hpp"
#include "window/platform.hpp"

#include <chrono>
#include <iostream>
#include <thread>
#include <utility>

namespace {

// The player's own keys, which the machine does not read.
constexpr char pause_key = 'P';
constexpr char step_key = 'N';
static_assert(
    [] {
        for (const Drovask::Input_Key& key : Drovask::input_keys) {
            if (key.key == pause_key || key.key == step_key) {
                return false;
            }
        }
        return true;
    }(),
    "the player's keys are not the machine's");

class Player {
public:
    Player(Application& application, const Player_Settings& settings)
        : application_(application), window_(application.window), machine_(application.machine),
          settings_(settings), record_(settings.record ? *settings.record : own_record_) {}

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

    void take_new_image() {
        if (!settings_.reload) {
            return;
        }
        const auto next = settings_.reload();
        if (!next) {
            return;
        }
        application_.restart(Drovask::Rom{next->data(), Drovask::rom_size});
        if (settings_.record != nullptr && record_.frames() > 0) {
            std::cerr << "drovask-play: the record starts again with the new image\n";
        }
        record_.restart();
        halted_ = false;
        tapped_ = 0;
    }

    void take_player_keys() {
        if (pressed(pause_key)) {
            paused_ = !paused_;
            if (paused_) {
                std::cerr << "drovask-play: paused after frame " << record_.frames() << '\n';
            } else {
                // The real-time clock goes on from now, not from when the machine stood still.
                machine_.real_time.restart(Tavrin::steady_seconds());
            }
        }
        if (pressed(step_key)) {
            paused_ = true;
            step_ = true;
        }
    }

    // Returns whether any frame ran. A program error stops the machine, in `error_`.
    bool run_due_frames() {
        if (halted_) {
            return false;
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
                record_.frame_starts(keys);
                machine_.run_frame(keys);
                record_.frame_ends();
            }
        } catch (const Tavrin::Exception& exception) {
            error_ = exception.message;
        }
        if (step_) {
            step_ = false;
            std::cerr << "drovask-play: frame " << record_.frames() << '\n';
        }
        return true;
    }

    // The error on standard error, with where it happened, then in its box with the window
    // hidden. Returns false when no box could show it.
    bool report_error() {
        // Every opcode that is not implemented is one byte long, and its fetch has moved PC on.
        const auto pc = static_cast<std::uint16_t>(machine_.session.board.processor.pc - 1);
        const std::string where = "at PC " + Formats::hex(pc, 4) + ", in frame " +
                                  std::to_string(record_.frames()) + ": ";
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
    std::uint8_t tapped_ = 0;
    bool paused_ = false;
    bool step_ = false;
    bool halted_ = false; // by a program error, until a new image
    std::optional<std::string> error_;
};

} // namespace

void Key_Record::frame_starts(std::uint8_t keys) {
    for (const Drovask::Input_Key& key : Drovask::input_keys) {
        if (((keys ^ keys_) & key.bit) != 0) {
            text_ += Formats::format_key_event({frames_, key.key, (keys & key.bit) != 0});
        }
    }
    keys_ = keys;
}

int run_player(Drovask::Rom rom, const Player_Settings& settings) {
    try {
        Application application(rom, settings.title);
        if (settings.on_window && !settings.on_window()) {
            return exit_refused;
        }
        Player player(application, settings);
        return player.run();
    } catch (Tavrin::Exception exception) {
        return Tavrin::show_error(exception.message) ? 0 : 1;
    }
}

std::string player_keys_text() {
    return std::string(1, pause_key) + " pauses the machine and goes on; " + step_key +
           " runs one frame and pauses (the frame count goes to standard error).\n";
}
