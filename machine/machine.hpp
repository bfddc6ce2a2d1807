#pragma once

#include "processor/intel_8080.hpp"
#include "renderer/image.hpp"
#include "renderer/texture.hpp"
#include "renderer/vector.hpp"

#include <array>
#include <cstdint>
#include <span>

namespace Tavrin {
class Window;
}

namespace Drovask {

// Size in pixels of the upright picture: video memory holds 224 lines of 256 pixels, and each
// line becomes one column.
struct Screen_Size {
    std::uint32_t width;
    std::uint32_t height;
};
inline constexpr Screen_Size screen_size{224, 256};

inline constexpr std::size_t rom_size = 8192;
using Rom = std::span<const std::uint8_t, rom_size>;

// The program built into the executable.
Rom built_in_rom();

using Screen = std::array<std::uint8_t, screen_size.width * screen_size.height>;

// Turns the video memory of `processor` (224 lines of 256 one-bit pixels from video_start) a
// quarter turn counter-clockwise into the upright picture: line x becomes column x, pixel p of a
// line becomes row 255 - p; lit pixels are 255, dark ones 0. Every byte of `screen` is written.
// Reads the video bytes with relaxed atomic loads, so it may run while another thread executes.
void convert_screen(const Intel_8080& processor, Screen& screen);

// The arcade machine: the processor with its ROM, the ports, shift register and interrupt timer,
// and the picture that shows its video memory.
class Machine {
public:
    // Shows its picture in `shown_in`, whose OpenGL context must be current. Throws
    // Tavrin::Exception when the image's shaders cannot be built.
    explicit Machine(Tavrin::Window* shown_in, Rom rom = built_in_rom());
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // One instruction (IN and OUT handled here), then the 120 Hz interrupt timer.
    // Emulation thread only.
    void step();

    // Converts video memory into `screen`, uploads it and draws it. Main thread only.
    void render();

    Tavrin::Vector2f scale;
    Tavrin::Window* window;
    Screen screen{};
    Tavrin::Texture texture;
    Tavrin::Image image;
    Intel_8080 processor;
    std::array<std::uint8_t, 2> shift_register{}; // low byte, then high byte
    std::uint8_t shift_amount = 0;
    std::uint8_t input = 0;
    double last_interrupt_time = 0.0;
    std::uint32_t interrupt_number = 1;
};

// The emulation thread's entry: steps the machine while the window is open; reports an error
// and clears `open` when a step fails.
void emulate(Tavrin::Window* window, Machine* machine);

} // namespace Drovask
