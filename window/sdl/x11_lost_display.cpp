#include "window/sdl/x11_lost_display.hpp"

#include "window/platform.hpp"

#include <X11/Xlib.h>

#include <cstdio>

#include <unistd.h>

namespace Tavrin::platform {

namespace {

// Called by Xlib, with its locks held, on whichever thread met the broken connection; it must not
// return (Xlib would exit()). So it takes no lock, allocates nothing and runs no destructor: one
// write and the end of the process. There is nothing to save, and no box can be shown without
// the display.
int end_process(Display* display) {
    char message[512];
    const int length = std::snprintf(
        message, sizeof message,
        "%s\n\nLost the connection to the display %s: the X server has ended or closed it. The "
        "program has ended; start it again once the display is back.\n",
        error_box_title, display != nullptr ? DisplayString(display) : "");
    if (length > 0) {
        const auto size = static_cast<std::size_t>(length) < sizeof message
                              ? static_cast<std::size_t>(length)
                              : sizeof message - 1;
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, size);
    }
    _exit(1);
}

} // namespace

void end_process_on_lost_display() {
    XSetIOErrorHandler(end_process);
}

} // namespace Tavrin::platform
