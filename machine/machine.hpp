#pragma once

#include "machine/board.hpp"
#include "renderer/image.hpp"
#include "renderer/texture.hpp"
#include "renderer/vector.hpp"

namespace Tavrin {
class Window;
}

namespace Drovask {

// The program built into the executable.
Rom built_in_rom();

// The arcade machine: its board (the processor with its ROM, the ports, shift register and
// interrupt timer) stepped against the steady clock and the window's keys, and the picture that
// shows its video memory.
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
    Board board;
};

// The emulation thread's entry: steps the machine while the window is open; reports an error
// and clears `open` when a step fails.
void emulate(Tavrin::Window* window, Machine* machine);

} // namespace Drovask
