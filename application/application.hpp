#pragma once

#include "machine/machine.hpp"
#include "window/window.hpp"

// The program's one window and one machine, and its frame. A platform's loop drives it: the
// desktop calls `frame` in a plain loop while the emulation thread steps the machine; a browser
// calls it once per animation frame.
//
//     Application application;          // window built, machine built, window sized and centred
//     while (application.frame()) {}    // until Escape, a close request or an emulation error
class Application {
public:
    // Builds the window, then the machine, then sizes the window to the machine's picture at
    // its scale and centres it on the screen. Throws Tavrin::Exception.
    Application();

    // One frame: the window's update (the cursor drawn over the previous picture, present,
    // clear, gestures, Escape, messages), then, while the window is open, the machine's
    // picture. Returns whether the window is still open.
    bool frame();

    // Declared in the order of building; the machine goes first, while the context exists.
    Tavrin::Window window;
    Drovask::Machine machine;
};

// Runs the program on the desktop: the application with its emulation thread, then shutdown.
// Shared by `main` and `WinMain`, which say whether the program was given arguments: it takes
// none, and says so on standard error before it runs as usual. Returns the program's exit code:
// 0 after a close and after an error shown in the error box, 1 after an error that no box could
// show (no display).
int run_application(bool given_arguments);
