#pragma once

#include "machine/machine.hpp"
#include "window/window.hpp"

#include <string>

// The program's one window and one machine, and its frame. A platform's loop drives it: the
// desktop calls `frame` in a plain loop while the emulation thread steps the machine; a browser
// calls it once per animation frame.
//
//     Application application(rom);     // window built, machine built, window sized and centred
//     while (application.frame()) {}    // until Escape, a close request or an emulation error
class Application {
public:
    // Builds the window titled `title`, then the machine with `rom`, then sizes the window to the
    // machine's picture at its scale and centres it on the screen. Throws Tavrin::Exception.
    explicit Application(Drovask::Rom rom, const std::string& title = "Tavrin Mirellon");

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
