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
#include "machine/real_time.hpp"
#include "machine/session.hpp"
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
    // Shows its picture in `shown_in`, whose OpenGL context must be current; a window without
    // one (a browser without WebGL 2) gets only `screen`, which its platform shows. Throws
    // Tavrin::Exception when the image's shaders cannot be built.
    explicit Machine(Tavrin::Window* shown_in, Rom rom = built_in_rom());
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // One instruction (IN and OUT handled here), then the 120 Hz interrupt timer.
    // Emulation thread only.
    void step();

    // Power-on with `rom`, in the same window: a new session, the timers starting from now.
    void power_on(Rom rom);

    // Runs the machine without a thread of its own, for a host that calls once per frame (the
    // browser's page): for every 1/120 s of real time that has passed by `now`, a period of the
    // session (its instructions, then the timer, which samples `keys`, the bits of `input_keys`
    // that are down or were pressed since the host's last frame). At most
    // `Real_Time::max_catch_up` seconds a call. Throws Tavrin::Exception.
    void run_until(double now, std::uint8_t keys);

    // A host that runs whole frames for the real time that has passed (the ROM player, whose
    // sessions drovask-run replays) asks how many are due by `now`, then runs each with the keys
    // (the bits of `input_keys`) that are down in it.
    std::uint32_t frames_due(double now) { return real_time.due(now, frame_interval); }
    // The same in periods of 1/120 s, for a host that runs periods with the past kept (the page).
    std::uint32_t periods_due(double now) { return real_time.due(now, interrupt_interval); }
    void run_frame(std::uint8_t keys) { session.run_frame(keys); }

    // Converts video memory into `screen`, uploads it and draws it (only converts it where the
    // window has no OpenGL context). Main thread only.
    void render();

    Tavrin::Vector2f scale;
    Tavrin::Window* window;
    Screen screen{};
    Tavrin::Texture texture;
    Tavrin::Image image;
    // The board is the session's: the emulation thread steps it against the steady clock, a host
    // without a thread runs it on the session's counted schedule, paced by `real_time`.
    Session session;
    Real_Time real_time;
};

// The emulation thread's entry: steps the machine while the window is open; reports an error
// and clears `open` when a step fails.
void emulate(Tavrin::Window* window, Machine* machine);

} // namespace Drovask
