#include "window/window.hpp"

#include "window/clock.hpp"
#include "window/messages.hpp"
#include "window/platform.hpp"

#include <GL/glew.h>

namespace Tavrin {

namespace {

bool button_down(const Window& window) {
    return window.key_held[messages::left_button].load(std::memory_order_relaxed) ||
           window.key_held[messages::right_button].load(std::memory_order_relaxed);
}

Matrix4 projection_for(Vector2i size) {
    return Matrix4::orthographic(static_cast<float>(size.x), static_cast<float>(size.y));
}

} // namespace

Window::Window(const std::string& title, Vector2i size, Color clear_color, Color cursor_color,
               Vector2i minimum_size)
    : native_window(std::make_shared<Native_Handle>(nullptr)), title(title), samples(0),
      minimum_size(minimum_size), size(size), clear_color(clear_color), cursor_color(cursor_color),
      projection(projection_for(size)) {
    const Vector2i screen = get_screen_size();
    position = {screen.x / 2 - size.x / 2, screen.y / 2 - size.y / 2};
    last_time = steady_seconds();
    open.store(true, std::memory_order_relaxed);
    focused = true;
    resizable = false;

    platform::create_window(*this);

    glewExperimental = GL_TRUE;
    glewInit();
}

Window::~Window() {
    cursor.reset();
    if (native_window && native_window.use_count() == 1) {
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
    const auto set = [](std::atomic<bool>& flag, bool value) {
        flag.store(value, std::memory_order_relaxed);
    };
    switch (message) {
    case wm_move: {
        const platform::Bounds bounds = platform::window_rectangle(*this);
        position = {bounds.left, bounds.top};
        return 0;
    }
    case wm_size: {
        const platform::Bounds bounds = platform::window_rectangle(*this);
        // A minimised window's rectangle lies far off screen; its size means nothing.
        if (bounds.right > 0 && bounds.bottom > 0) {
            size = {bounds.right - bounds.left, bounds.bottom - bounds.top};
            projection = projection_for(size);
            glViewport(0, 0, size.x, size.y);
        }
        return 0;
    }
    case wm_setfocus:
        focused = true;
        platform::capture_mouse(*this);
        platform::hide_system_cursor();
        return 0;
    case wm_killfocus:
        focused = false;
        platform::release_mouse(*this);
        return 0;
    case wm_close:
        set(open, false);
        return 0;
    case wm_keydown:
        // Key codes are 0 to 255; anything larger must not reach the buttons' flags or beyond.
        if (w_param < key_code_count && !key_held[w_param].load(std::memory_order_relaxed)) {
            set(key_pressed[w_param], true);
            set(key_held[w_param], true);
        }
        return 0;
    case wm_keyup:
        if (w_param < key_code_count) {
            set(key_held[w_param], false);
        }
        return 0;
    case wm_lbuttondown:
    case wm_rbuttondown:
    case wm_mbuttondown:
        set(key_pressed[message], true);
        set(key_held[message], true);
        return 0;
    case wm_lbuttonup:
    case wm_rbuttonup:
    case wm_mbuttonup:
        set(key_held[message - 1], false);
        return 0;
    case wm_mousewheel: {
        const auto delta = static_cast<std::int16_t>((w_param >> 16) & 0xFFFF);
        scroll += delta / wheel_delta;
        return 0;
    }
    case wm_capturechanged:
        if (focused) {
            platform::capture_mouse(*this);
        }
        return 0;
    case wm_command: {
        const std::uintptr_t command = w_param & 0xFFFF;
        const bool system_command =
            command == sc_maximize || command == sc_close || command == sc_restore;
        return ((w_param >> 16) & 0xFFFF) == 0 && system_command ? 1 : 0;
    }
    default:
        return std::nullopt;
    }
}

bool Window::update() {
    using messages::left_button;
    using messages::right_button;
    using messages::vk_control;
    using messages::vk_escape;

    // 1. Cursor sampling.
    cursor_position = platform::cursor_position();
    relative_cursor_position = cursor_position - position;
    cursor_delta = cursor_position - previous_cursor_position;
    previous_cursor_position = cursor_position;

    // 2.
    scroll = 0;

    // 3. The cursor is opaque while the mouse moves or a button is held, and fades out over two
    // seconds of stillness.
    const bool button = button_down(*this);
    if (button || cursor_delta != Vector2i{0, 0}) {
        cursor_color.alpha = 1.0f;
    } else if (cursor_color.alpha > 0.0f) {
        cursor_color.alpha -= delta_time * 0.5f;
    } else {
        cursor_color.alpha = 0.0f;
    }

    // 4. A failed build leaves no cursor; the next call tries again.
    if (!cursor) {
        cursor.emplace(draw_target(), Color{0.0f, 0.0f, 0.0f, 0.0f}, Vector2i{0, 0},
                       Vector2f{3.0f, 3.0f});
    }

    // 5, 6.
    cursor->set_color(cursor_color);
    cursor->set_position(relative_cursor_position);
    const bool control = key_held[vk_control].load(std::memory_order_relaxed);
    if (!(control && button && resizable)) {
        cursor->draw();
    }

    // 7, 8.
    platform::present(*this);
    glClearColor(clear_color.red, clear_color.green, clear_color.blue, clear_color.alpha);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    // 9. Gestures. The procedure records the new position and size from the move.
    if (control) {
        if (key_held[left_button].load(std::memory_order_relaxed)) {
            platform::move_window(*this, position + cursor_delta, size);
        } else if (key_held[right_button].load(std::memory_order_relaxed) && resizable) {
            const Vector2i screen = get_screen_size();
            Vector2i resized = size + cursor_delta;
            if (resized.x < minimum_size.x) {
                resized.x = minimum_size.x;
            } else if (resized.x > screen.x) {
                resized.x = screen.x;
            }
            if (resized.y < minimum_size.y) {
                resized.y = minimum_size.y;
            } else if (resized.y > screen.y) {
                resized.y = screen.y;
            }
            platform::move_window(*this, position, resized);
        }
    }

    // 10, 11.
    if (key_pressed[vk_escape].load(std::memory_order_relaxed)) {
        open.store(false, std::memory_order_relaxed);
    }
    for (std::atomic<bool>& pressed : key_pressed) {
        pressed.store(false, std::memory_order_relaxed);
    }

    // 12.
    platform::pump_messages(*this);

    // 13.
    delta_time = static_cast<float>(steady_seconds() - last_time);
    last_time = steady_seconds();

    // 14.
    if (!shown) {
        platform::show_window(*this, true);
        shown = true;
    }

    // 15.
    return open.load(std::memory_order_relaxed);
}

std::optional<std::intptr_t> handle_message(Window* window, std::uint32_t message,
                                            std::uintptr_t w_param, std::intptr_t l_param) {
    if (window == nullptr) {
        return std::nullopt;
    }
    return window->window_procedure(message, w_param, l_param);
}

void show_error(const std::string& message) {
    platform::show_message_box(message);
}

} // namespace Tavrin
