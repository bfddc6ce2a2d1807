#pragma once

#include "renderer/vector.hpp"

#include <string>

namespace Tavrin {
class Window;
}

// The native operations that the portable window code needs. One platform folder implements them
// per window system: window/sdl/ (SDL2, on Linux), window/win32/ (Win32 + WGL) and window/web/ (the
// browser's canvas with WebGL 2); nothing else in the program calls a window system.
namespace Tavrin::platform {

// A window's outer rectangle in screen coordinates.
struct Bounds {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The top-left corner that centres a rectangle of `size` on a screen of `screen` (each half
// rounded down, as the window and the error box are placed).
constexpr Vector2i centred(Vector2i screen, Vector2i size) {
    return {screen.x / 2 - size.x / 2, screen.y / 2 - size.y / 2};
}

// Creates the hidden borderless window at window.position with window.size and an OpenGL
// context that compiles "#version 330 core", current on the calling thread, with swap interval
// 0. Fills native_window, instance, device_context and gl_context. From then on the window's
// messages reach window.window_procedure. Throws Tavrin::Exception when the window system
// cannot provide the window or the context.
void create_window(Window& window);

// Releases the context and the native window (the last holder of native_window calls this).
void destroy_window(Window& window);

// The primary screen's size in pixels.
Vector2i read_screen_size();

// The mouse cursor's position in screen coordinates, current at the time of the call.
Vector2i cursor_position();

// Moves and resizes the native window (with repaint). The move and size messages are delivered
// to window_procedure before this returns.
void move_window(Window& window, Vector2i position, Vector2i size);

// The native window's rectangle in screen coordinates.
Bounds window_rectangle(const Window& window);

// Presents the back buffer.
void present(Window& window);

// Shows or hides the native window.
void show_window(Window& window, bool visible);

// Dispatches every pending message of this window to window_procedure, without translation.
void pump_messages(Window& window);

// Mouse capture and the system cursor, for the focus messages.
void capture_mouse(Window& window);
void release_mouse(Window& window);
void hide_system_cursor();

// The title of the error box, by which the centring also finds it.
inline constexpr const char* error_box_title = "Tavrin Mirellon Error";

// Shows the modal error box (title error_box_title) centred on the screen and blocks
// until it is dismissed. Where no box can be shown, writes the message to standard error.
// Returns whether the box was shown.
bool show_message_box(const std::string& message);

// Whether the error box must be shown from the main thread while the program runs. Where it
// must, an error on another thread is handed to the main thread, which shows it once that
// thread has ended; elsewhere the thread that met the error shows it itself.
bool error_box_on_main_thread();

} // namespace Tavrin::platform
