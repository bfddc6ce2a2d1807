#pragma once

#include "machine/board.hpp"

// The project's own programs, linked from the `machine_programs` library (tests use them).
namespace Drovask {

// A card for checking the machine: border, corners, input boxes, interrupt counters, a sprite.
Rom test_card_rom();

// The demo game, the default built-in program.
Rom demo_rom();

} // namespace Drovask
