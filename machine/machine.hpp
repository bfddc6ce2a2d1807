#pragma once

// The arcade machine in a window: the board (machine/board.hpp) with the picture that shows its
// video memory. On the desktop an emulation thread steps it against the steady clock, reading
// the window's keys, while the main thread draws; a host without that thread (the ROM player,
// the browser's page) runs it a frame at a time on the counted clock with the keys it gives.
//
//     Tavrin::Window window(...);             // its OpenGL context current here
//     Drovask::Machine machine(&window);      // the built-in ROM, or Machine(&window, rom)
//     std::thread emulation(Drovask::emulate, &window, &machine); // until the window closes
//     while (window.update()) {
//         machine.render();                   // the picture of video memory now
//     }
//     emulation.join();
//
//     machine.run_frame(keys);                // or one frame, keys: bits of input_keys

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

    // Runs the machine without a thread of its own, for a host that calls once per frame: for
    // every 1/120 s that the steady clock has moved past `board.last_interrupt_time` by `now`,
    // `instructions_per_interrupt` instructions and then the timer, which samples the keys held,
    // or pressed since the window's last update (a key pressed and released between two frames
    // still counts). At most `max_catch_up` seconds a call, so a host that was not called for a
    // while does not run minutes of the machine at once. Throws Tavrin::Exception.
    void run_until(double now);

    // `count` frames on the clock that counts instructions (two timer firings a frame, each
    // after `instructions_per_interrupt` instructions) with the keys held now, as the headless
    // runner runs them. Throws Tavrin::Exception.
    void run_frames(std::uint32_t count);

    // A host that runs whole frames on that clock for the real time that has passed (the ROM
    // player, whose sessions drovask-run replays) asks how many are due by `now`: one for every
    // 1/60 s that the steady clock has moved past `board.last_interrupt_time`, which moves on by
    // them, at most `max_catch_up` seconds' worth, as `run_until` counts its periods. Each is
    // then run by `run_frame` with the keys (the bits of `input_keys`) that are down in it.
    std::uint32_t frames_due(double now);
    void run_frame(std::uint8_t keys);

    // Converts video memory into `screen`, uploads it and draws it. Main thread only.
    void render();

    static constexpr double max_catch_up = 0.25; // seconds
    static constexpr double frame_interval = interrupts_per_frame * interrupt_interval;
    std::uint32_t instructions_per_interrupt = default_instructions_per_interrupt;

    Tavrin::Vector2f scale;
    Tavrin::Window* window;
    Screen screen{};
    Tavrin::Texture texture;
    Tavrin::Image image;
    Board board;

private:
    // How many whole `period`s `now` is past `board.last_interrupt_time`, which moves on by them;
    // the time before `now - max_catch_up` is dropped.
    std::uint32_t periods_due(double now, double period);
};

// The emulation thread's entry: steps the machine while the window is open; reports an error
// and clears `open` when a step fails.
void emulate(Tavrin::Window* window, Machine* machine);

} // namespace Drovask
