#pragma once

#include <X11/Xlib.h>

#include <string>

namespace Tavrin::platform {

// An X window's title, from _NET_WM_NAME (UTF-8) or else WM_NAME; empty when it has none.
// Part of the SDL layer on X11, where the error box is found by its title.
std::string x_window_title(Display* display, ::Window window);

} // namespace Tavrin::platform
