#pragma once

namespace Tavrin::platform {

// Ends the process at once, with a message on standard error and exit code 1, when a connection
// to the X server breaks (the server ended or dropped us). Xlib's own handler would call exit(),
// which runs the process's exit handlers while the emulation thread and the driver's threads go
// on and Xlib still holds its locks. Part of the SDL layer on X11; call it once SDL has opened
// the display.
void end_process_on_lost_display();

} // namespace Tavrin::platform
