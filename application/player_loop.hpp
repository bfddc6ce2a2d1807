#pragma once

// drovask-play's loop: the machine on the clock that counts instructions (the headless runner's
// and the browser's, 1,938 instructions between interrupts), run in whole frames on the main
// thread for the real time that has passed, so that a session played here replays exactly in
// drovask-run. The keys are read once a frame; a key pressed and released between two frames
// still counts for the next one.
//
//     Key_Record record;
//     const int status = run_player(rom, {.title = "Tavrin Mirellon - demo.bin",
//                                         .record = &record});
//     // record.text(): "at 30 press C" ..., the key script that drovask-run replays;
//     // record.frames(): how many frames were played
//
// P pauses and goes on; N runs one frame and pauses; 1 to 4 choose a slot, F5 saves the machine
// in it and F9 loads it back; Backspace, held, rewinds (player_keys_text says so for the help).
// A load starts the record again from the loaded state; a rewind drops what the record holds
// after the frame gone back to.

#include "application/key_record.hpp"
#include "machine/board.hpp"
#include "machine/session.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Asked once a frame: a new ROM image to start the machine again from, in the same window, or
// nothing.
using Rom_Reload = std::function<std::optional<std::vector<std::uint8_t>>()>;

struct Player_Settings {
    std::string title = "Tavrin Mirellon";
    Rom_Reload reload;               // none: the ROM is read once
    bool wait_after_error = false;   // a program error leaves the window open for a new image
    Key_Record* record = nullptr;    // none: nothing is recorded
    std::function<bool()> on_window; // once the window is built, before it shows: false ends
                                     // the player with `exit_refused` (it has said why)
    // The state slots' files (none: this build has no slots, and their keys say so). Each throws
    // Tavrin::Exception with what is wrong; `save_slot` returns the name of the file written.
    std::function<std::string(unsigned slot, const Drovask::Session&, Drovask::Rom)> save_slot;
    std::function<Drovask::Session::State(unsigned slot, Drovask::Rom, std::uint32_t)> load_slot;
};

inline constexpr int exit_refused = 2;

// Runs the player until the window is closed (Escape, a close request) or, unless
// `wait_after_error`, a program error has been shown in its box. Returns 0 then, 1 when an error
// could not be shown (no display), or exit_refused when `on_window` refused.
int run_player(Drovask::Rom rom, const Player_Settings& settings);

// The player's own keys, a line for its help.
std::string player_keys_text();
