#pragma once

// Placing the error box on X11. SDL puts a box without a parent window a third of the way down
// the screen; ours belongs in the middle.

#include "renderer/vector.hpp"

#include <string>
#include <thread>

namespace Tavrin::platform {

// While it lives, waits on a thread and an X connection of its own for a window titled `title`
// to appear anywhere in the window tree, centres it once on a screen of `screen` pixels and then
// leaves it alone, so that the user can move it. Under a window manager that puts windows into
// frames, the frame with its decorations is what is centred. A connection that the server
// refuses or drops is made anew until the box is placed or this ends.
//
// The connection is an XCB one: its failed requests (a window may vanish between two of them)
// come back as empty replies instead of reaching a process-wide error handler, and it takes
// none of Xlib's process-wide locks, so a process forked meanwhile (SDL shows its box from one)
// finds them all free.
class X11_Error_Box_Placement {
public:
    X11_Error_Box_Placement(const std::string& title, Vector2i screen);

private:
    std::jthread thread;
};

} // namespace Tavrin::platform
