#pragma once

// Builds the window and the machine, runs the main loop and shuts down. Shared by `main`,
// `WinMain` and the ROM player; returns the program's exit code (0 after a close and after a
// reported error).

#include "machine/board.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// Asked once a frame on the main thread: a new ROM image to start the machine again from, in
// the same window, or nothing.
using Rom_Reload = std::function<std::optional<std::vector<std::uint8_t>>()>;

int run_application(Drovask::Rom rom, const Rom_Reload& reload = {});
