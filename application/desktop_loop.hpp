#pragma once

#include "machine/board.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The desktop's loop: the application's frames on the main thread while an emulation thread
// steps the machine. Shared by `main` (desktop_main.cpp), `WinMain` (win32_main.cpp) and the ROM
// player (player_main.cpp).

// Asked once a frame on the main thread: a new ROM image to start the machine again from, in
// the same window, or nothing.
using Rom_Reload = std::function<std::optional<std::vector<std::uint8_t>>()>;

// Runs the program on the desktop: the application with `rom` and its emulation thread, then
// shutdown. Returns the
// program's exit code: 0 after a close and after an error shown in the error box, 1 after an
// error that no box could show (no display).
int run_application(Drovask::Rom rom, const Rom_Reload& reload = {});

// For `main` and `WinMain` when the program is given arguments: it takes none, and says so on
// standard error before it runs as usual.
void say_arguments_are_ignored();
