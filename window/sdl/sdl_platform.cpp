// The window system layer on SDL2, with a few direct X11 queries where SDL's own answers go stale.
// This is the only file of the program that calls SDL.

#include "window/platform.hpp"

#include "base/exception.hpp"
#include "window/messages.hpp"
#include "window/sdl/x11_error_box_placement.hpp"
#include "window/sdl/x11_lost_display.hpp"
#include "window/window.hpp"

#include <GL/glew.h>
#include <SDL.h>
#include <SDL_syswm.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <thread>

namespace Tavrin::platform {

namespace {

// The key under which an SDL window keeps the address of its Tavrin::Window.
constexpr const char* window_data_key = "Tavrin::Window";

std::string sdl_reason() {
    const char* reason = SDL_GetError();
    return reason != nullptr && reason[0] != '\0' ? reason : "no reason given";
}

// Whether SDL has settled for a video driver that shows nothing. SDL tries its drivers in turn
// and, when no window system answers, ends with one that draws off screen: the window would run
// unseen, and SDL's error box, which reads the X11 driver's data of the display, would crash.
bool settled_for_no_display() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver == nullptr || std::strcmp(driver, "offscreen") == 0 ||
           std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "evdev") == 0;
}

// A hang-up (the terminal closed) asks the window to close, as SIGINT and SIGTERM do through SDL.
// The handler, on whichever thread the signal reaches, only raises the flag (lock-free, so safe in
// a handler); the message pump turns it into a close request.
std::atomic<bool> hang_up_received{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void receive_hang_up(int /*signal*/) {
    hang_up_received.store(true, std::memory_order_relaxed);
}

// Only where the hang-up has its default effect: a program started with it ignored (nohup) keeps
// running after the terminal has gone.
void close_on_hang_up() {
    struct sigaction current {};
    if (sigaction(SIGHUP, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
        return;
    }
    struct sigaction handler {};
    handler.sa_handler = receive_hang_up;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &handler, nullptr);
}

// What went wrong with the display named in `x_display` (null where none is), and what to do.
std::string no_display_message(const char* x_display, const std::string& reason) {
    std::string message = "Could not open the display";
    if (x_display != nullptr) {
        message += std::string(" \"") + x_display + "\"";
    }
    return message + ": " + reason +
           ". Check that the X server (or the Wayland compositor) is running and that DISPLAY "
           "(or WAYLAND_DISPLAY) names it.";
}

// SDL's video subsystem, started once per process and kept until the process ends.
void ensure_video() {
    // Why the display could not be opened, once that has failed: later calls (the error box
    // reads the screen size) hear it again at once instead of waiting again.
    static std::string refusal;
    static const bool started = [] {
        if (!refusal.empty()) {
            throw Exception{refusal};
        }
        // A button pressed in the window keeps reporting to it until it is released, even
        // outside the window, as the focused window's mouse capture does on Win32.
        SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "1");
        // The click that activates the window counts, as on Win32; SDL would drop it.
        SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
        // SIGINT and SIGTERM become SDL_QUIT, which the pump turns into a close request, even
        // where the environment asks SDL to leave the signals alone.
        SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "0", SDL_HINT_OVERRIDE);
        // A busy X server now and then refuses a new connection for a moment (the connect fails
        // or is reset), and a display may come up just after the program: a display named in
        // the environment gets a few seconds to answer, asked less and less often. With none
        // named there is none to wait for, unless the user named a video driver (SDL_VIDEODRIVER),
        // whose choice stands.
        const char* x_display = SDL_getenv("DISPLAY");
        const char* wayland_display = SDL_getenv("WAYLAND_DISPLAY");
        const bool display_named = x_display != nullptr || wayland_display != nullptr;
        const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
        const bool driver_asked = asked != nullptr && asked[0] != '\0';
        if (!display_named && !driver_asked) {
            refusal = "Could not open the display: neither DISPLAY nor WAYLAND_DISPLAY is set. "
                      "Start the program from a graphical desktop, or set DISPLAY to the X "
                      "display to use.";
            throw Exception{refusal};
        }
        // With only an X display named, SDL would otherwise also try Wayland whenever the X
        // server does not answer at once, and the Wayland library complains on standard error.
        if (!driver_asked && wayland_display == nullptr) {
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        auto pause = std::chrono::milliseconds(100);
        for (;;) {
            if (SDL_Init(SDL_INIT_VIDEO) == 0) {
                if (driver_asked || !settled_for_no_display()) {
                    break;
                }
                SDL_QuitSubSystem(SDL_INIT_VIDEO);
            }
            if (!display_named || std::chrono::steady_clock::now() >= deadline) {
                refusal = no_display_message(
                    x_display, driver_asked ? sdl_reason() : "it did not answer within 5 seconds");
                throw Exception{refusal};
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(1000));
        }
        end_process_on_lost_display();
        close_on_hang_up();
        return true;
    }();
    (void)started;
}

bool video_available() {
    try {
        ensure_video();
        return true;
    } catch (const Exception&) {
        return false;
    }
}

SDL_Window* sdl_window(const Window& window) {
    return window.native_window ? static_cast<SDL_Window*>(*window.native_window) : nullptr;
}

// The Tavrin::Window behind an SDL window, like Win32's window user data: null until
// create_window has finished, and for windows that are gone.
Window* owner(SDL_Window* window) {
    return window != nullptr ? static_cast<Window*>(SDL_GetWindowData(window, window_data_key))
                             : nullptr;
}

Window* owner(std::uint32_t window_id) {
    return owner(SDL_GetWindowFromID(window_id));
}

// The portable procedure reads only the message and its first parameter, so the second, which
// Win32 fills with repeat counts, transition bits and packed coordinates, stays 0.
void send(Window* window, std::uint32_t message, std::uintptr_t w_param = 0) {
    handle_message(window, message, w_param, 0);
}

// The Win32 virtual-key code of a key, or 0 for keys that have none here.
std::uint32_t virtual_key(SDL_Keycode key) {
    using namespace messages;
    if (key >= SDLK_a && key <= SDLK_z) {
        return static_cast<std::uint32_t>('A' + (key - SDLK_a));
    }
    if (key >= SDLK_0 && key <= SDLK_9) {
        return static_cast<std::uint32_t>('0' + (key - SDLK_0));
    }
    if (key >= SDLK_F1 && key <= SDLK_F12) {
        return vk_f1 + static_cast<std::uint32_t>(key - SDLK_F1);
    }
    switch (key) {
    case SDLK_BACKSPACE:
        return vk_back;
    case SDLK_TAB:
        return vk_tab;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return vk_return;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        return vk_shift;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
        return vk_control;
    case SDLK_ESCAPE:
        return vk_escape;
    case SDLK_SPACE:
        return vk_space;
    case SDLK_LEFT:
        return vk_left;
    case SDLK_UP:
        return vk_up;
    case SDLK_RIGHT:
        return vk_right;
    case SDLK_DOWN:
        return vk_down;
    default:
        return 0;
    }
}

void dispatch_key(const SDL_KeyboardEvent& event) {
    using namespace messages;
    const std::uint32_t code = virtual_key(event.keysym.sym);
    if (code == 0) {
        return;
    }
    const std::uint32_t message =
        key_message(code, event.type == SDL_KEYDOWN, (event.keysym.mod & KMOD_ALT) != 0);
    send(owner(event.windowID), message, code);
}

void dispatch_button(const SDL_MouseButtonEvent& event) {
    using namespace messages;
    std::uint32_t message = 0;
    switch (event.button) {
    case SDL_BUTTON_LEFT:
        message = wm_lbuttondown;
        break;
    case SDL_BUTTON_RIGHT:
        message = wm_rbuttondown;
        break;
    case SDL_BUTTON_MIDDLE:
        message = wm_mbuttondown;
        break;
    default:
        return;
    }
    if (event.type == SDL_MOUSEBUTTONUP) {
        ++message; // each button's up message follows its down message
    }
    send(owner(event.windowID), message);
}

void dispatch_wheel(const SDL_MouseWheelEvent& event) {
    std::int32_t notches = event.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.y : event.y;
    if (notches == 0) {
        return;
    }
    const std::int32_t delta = std::clamp(notches * messages::wheel_delta, -32768, 32767);
    const auto high = static_cast<std::uintptr_t>(static_cast<std::uint16_t>(delta)) << 16;
    send(owner(event.windowID), messages::wm_mousewheel, high);
}

void dispatch_window_event(const SDL_WindowEvent& event) {
    using namespace messages;
    Window* target = owner(event.windowID);
    switch (event.event) {
    case SDL_WINDOWEVENT_MOVED:
        send(target, wm_move);
        break;
    case SDL_WINDOWEVENT_RESIZED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        send(target, wm_size);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        send(target, wm_setfocus);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        send(target, wm_killfocus);
        break;
    case SDL_WINDOWEVENT_CLOSE:
        send(target, wm_close);
        break;
    default:
        break;
    }
}

// The game controller's controls that a window with gamepads reports, as the Windows names of
// the gamepad's keys, or 0 for the others.
std::uint32_t gamepad_key(std::uint8_t button) {
    using namespace messages;
    switch (button) {
    case SDL_CONTROLLER_BUTTON_A:
        return vk_gamepad_a;
    case SDL_CONTROLLER_BUTTON_DPAD_LEFT:
        return vk_gamepad_dpad_left;
    case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
        return vk_gamepad_dpad_right;
    case SDL_CONTROLLER_BUTTON_START:
        return vk_gamepad_menu;
    case SDL_CONTROLLER_BUTTON_BACK:
        return vk_gamepad_view;
    default:
        return 0;
    }
}

void dispatch_gamepad_button(Window* target, const SDL_ControllerButtonEvent& event) {
    if (const std::uint32_t code = gamepad_key(event.button)) {
        send(target, messages::key_message(code, event.state == SDL_PRESSED, false), code);
    }
}

// The left stick's horizontal axis as two keys, each down while the stick leans past half way
// to its side. Every controller's stick counts alike (there is one player).
void dispatch_gamepad_axis(Window* target, const SDL_ControllerAxisEvent& event) {
    using namespace messages;
    if (event.axis != SDL_CONTROLLER_AXIS_LEFTX) {
        return;
    }
    static bool leaning_left = false;
    static bool leaning_right = false;
    constexpr std::int16_t half_way = 16384;
    const auto follow = [target](bool& leaning, bool now, std::uint32_t code) {
        if (leaning != now) {
            leaning = now;
            send(target, key_message(code, now, false), code);
        }
    };
    follow(leaning_left, event.value <= -half_way, vk_gamepad_left_thumbstick_left);
    follow(leaning_right, event.value >= half_way, vk_gamepad_left_thumbstick_right);
}

// Opens the game controller at joystick index `index`; SDL sends its events from then on. The
// controller stays open until the process ends, as the video subsystem does.
void open_gamepad(int index) {
    if (SDL_IsGameController(index) == SDL_TRUE) {
        SDL_GameControllerOpen(index);
    }
}

// For a window with gamepads: the controllers present now; those plugged in later are
// opened as they arrive (see pump_messages). Without the subsystem the keyboard still plays.
void open_gamepads() {
    if (SDL_WasInit(SDL_INIT_GAMECONTROLLER) != 0 ||
        SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        return;
    }
    for (int index = 0; index < SDL_NumJoysticks(); ++index) {
        open_gamepad(index);
    }
}

// A connection of our own to the X server, for queries whose SDL answers go stale (the global
// mouse state is refreshed only on button events under some servers). Null without X11.
Display* x_display() {
    static Display* const display = [] {
        ensure_video();
        return XOpenDisplay(nullptr);
    }();
    return display;
}

// The current context's version text, such as "3.0 Mesa 22.3.6"; empty if it gives none.
std::string gl_version_text() {
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return version != nullptr ? version : "";
}

int gl_version() {
    int major = 0;
    int minor = 0;
    if (std::sscanf(gl_version_text().c_str(), "%d.%d", &major, &minor) != 2) {
        return 0;
    }
    return major * 10 + minor;
}

// What a driver without OpenGL 3.3 tells the user: what is missing, what the driver offers
// (`offered`, the version text of its plain context, when it gave one) and what to do.
std::string missing_context_message(const std::string& reason, const std::string& offered) {
    std::string message = "Could not create an OpenGL 3.3 context: " + reason + "\n\n";
    message += "This program needs OpenGL 3.3 with GLSL 3.30";
    if (!offered.empty()) {
        message += "; the graphics driver offers only OpenGL " + offered;
    }
    return message + ".\nUpdate the graphics driver, or use a graphics card that supports "
                     "OpenGL 3.3.";
}

// The X11 display connection and window behind an SDL window; none under other window systems.
std::optional<std::pair<Display*, ::Window>> x11_window(SDL_Window* native) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(native, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
        return std::nullopt;
    }
    return std::pair{info.info.x11.display, info.info.x11.window};
}

// Whether a window manager still holds `window`: it keeps the window inside a frame of its own
// until it lets it go, and then puts it back at the top of the window tree.
bool framed(Display* display, ::Window window) {
    ::Window root = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) {
        return false;
    }
    if (children != nullptr) {
        XFree(children);
    }
    return parent != root;
}

// SDL hides a window by withdrawing it and waiting until the server has unmapped it. A window
// manager that is still taking the window on (twm, when the window is hidden just after it was
// shown) may map it again before it hears of the withdrawal, and then let go of it mapped: the
// window would stay on the screen. So wait (for a second at most) until the manager has let the
// window go, then unmap it where it came back; the server has done so before this returns.
void make_sure_unmapped(SDL_Window* native) {
    const auto x = x11_window(native);
    if (!x) {
        return;
    }
    const auto [display, window] = *x;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (framed(display, window) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) != 0 &&
        attributes.map_state != IsUnmapped) {
        XUnmapWindow(display, window);
    }
    XSync(display, False);
}

} // namespace

void create_window(Window& window) {
    ensure_video();
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    SDL_Window* native = SDL_CreateWindow(
        window.title.c_str(), window.position.x, window.position.y, std::max(window.size.x, 1),
        std::max(window.size.y, 1), SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
    if (native == nullptr) {
        throw Exception{"Could not open a window: " + sdl_reason()};
    }

    // A plain context first; where it cannot compile GLSL 3.30, ask for a 3.3 core one.
    SDL_GLContext context = SDL_GL_CreateContext(native);
    std::string offered;
    if (context != nullptr && gl_version() < 33) {
        offered = gl_version_text();
        SDL_GL_MakeCurrent(native, nullptr);
        SDL_GL_DeleteContext(context);
        context = nullptr;
    }
    if (context == nullptr) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        context = SDL_GL_CreateContext(native);
    }
    if (context == nullptr) {
        const std::string reason = sdl_reason();
        SDL_DestroyWindow(native);
        throw Exception{missing_context_message(reason, offered)};
    }
    SDL_GL_MakeCurrent(native, context);
    // Presenting never waits for the vertical retrace. Some servers refuse the call although
    // the interval is 0 already, so its result means nothing.
    SDL_GL_SetSwapInterval(0);

    *window.native_window = native;
    window.instance = nullptr;
    window.device_context = native;
    window.gl_context = context;
    SDL_SetWindowData(native, window_data_key, &window);
    if (window.gamepads) {
        open_gamepads();
    }
}

void destroy_window(Window& window) {
    SDL_Window* native = sdl_window(window);
    SDL_GL_MakeCurrent(native, nullptr);
    if (window.gl_context != nullptr) {
        SDL_GL_DeleteContext(static_cast<SDL_GLContext>(window.gl_context));
        window.gl_context = nullptr;
    }
    if (native != nullptr) {
        SDL_SetWindowData(native, window_data_key, nullptr);
        SDL_DestroyWindow(native);
        *window.native_window = nullptr;
    }
    window.device_context = nullptr;
}

Vector2i read_screen_size() {
    ensure_video();
    SDL_Rect bounds{};
    if (SDL_GetDisplayBounds(0, &bounds) != 0) {
        throw Exception{"Could not read the screen size: " + sdl_reason()};
    }
    return {bounds.w, bounds.h};
}

Vector2i cursor_position() {
    if (Display* display = x_display()) {
        ::Window root = 0;
        ::Window child = 0;
        int x = 0;
        int y = 0;
        int window_x = 0;
        int window_y = 0;
        unsigned int buttons = 0;
        if (XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &window_x,
                          &window_y, &buttons) != 0) {
            return {x, y};
        }
    }
    int x = 0;
    int y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    return {x, y};
}

void move_window(Window& window, Vector2i position, Vector2i size) {
    SDL_Window* native = sdl_window(window);
    if (native == nullptr) {
        return;
    }
    SDL_SetWindowPosition(native, position.x, position.y);
    SDL_SetWindowSize(native, std::max(size.x, 1), std::max(size.y, 1));
    // As on Win32, the procedure hears of the new rectangle before this returns.
    send(owner(native), messages::wm_move);
    send(owner(native), messages::wm_size);
}

Bounds window_rectangle(const Window& window) {
    SDL_Window* native = sdl_window(window);
    if (native == nullptr) {
        return {};
    }
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    SDL_GetWindowPosition(native, &x, &y);
    SDL_GetWindowSize(native, &width, &height);
    return {x, y, x + width, y + height};
}

void present(Window& window) {
    if (SDL_Window* native = sdl_window(window)) {
        SDL_GL_SwapWindow(native);
    }
}

void show_window(Window& window, bool visible) {
    SDL_Window* native = sdl_window(window);
    if (native == nullptr) {
        return;
    }
    if (visible) {
        // Showing a window also activates it, as on Win32.
        SDL_ShowWindow(native);
        SDL_RaiseWindow(native);
        SDL_SetWindowInputFocus(native);
    } else {
        SDL_HideWindow(native);
        make_sure_unmapped(native);
    }
}

void pump_messages(Window& window) {
    if (hang_up_received.exchange(false, std::memory_order_relaxed)) {
        send(owner(sdl_window(window)), messages::wm_close);
    }
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        switch (event.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            dispatch_key(event.key);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            dispatch_button(event.button);
            break;
        case SDL_MOUSEWHEEL:
            dispatch_wheel(event.wheel);
            break;
        case SDL_WINDOWEVENT:
            dispatch_window_event(event.window);
            break;
        // Controllers belong to no window: their controls go to the window being pumped.
        case SDL_CONTROLLERDEVICEADDED:
            open_gamepad(event.cdevice.which);
            break;
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
            dispatch_gamepad_button(owner(sdl_window(window)), event.cbutton);
            break;
        case SDL_CONTROLLERAXISMOTION:
            dispatch_gamepad_axis(owner(sdl_window(window)), event.caxis);
            break;
        case SDL_QUIT:
            // An interrupt from the terminal, for instance: a close request.
            send(owner(sdl_window(window)), messages::wm_close);
            break;
        default:
            break;
        }
    }
}

void capture_mouse(Window& /*window*/) {
    // SDL captures the mouse itself while a button is held (the hint set at start-up), which is
    // what the capture is for: a button released outside the window still reaches it.
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "1");
}

void release_mouse(Window& /*window*/) {
    SDL_CaptureMouse(SDL_FALSE);
}

void hide_system_cursor() {
    SDL_ShowCursor(SDL_DISABLE);
}

bool error_box_on_main_thread() {
    // SDL wants a box without a parent window shown from the main thread: around it, SDL changes
    // its process-wide cursor, keyboard and mouse-capture state.
    return true;
}

bool show_message_box(const std::string& message) {
    // Without a display there is nowhere to show a box.
    if (!video_available()) {
        std::cerr << error_box_title << "\n\n" << message << "\n";
        return false;
    }
    // SDL keeps the thread's current OpenGL context in the thread storage cleaned up below.
    SDL_Window* const current_window = SDL_GL_GetCurrentWindow();
    const SDL_GLContext current_context = SDL_GL_GetCurrentContext();
    int result = -1;
    {
        std::optional<X11_Error_Box_Placement> placement;
        try {
            placement.emplace(error_box_title, Window::get_screen_size());
        } catch (const Exception&) {
            // No screen, no box to place: the message goes to standard error below.
        }
        // SDL shows the box from a process of its own with a connection of its own, which a
        // busy X server now and then refuses for a moment; a failed attempt shows nothing, so
        // try again after a pause before falling back to standard error.
        for (int attempt = 0; attempt < 5 && result != 0; ++attempt) {
            if (attempt > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            result = SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, error_box_title,
                                              message.c_str(), nullptr);
        }
    }
    if (result != 0) {
        std::cerr << error_box_title << "\n\n"
                  << message << "\n\n(The error box could not be shown: " << sdl_reason() << ")\n";
    }
    // The box may be shown from a thread that SDL did not start, whose SDL thread storage would
    // otherwise outlive it; later SDL calls on this thread make it anew. A thread whose window
    // goes on after the box (the ROM player's, which waits for a new image) has its context made
    // current again, or SDL would refuse to present the window's frames.
    SDL_TLSCleanup();
    if (current_window != nullptr) {
        SDL_GL_MakeCurrent(current_window, current_context);
    }
    return result == 0;
}

} // namespace Tavrin::platform
