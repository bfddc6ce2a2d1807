#pragma once

#include "machine/machine.hpp"
#include "window/window.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The program's one window and one machine, and its frame. A platform's loop drives it: the
// desktop calls `frame` in a plain loop while the emulation thread steps the machine; a browser
// calls it once per animation frame.
//
//     Application application(rom);     // window built, machine built, window sized and centred
//     while (application.frame()) {}    // until Escape, a close request or an emulation error
class Application {
public:
    // Builds the window, then the machine with `rom`, then sizes the window to the machine's
    // picture at its scale and centres it on the screen. Throws Tavrin::Exception.
    explicit Application(Drovask::Rom rom);

    // One frame: the window's update (the cursor drawn over the previous picture, present,
    // clear, gestures, Escape, messages), then, while the window is open, the machine's
    // picture. Returns whether the window is still open.
    bool frame();

    // The machine from power-on with `rom`, in the same window. Nothing may be stepping it.
    void restart(Drovask::Rom rom);

    // Declared in the order of building; the machine goes first, while the context exists.
    Tavrin::Window window;
    Drovask::Machine machine;
};

// Asked once a frame on the main thread: a new ROM image to start the machine again from, in
// the same window, or nothing.
using Rom_Reload = std::function<std::optional<std::vector<std::uint8_t>>()>;

// Runs the program on the desktop: the application with `rom` and its emulation thread, then
// shutdown. Shared by `main`, `WinMain` and the ROM player. Returns the program's exit code: 0
// after a close and after an error shown in the error box, 1 after an error that no box could
// show (no display).
int run_application(Drovask::Rom rom, const Rom_Reload& reload = {});

// For `main` and `WinMain` when the program is given arguments: it takes none, and says so on
// standard error before it runs as usual.
void say_arguments_are_ignored();
