#pragma once

// The program's window: one top-level window with its OpenGL context, its keys and mouse buttons
// as flags indexed by Windows' virtual-key codes (window/messages.hpp), and the frame's update.
// Each platform layer (window/sdl, window/win32, window/web) delivers its events to
// `window_procedure` as Win32 messages. The window reports every key as itself and knows
// nothing of the machine (the hosts read the machine's keys through application/key_map.hpp).
//
//     Tavrin::turn_on_gamepads();                // optional, before the window is built
//     Tavrin::Window window("Title", {448, 512}, background, cursor_color, {130, 130});
//     while (window.update()) {                  // present, clear, Escape, messages, timing
//         picture.draw();                        // built with window.draw_target()
//         window.key_held['C'].load();           // down now (any thread)
//         window.key_pressed[messages::vk_space].load(); // went down during the last update
//     }

#include "renderer/draw_target.hpp"
#include "renderer/matrix.hpp"
#include "renderer/rectangle.hpp"
#include "renderer/vector.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Tavrin {

// A native handle of the platform layer: HWND, HINSTANCE, HDC and HGLRC on Windows; the SDL
// window and its OpenGL context elsewhere.
using Native_Handle = void*;

// Index of the key flags: 0-255 are Windows virtual-key codes, 513, 516 and 519 the left, right
// and middle mouse buttons.
inline constexpr std::size_t key_count = 520;

// A gamepad's controls as keys (messages::vk_gamepad_*) in every window built afterwards (see
// Window::gamepads). Off unless a host turns them on before it builds its window.
void turn_on_gamepads();

// The program's one top-level window with its OpenGL context, input state and frame bookkeeping.
// The context is current on the constructing thread until destruction. Only `open`, `key_held`
// (and `key_pressed`, for symmetry) and an error handed over are shared with other threads.
class Window {
public:
    Window(const std::string& caption, Vector2i initial_size, Color background, Color pointer_color,
           Vector2i smallest_size);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // One frame: cursor, present, clear, drag gesture, Escape, message pump, timing.
    // Returns `open`.
    bool update();

    // What the drawables need to draw into this window: its projection and its context.
    Draw_Target draw_target() const { return {&projection, gl_context}; }

    // The primary screen's size, read once per process (thread-safe).
    static Vector2i get_screen_size();

    // Ends the run because of an error met on another thread (the emulation thread): clears
    // `open` and has `message` shown in the error box. Where the box must be shown on the main
    // thread, the message is handed over and this returns at once; the main thread shows it with
    // show_handed_over_error. Elsewhere this shows it and returns once it is dismissed.
    void close_with_error(const std::string& message);

    // Main thread, once the thread that called close_with_error has been joined: shows the
    // message handed over, if any, and returns once it is dismissed. Shows it only once.
    // Returns false if there was a message and no box could show it.
    bool show_handed_over_error();

    // Handles one window message, given with Win32's message number and parameters. Returns the
    // result for a handled message, or nothing when the message needs the default handling.
    std::optional<std::intptr_t> window_procedure(std::uint32_t message, std::uintptr_t w_param,
                                                  std::intptr_t l_param);

    // Lets go of every key, as if each had been released (the focus left the window, or the
    // machine starts again). The mouse buttons stay as they are.
    void release_keys();

    std::shared_ptr<Native_Handle> native_window;
    Native_Handle instance = nullptr;
    std::string title;
    Native_Handle device_context = nullptr;
    // Null where the platform has no OpenGL context to give and shows the machine's picture
    // itself (a browser without WebGL 2): the window then draws nothing, not even the cursor.
    Native_Handle gl_context = nullptr;
    std::int32_t samples = 0;
    std::int32_t scroll = 0;
    Vector2i minimum_size;
    Vector2i size;
    Vector2i position;
    Vector2i cursor_position;
    Vector2i relative_cursor_position;
    Vector2i previous_cursor_position;
    Vector2i cursor_delta;
    Color clear_color;
    Color cursor_color;
    Matrix4 projection;
    double last_time = 0.0;
    float delta_time = 0.0f;
    std::atomic<bool> open{false};
    // An error handed to the main thread: the text, published by the flag (release/acquire)
    // before `open` is cleared.
    std::string handed_over_error;
    std::atomic<bool> error_handed_over{false};
    bool focused = false;
    bool shown = false;
    std::array<std::atomic<bool>, key_count> key_pressed{};
    std::array<std::atomic<bool>, key_count> key_held{};
    bool resizable = false;
    // While set, the platform layer opens the gamepads and reports their controls (d-pad, left
    // stick, bottom face button, start, back) as keys of their own, messages::vk_gamepad_*.
    // Taken from turn_on_gamepads.
    bool gamepads = false;

    // The drawn mouse cursor, built by the first update; one per window.
    std::optional<Rectangle> cursor;

private:
    // The window procedure's handlers.
    void record_position();
    void record_size();
    void take_focus();
    void lose_focus();
    void keep_capture();
    void press_key(std::uintptr_t code);
    void release_key(std::uintptr_t code);
    void press_button(std::size_t button);
    void turn_wheel(std::uintptr_t w_param);
    static std::intptr_t system_command_result(std::uintptr_t w_param);

    // The frame update's steps.
    bool held(std::size_t key) const;
    bool button_down() const;
    void sample_cursor();
    void fade_cursor();
    void draw_cursor();
    void present_and_clear();
    void follow_drag();
    void close_on_escape();
    void clear_pressed_keys();
    void track_timing();
    void show_after_first_frame();
};

// The entry from a platform's native message callback: the message goes to `window`'s
// procedure, or gets the default handling (nothing) while the window is not known yet, as
// during the native window's creation.
std::optional<std::intptr_t> handle_message(Window* window, std::uint32_t message,
                                            std::uintptr_t w_param, std::intptr_t l_param);

// Shows `message` in a modal error box titled "Tavrin Mirellon Error", centred on the screen,
// and returns once the user has dismissed it. Callable from any thread. Where no box can be
// shown (no display), the message goes to standard error and this returns false.
bool show_error(const std::string& message);

} // namespace Tavrin
