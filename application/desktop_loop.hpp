#pragma once

#include "machine/board.hpp"

// The desktop's loop: the application's frames on the main thread while an emulation thread
// steps the machine against the steady clock. Shared by `main` (desktop_main.cpp) and `WinMain`
// (win32_main.cpp); the ROM player has a loop of its own (player_loop.hpp).

// Runs the program on the desktop: the application with `rom` and its emulation thread, then
// shutdown. Returns the program's exit code: 0 after a close and after an error shown in the
// error box, 1 after an error that no box could show (no display).
int run_application(Drovask::Rom rom);

// For `main` and `WinMain` when the program is given arguments: it takes none, and says so on
// standard error before it runs as usual.
void say_arguments_are_ignored();
