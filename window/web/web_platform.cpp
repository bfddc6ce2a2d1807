// The window system layer in a web browser: the page's canvas is the window, WebGL 2 its OpenGL
// ES 3.0 context, the DOM's events its messages. The page (index.html) supplies the canvas and
// the error dialog. This is the only file of the program that calls the browser.
//
// The canvas is a window that never moves: its position stays (0, 0) and the drag gesture
// changes nothing. Events arrive between two animation frames and reach the window procedure at
// once, so there is nothing to pump. The backing store holds a whole number of device pixels
// per CSS pixel, so the picture stays sharp on high-density screens.

#include "window/platform.hpp"

#include "renderer/gl.hpp"
#include "base/exception.hpp"
#include "window/messages.hpp"
#include "window/window.hpp"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <cmath>
#include <string_view>

namespace Tavrin::platform {

namespace {

constexpr const char* canvas = "#canvas";

// The one window: the page has one canvas. Null until create_window has finished.
Window* page_window = nullptr;
Vector2i mouse;                        // in CSS pixels from the canvas's top-left corner
Vector2i window_size;                  // in CSS pixels
std::int32_t pixels_per_css_pixel = 0; // of the backing store; 0 until the window is sized

void send(std::uint32_t message, std::uintptr_t w_param = 0) {
    handle_message(page_window, message, w_param, 0);
}

// The Win32 virtual-key code of a key by its place on the keyboard (the DOM's `code`, such as
// "KeyC", the same whatever the layout), or 0 for keys that have none here.
std::uint32_t virtual_key(std::string_view code) {
    using namespace messages;
    if (code.size() == 4 && code.substr(0, 3) == "Key" && code[3] >= 'A' && code[3] <= 'Z') {
        return static_cast<std::uint32_t>(code[3]);
    }
    if (code.size() == 6 && code.substr(0, 5) == "Digit" && code[5] >= '0' && code[5] <= '9') {
        return static_cast<std::uint32_t>(code[5]);
    }
    if (code.size() >= 2 && code.size() <= 3 && code[0] == 'F' && code[1] >= '1' &&
        code[1] <= '9') {
        const int number = code.size() == 2 ? code[1] - '0' : (code[1] - '0') * 10 + code[2] - '0';
        if (number >= 1 && number <= 12) {
            return vk_f1 + static_cast<std::uint32_t>(number - 1);
        }
    }
    struct Named {
        std::string_view code;
        std::uint32_t key;
    };
    static constexpr Named named[]{
        {"Backspace", vk_back},      {"Tab", vk_tab},
        {"Enter", vk_return},        {"NumpadEnter", vk_return},
        {"ShiftLeft", vk_shift},     {"ShiftRight", vk_shift},
        {"ControlLeft", vk_control}, {"ControlRight", vk_control},
        {"Escape", vk_escape},       {"Space", vk_space},
        {"ArrowLeft", vk_left},      {"ArrowUp", vk_up},
        {"ArrowRight", vk_right},    {"ArrowDown", vk_down},
    };
    for (const Named& entry : named) {
        if (entry.code == code) {
            return entry.key;
        }
    }
    return 0;
}

EM_BOOL on_key(int event_type, const EmscriptenKeyboardEvent* event, void*) {
    using namespace messages;
    const std::uint32_t code = virtual_key(event->code);
    if (code == 0) {
        return EM_FALSE;
    }
    send(key_message(code, event_type == EMSCRIPTEN_EVENT_KEYDOWN, event->altKey != 0), code);
    // Letters, Space, the arrows and Escape do not scroll or act on the page; every other key,
    // and the browser's shortcuts with Ctrl or Meta, keep their default action.
    const bool own = (code >= 'A' && code <= 'Z') || code == vk_space || code == vk_escape ||
                     (code >= vk_left && code <= vk_down);
    return own && !event->ctrlKey && !event->metaKey ? EM_TRUE : EM_FALSE;
}

EM_BOOL on_mouse_move(int, const EmscriptenMouseEvent* event, void*) {
    mouse = {static_cast<std::int32_t>(event->targetX), static_cast<std::int32_t>(event->targetY)};
    return EM_FALSE;
}

EM_BOOL on_button(int event_type, const EmscriptenMouseEvent* event, void*) {
    using namespace messages;
    std::uint32_t message = 0;
    switch (event->button) {
    case 0:
        message = wm_lbuttondown;
        break;
    case 1:
        message = wm_mbuttondown;
        break;
    case 2:
        message = wm_rbuttondown;
        break;
    default:
        return EM_FALSE;
    }
    if (event_type == EMSCRIPTEN_EVENT_MOUSEUP) {
        ++message; // each button's up message follows its down message
    }
    on_mouse_move(event_type, event, nullptr);
    send(message);
    return EM_FALSE;
}

// The DOM's wheel turns the other way round: a positive deltaY scrolls down, a negative wheel
// delta on Win32.
EM_BOOL on_wheel(int, const EmscriptenWheelEvent* event, void*) {
    if (event->deltaY == 0.0) {
        return EM_FALSE;
    }
    const std::int32_t delta = event->deltaY < 0.0 ? messages::wheel_delta : -messages::wheel_delta;
    send(messages::wm_mousewheel, static_cast<std::uintptr_t>(static_cast<std::uint16_t>(delta))
                                      << 16);
    return EM_TRUE;
}

EM_BOOL on_focus(int event_type, const EmscriptenFocusEvent*, void*) {
    send(event_type == EMSCRIPTEN_EVENT_FOCUS ? messages::wm_setfocus : messages::wm_killfocus);
    return EM_FALSE;
}

EM_JS(double, device_pixel_ratio, (), { return window.devicePixelRatio || 1; });

EM_JS(void, set_canvas_visible, (bool visible),
      { Module.canvas.style.visibility = visible ? "visible" : "hidden"; });

// The page's modal dialog (Module.show_error in index.html).
EM_JS(void, show_page_error, (const char* title, const char* text), {
    title = UTF8ToString(title);
    text = UTF8ToString(text);
    if (Module.show_error) {
        Module.show_error(title, text);
    } else {
        console.warn(title + "\n\n" + text);
    }
});

std::int32_t device_pixels_per_css_pixel() {
    const double ratio = device_pixel_ratio();
    return ratio < 1.0 ? 1 : static_cast<std::int32_t>(std::floor(ratio));
}

// Sizes the backing store at a whole number of device pixels per CSS pixel, when the window's
// size or the pixel ratio has changed (a new size clears the canvas, even the same size), and
// draws into all of it; the projection stays in CSS pixels.
void fit_backing_store() {
    const std::int32_t ratio = device_pixels_per_css_pixel();
    static Vector2i fitted;
    if (ratio != pixels_per_css_pixel || window_size != fitted) {
        pixels_per_css_pixel = ratio;
        fitted = window_size;
        emscripten_set_canvas_element_size(canvas, window_size.x * ratio, window_size.y * ratio);
        emscripten_set_element_css_size(canvas, window_size.x, window_size.y);
    }
    glViewport(0, 0, window_size.x * ratio, window_size.y * ratio);
}

} // namespace

void create_window(Window& window) {
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.majorVersion = 2;
    attributes.minorVersion = 0;
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_TRUE;
    attributes.stencil = EM_TRUE;
    attributes.antialias = EM_FALSE;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context =
        emscripten_webgl_create_context(canvas, &attributes);
    if (context <= 0) {
        throw Exception{"Could not create a WebGL 2 context.\n\nThis program needs a browser with "
                        "WebGL 2 turned on, such as a recent Firefox, Chrome, Edge or Safari."};
    }
    emscripten_webgl_make_context_current(context);

    *window.native_window = reinterpret_cast<Native_Handle>(static_cast<std::intptr_t>(context));
    window.instance = nullptr;
    window.device_context = *window.native_window;
    window.gl_context = *window.native_window;
    window_size = window.size;
    page_window = &window;

    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on_key);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on_key);
    emscripten_set_mousemove_callback(canvas, nullptr, EM_TRUE, on_mouse_move);
    emscripten_set_mousedown_callback(canvas, nullptr, EM_TRUE, on_button);
    // A button released outside the canvas still ends its press, as the mouse capture does on
    // the desktop.
    emscripten_set_mouseup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on_button);
    emscripten_set_wheel_callback(canvas, nullptr, EM_TRUE, on_wheel);
    emscripten_set_focus_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on_focus);
    emscripten_set_blur_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on_focus);
}

void destroy_window(Window& window) {
    page_window = nullptr;
    const auto context = static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(
        reinterpret_cast<std::intptr_t>(window.gl_context));
    if (context > 0) {
        emscripten_webgl_destroy_context(context);
    }
    window.gl_context = nullptr;
    window.device_context = nullptr;
    *window.native_window = nullptr;
}

// The canvas is the program's whole world: its screen is the canvas's size as the page lays
// it out.
Vector2i read_screen_size() {
    double width = 0.0;
    double height = 0.0;
    emscripten_get_element_css_size(canvas, &width, &height);
    return {static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
}

// The canvas stands at (0, 0), so the mouse's place on the canvas is its place on the "screen".
Vector2i cursor_position() {
    return mouse;
}

// Only the size counts: the canvas stays where the page puts it.
void move_window(Window& /*window*/, Vector2i /*position*/, Vector2i size) {
    window_size = {size.x < 1 ? 1 : size.x, size.y < 1 ? 1 : size.y};
    send(messages::wm_move);
    send(messages::wm_size);
    // After the procedure, which set the viewport in CSS pixels.
    fit_backing_store();
}

Bounds window_rectangle(const Window& /*window*/) {
    return {0, 0, window_size.x, window_size.y};
}

// The browser presents the canvas when the animation frame ends. A change of the pixel ratio
// (the page zoomed, the window moved to another screen) refits the backing store.
void present(Window& /*window*/) {
    if (pixels_per_css_pixel != 0) {
        fit_backing_store();
    }
}

void show_window(Window& /*window*/, bool visible) {
    set_canvas_visible(visible);
}

void pump_messages(Window& /*window*/) {}

// The browser keeps sending a pressed button's release to the page (see create_window), and
// the page's style hides the system cursor over the canvas.
void capture_mouse(Window& /*window*/) {}
void release_mouse(Window& /*window*/) {}
void hide_system_cursor() {}

bool error_box_on_main_thread() {
    return true;
}

// The page's modal dialog: it cannot block the page's one thread, so this returns at once and
// the page shows the dialog until it is dismissed.
bool show_message_box(const std::string& message) {
    show_page_error(error_box_title, message.c_str());
    return true;
}

} // namespace Tavrin::platform
