// The window system layer in a web browser: the page's canvas is the window, WebGL 2 its OpenGL
// ES 3.0 context, the DOM's events its messages. The page (index.html) supplies the canvas and
// the error dialog. This is the only file of the program that calls the browser.
//
// The canvas is a window that never moves: its position stays (0, 0) and the drag gesture
// changes nothing. Events arrive between two animation frames and reach the window procedure at
// once, so there is nothing to pump. The page sizes the canvas: its backing store, a whole number
// of device pixels per machine pixel, and its size on the page (page.js). The window keeps its
// own size as the projection's units and draws into the whole backing store, whatever its size.
//
// Where the browser gives no WebGL 2 context, or loses the one it gave, the page draws the
// picture on a 2D canvas instead (Module.picture_2d, picture_2d.js): the window then has no
// context, draws nothing, and the program hands the page each frame's picture (web_main.cpp).

#include "window/platform.hpp"

#include "base/exception.hpp"
#include "renderer/gl.hpp"
#include "window/messages.hpp"
#include "window/window.hpp"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <string_view>

namespace Tavrin::platform {

namespace {

constexpr const char* canvas = "#canvas";

// The one window: the page has one canvas. Null until create_window has finished.
Window* page_window = nullptr;
Vector2i mouse;       // in the window's units from the canvas's top-left corner
Vector2i window_size; // the window's units: the projection's, whatever the canvas's size

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

// Whether the focus is on one of the page's buttons, which Space presses.
EM_JS(bool, button_has_focus, (), { return document.activeElement instanceof HTMLButtonElement; });

EM_BOOL on_key(int event_type, const EmscriptenKeyboardEvent* event, void*) {
    using namespace messages;
    const std::uint32_t code = virtual_key(event->code);
    if (code == 0) {
        return EM_FALSE;
    }
    const bool down = event_type == EMSCRIPTEN_EVENT_KEYDOWN;
    // Space on a focused button is the page's: it presses the button, and only a release (of a
    // Space held since before the focus moved) reaches the program.
    if (code == vk_space && button_has_focus()) {
        if (!down) {
            send(key_message(code, false, event->altKey != 0), code);
        }
        return EM_FALSE;
    }
    send(key_message(code, down, event->altKey != 0), code);
    // Letters, Space, the arrows, Escape and Backspace (the rewind) do not scroll or act on the
    // page; every other key, and the browser's shortcuts with Ctrl or Meta, keep their default
    // action.
    const bool own = (code >= 'A' && code <= 'Z') || code == vk_space || code == vk_escape ||
                     code == vk_back || (code >= vk_left && code <= vk_down);
    return own && !event->ctrlKey && !event->metaKey ? EM_TRUE : EM_FALSE;
}

// The event gives CSS pixels on the canvas, which the page may show at any size.
EM_BOOL on_mouse_move(int, const EmscriptenMouseEvent* event, void*) {
    double width = 0.0;
    double height = 0.0;
    emscripten_get_element_css_size(canvas, &width, &height);
    if (width > 0.0 && height > 0.0) {
        mouse = {
            static_cast<std::int32_t>(static_cast<double>(event->targetX) * window_size.x / width),
            static_cast<std::int32_t>(static_cast<double>(event->targetY) * window_size.y /
                                      height)};
    }
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
// delta on Win32. The program does not use the wheel, so the page still scrolls with it.
EM_BOOL on_wheel(int, const EmscriptenWheelEvent* event, void*) {
    if (event->deltaY != 0.0) {
        const std::int32_t delta =
            event->deltaY < 0.0 ? messages::wheel_delta : -messages::wheel_delta;
        send(messages::wm_mousewheel, static_cast<std::uintptr_t>(static_cast<std::uint16_t>(delta))
                                          << 16);
    }
    return EM_FALSE;
}

EM_BOOL on_focus(int event_type, const EmscriptenFocusEvent*, void*) {
    send(event_type == EMSCRIPTEN_EVENT_FOCUS ? messages::wm_setfocus : messages::wm_killfocus);
    return EM_FALSE;
}

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

// Whether the page can draw the picture on a 2D canvas (Module.picture_2d); from now on it does.
EM_JS(bool, start_picture_2d, (),
      { return Module.picture_2d ? Module.picture_2d.start(Module.canvas) : false; });

// The program keeps nothing from which to build its GL objects again, so a lost context is not
// restored: the picture goes on on a 2D canvas, and the window draws nothing more.
EM_BOOL on_context_lost(int, const void*, void*) {
    if (page_window != nullptr && start_picture_2d()) {
        page_window->gl_context = nullptr;
    }
    return EM_FALSE;
}

// Where the page wants the picture in the canvas's backing store (the canvas's
// picture_viewport: left, top, width and height from its top-left corner), in OpenGL's terms,
// from the bottom-left corner; the whole backing store where the page says nothing.
EM_JS(void, read_picture_viewport, (std::int32_t * viewport), {
    const canvas = Module.canvas;
    const place = canvas.picture_viewport || [ 0, 0, canvas.width, canvas.height ];
    HEAP32.set([ place[0], canvas.height - place[1] - place[3], place[2], place[3] ],
               viewport >> 2);
});

// Draws where the page wants the picture in the backing store, whose size the page sets (and
// a new size clears); the rest shows the clear colour.
void fill_backing_store() {
    if (page_window == nullptr || page_window->gl_context == nullptr) {
        return;
    }
    std::int32_t viewport[4]{};
    read_picture_viewport(viewport);
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
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
    if (context <= 0 && !start_picture_2d()) {
        throw Exception{"Could not create a WebGL 2 context or a 2D canvas.\n\nThis program "
                        "needs a recent browser, such as Firefox, Chrome, Edge or Safari."};
    }
    if (context > 0) {
        emscripten_webgl_make_context_current(context);
        emscripten_set_webglcontextlost_callback(canvas, nullptr, EM_TRUE, on_context_lost);
    }

    *window.native_window =
        context > 0 ? reinterpret_cast<Native_Handle>(static_cast<std::intptr_t>(context))
                    : nullptr;
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
    // After the procedure, which set the viewport in the window's units.
    fill_backing_store();
}

Bounds window_rectangle(const Window& /*window*/) {
    return {0, 0, window_size.x, window_size.y};
}

// The browser presents the canvas when the animation frame ends. The page may have resized the
// backing store since the last frame (a resize, a zoom, another screen).
void present(Window& /*window*/) {
    fill_backing_store();
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
