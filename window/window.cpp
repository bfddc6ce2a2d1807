#include "window/window.hpp"

#include "base/clock.hpp"
#include "renderer/gl.hpp"
#include "window/messages.hpp"
#include "window/platform.hpp"

namespace Tavrin {

namespace {

// `value`, raised to `minimum` or else lowered to `maximum`; the minimum wins where they cross.
std::int32_t keep_between(std::int32_t value, std::int32_t minimum, std::int32_t maximum) {
    if (value < minimum) {
        return minimum;
    }
    return value > maximum ? maximum : value;
}

Matrix4 projection_for(Vector2i size) {
    return Matrix4::orthographic(static_cast<float>(size.x), static_cast<float>(size.y));
}

bool gamepads_for_new_windows = false;

} // namespace

Window::Window(const std::string& caption, Vector2i initial_size, Color background,
               Color pointer_color, Vector2i smallest_size)
    : native_window(std::make_shared<Native_Handle>(nullptr)), title(caption), samples(0),
      minimum_size(smallest_size), size(initial_size), clear_color(background),
      cursor_color(pointer_color), projection(projection_for(initial_size)) {
    position = platform::centred(get_screen_size(), size);
    last_time = steady_seconds();
    open.store(true, std::memory_order_relaxed);
    focused = true;
    resizable = false;
    gamepads = gamepads_for_new_windows;

    platform::create_window(*this);

    load_gl_entry_points();
}

Window::~Window() {
    cursor.reset();
    // A window cannot be copied, so it is the only holder of its native handle.
    if (native_window) {
        // The context is still current: the rectangles' shared GL objects go with it.
        Rectangle::release_shared(gl_context);
        platform::destroy_window(*this);
    }
}

Vector2i Window::get_screen_size() {
    static const Vector2i screen_size = platform::read_screen_size();
    return screen_size;
}

std::optional<std::intptr_t> Window::window_procedure(std::uint32_t message, std::uintptr_t w_param,
                                                      std::intptr_t /*l_param*/) {
    using namespace messages;
    switch (message) {
    case wm_move:
        record_position();
        return 0;
    case wm_size:
        record_size();
        return 0;
    case wm_setfocus:
        take_focus();
        return 0;
    case wm_killfocus:
        lose_focus();
        return 0;
    case wm_close:
        open.store(false, std::memory_order_relaxed);
        return 0;
    case wm_keydown:
        press_key(w_param);
        return 0;
    case wm_keyup:
        release_key(w_param);
        return 0;
    case wm_lbuttondown:
    case wm_rbuttondown:
    case wm_mbuttondown:
        press_button(message);
        return 0;
    case wm_lbuttonup:
    case wm_rbuttonup:
    case wm_mbuttonup:
        // Each button's up message follows its down message, whose value is the button's index.
        key_held[message - 1].store(false, std::memory_order_relaxed);
        return 0;
    case wm_mousewheel:
        turn_wheel(w_param);
        return 0;
    case wm_capturechanged:
        keep_capture();
        return 0;
    case wm_command:
        return system_command_result(w_param);
    default:
        return std::nullopt;
    }
}

void Window::record_position() {
    const platform::Bounds bounds = platform::window_rectangle(*this);
    position = {bounds.left, bounds.top};
}

void Window::record_size() {
    const platform::Bounds bounds = platform::window_rectangle(*this);
    // A minimised window's rectangle lies far off screen; its size means nothing.
    if (bounds.right > 0 && bounds.bottom > 0) {
        size = {bounds.right - bounds.left, bounds.bottom - bounds.top};
        projection = projection_for(size);
        if (gl_context != nullptr) {
            glViewport(0, 0, size.x, size.y);
        }
    }
}

void Window::take_focus() {
    focused = true;
    platform::capture_mouse(*this);
    platform::hide_system_cursor();
}

// The key-ups of keys held now go to whichever window has the focus, so they are released here:
// otherwise a key held while the focus leaves would stay held.
void Window::lose_focus() {
    focused = false;
    platform::release_mouse(*this);
    release_keys();
}

// The mouse buttons stay: a button's release still reaches the window that it was pressed in.
void Window::release_keys() {
    for (std::size_t code = 0; code < messages::key_code_count; ++code) {
        key_held[code].store(false, std::memory_order_relaxed);
    }
}

// Another window took the capture while this one has the focus: take it back.
void Window::keep_capture() {
    if (focused) {
        platform::capture_mouse(*this);
    }
}

// Auto-repeat sends more key-downs while the key stays down; only the first one presses it.
void Window::press_key(std::uintptr_t code) {
    // Key codes are 0 to 255; anything larger must not reach the buttons' flags or beyond.
    if (code >= messages::key_code_count || held(code)) {
        return;
    }
    key_pressed[code].store(true, std::memory_order_relaxed);
    key_held[code].store(true, std::memory_order_relaxed);
}

void Window::release_key(std::uintptr_t code) {
    if (code < messages::key_code_count) {
        key_held[code].store(false, std::memory_order_relaxed);
    }
}

// Unlike keys, buttons are pressed again by every down message.
void Window::press_button(std::size_t button) {
    key_pressed[button].store(true, std::memory_order_relaxed);
    key_held[button].store(true, std::memory_order_relaxed);
}

// The wheel's delta is the high word of the first parameter, signed, in notches of wheel_delta.
void Window::turn_wheel(std::uintptr_t w_param) {
    const auto delta = static_cast<std::int16_t>((w_param >> 16) & 0xFFFF);
    scroll += delta / messages::wheel_delta;
}

// 1 for maximise, close and restore given as a system command (high word 0), 0 otherwise.
std::intptr_t Window::system_command_result(std::uintptr_t w_param) {
    using namespace messages;
    const std::uintptr_t command = w_param & 0xFFFF;
    const bool system_command =
        command == sc_maximize || command == sc_close || command == sc_restore;
    return ((w_param >> 16) & 0xFFFF) == 0 && system_command ? 1 : 0;
}

// The frame's steps, in this order: the cursor is drawn over the finished frame before it is
// presented; Escape and the pressed flags are handled before the pump, so a key pressed during
// this call's pump stays pressed until the next call; a close request during the pump ends this
// very call.
bool Window::update() {
    sample_cursor();
    scroll = 0;
    fade_cursor();
    if (gl_context != nullptr) {
        draw_cursor();
    }
    present_and_clear();
    follow_drag();
    close_on_escape();
    clear_pressed_keys();
    platform::pump_messages(*this);
    track_timing();
    show_after_first_frame();
    return open.load(std::memory_order_relaxed);
}

bool Window::held(std::size_t key) const {
    return key_held[key].load(std::memory_order_relaxed);
}

// The left or the right button (the middle one does not count).
bool Window::button_down() const {
    return held(messages::left_button) || held(messages::right_button);
}

void Window::sample_cursor() {
    cursor_position = platform::cursor_position();
    relative_cursor_position = cursor_position - position;
    cursor_delta = cursor_position - previous_cursor_position;
    previous_cursor_position = cursor_position;
}

// The cursor is opaque while the mouse moves or a button is held, and fades out over two seconds
// of stillness.
void Window::fade_cursor() {
    if (button_down() || cursor_delta != Vector2i{0, 0}) {
        cursor_color.alpha = 1.0f;
    } else if (cursor_color.alpha > 0.0f) {
        cursor_color.alpha -= delta_time * 0.5f;
    } else {
        cursor_color.alpha = 0.0f;
    }
}

// Built by the first call; a failed build leaves no cursor and the next call tries again.
void Window::draw_cursor() {
    if (!cursor) {
        cursor.emplace(draw_target(), Color{0.0f, 0.0f, 0.0f, 0.0f}, Vector2i{0, 0},
                       Vector2f{3.0f, 3.0f});
    }
    cursor->set_color(cursor_color);
    cursor->set_position(relative_cursor_position);
    if (!(held(messages::vk_control) && button_down() && resizable)) {
        cursor->draw();
    }
}

void Window::present_and_clear() {
    platform::present(*this);
    if (gl_context == nullptr) {
        return;
    }
    glClearColor(clear_color.red, clear_color.green, clear_color.blue, clear_color.alpha);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// Ctrl with the left button drags the window by the cursor's movement; with the right button it
// resizes a resizable window. The procedure records the new position and size from the move.
void Window::follow_drag() {
    using namespace messages;
    if (!held(vk_control)) {
        return;
    }
    if (held(left_button)) {
        platform::move_window(*this, position + cursor_delta, size);
    } else if (held(right_button) && resizable) {
        const Vector2i screen = get_screen_size();
        const Vector2i resized = size + cursor_delta;
        platform::move_window(*this, position,
                              {keep_between(resized.x, minimum_size.x, screen.x),
                               keep_between(resized.y, minimum_size.y, screen.y)});
    }
}

void Window::close_on_escape() {
    if (key_pressed[messages::vk_escape].load(std::memory_order_relaxed)) {
        open.store(false, std::memory_order_relaxed);
    }
}

void Window::clear_pressed_keys() {
    for (std::atomic<bool>& pressed : key_pressed) {
        pressed.store(false, std::memory_order_relaxed);
    }
}

// The time since the previous call, for the cursor's fade.
void Window::track_timing() {
    delta_time = static_cast<float>(steady_seconds() - last_time);
    last_time = steady_seconds();
}

// The window appears once its first frame is presented and its first messages are handled.
void Window::show_after_first_frame() {
    if (!shown) {
        platform::show_window(*this, true);
        shown = true;
    }
}

std::optional<std::intptr_t> handle_message(Window* window, std::uint32_t message,
                                            std::uintptr_t w_param, std::intptr_t l_param) {
    if (window == nullptr) {
        return std::nullopt;
    }
    return window->window_procedure(message, w_param, l_param);
}

void Window::close_with_error(const std::string& message) {
    if (!platform::error_box_on_main_thread()) {
        open.store(false, std::memory_order_relaxed);
        show_error(message);
        return;
    }
    handed_over_error = message;
    error_handed_over.store(true, std::memory_order_release);
    open.store(false, std::memory_order_relaxed);
}

bool Window::show_handed_over_error() {
    if (error_handed_over.exchange(false, std::memory_order_acquire)) {
        return show_error(handed_over_error);
    }
    return true;
}

void turn_on_gamepads() {
    gamepads_for_new_windows = true;
}

bool show_error(const std::string& message) {
    return platform::show_message_box(message);
}

} // namespace Tavrin
