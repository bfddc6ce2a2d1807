// The window system layer for Windows: Win32 windows, WGL contexts, the message pump and the
// error box.

#include "base/exception.hpp"
#include "window/platform.hpp"
#include "window/window.hpp"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace Tavrin::platform {
namespace {

// WGL_ARB_pixel_format and WGL_ARB_multisample.
constexpr int wgl_draw_to_window_arb = 0x2001;
constexpr int wgl_acceleration_arb = 0x2003;
constexpr int wgl_support_opengl_arb = 0x2010;
constexpr int wgl_double_buffer_arb = 0x2011;
constexpr int wgl_pixel_type_arb = 0x2013;
constexpr int wgl_color_bits_arb = 0x2014;
constexpr int wgl_depth_bits_arb = 0x2022;
constexpr int wgl_stencil_bits_arb = 0x2023;
constexpr int wgl_full_acceleration_arb = 0x2027;
constexpr int wgl_type_rgba_arb = 0x202B;
constexpr int wgl_sample_buffers_arb = 0x2041;
constexpr int wgl_samples_arb = 0x2042;

// The structures as the 64-bit system expects them.
static_assert(sizeof(WNDCLASSEXA) == 80);
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);

using Choose_Pixel_Format_Arb = BOOL(WINAPI*)(HDC, const int*, const FLOAT*, UINT, int*, UINT*);
using Swap_Interval_Ext = BOOL(WINAPI*)(int);

// State shared by every window of the process.
struct Process_State {
    std::once_flag class_registered;
    std::string class_name; // the first window's title
    std::once_flag attributes_filled;
    // clang-format off
    std::array<int, 21> pixel_format_attributes{
        wgl_draw_to_window_arb, 1,
        wgl_support_opengl_arb, 1,
        wgl_double_buffer_arb,  1,
        wgl_acceleration_arb,   wgl_full_acceleration_arb,
        wgl_pixel_type_arb,     wgl_type_rgba_arb,
        wgl_color_bits_arb,     32,
        wgl_depth_bits_arb,     24,
        wgl_stencil_bits_arb,   8,
        wgl_sample_buffers_arb, 1,
        wgl_samples_arb,        0, // the first window's sample count
        0,
    };
    // clang-format on
    static constexpr std::size_t samples_entry = 19;
    std::mutex pixel_format_mutex;
    int pixel_format = 0;
};

Process_State& process_state() {
    static Process_State state;
    return state;
}

const PIXELFORMATDESCRIPTOR& pixel_format_descriptor() {
    static const PIXELFORMATDESCRIPTOR descriptor = [] {
        PIXELFORMATDESCRIPTOR d{};
        d.nSize = sizeof(PIXELFORMATDESCRIPTOR);
        d.nVersion = 1;
        d.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
        d.iPixelType = PFD_TYPE_RGBA;
        d.cColorBits = 32;
        d.cDepthBits = 24;
        d.cStencilBits = 8;
        d.iLayerType = PFD_MAIN_PLANE;
        return d;
    }();
    return descriptor;
}

HWND native_handle(const Window& window) {
    return window.native_window ? static_cast<HWND>(*window.native_window) : nullptr;
}

// Throws `what` with the calling thread's last Windows error, read before anything else runs.
[[noreturn]] void fail(std::string_view what) {
    const DWORD error = GetLastError();
    throw Exception{std::string(what) + " (Windows error " + std::to_string(error) + ")."};
}

// Some drivers answer a failed look-up with a small integer instead of null.
PROC extension_function(const char* name) {
    const PROC function = wglGetProcAddress(name);
    const auto value = reinterpret_cast<std::intptr_t>(function);
    if (value == 0 || value == 1 || value == 2 || value == 3 || value == -1) {
        return nullptr;
    }
    return function;
}

template <typename Function>
Function extension(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(extension_function(name)));
}

// Until the constructor stores the Window's address, every message gets the default handling.
LRESULT CALLBACK procedure(HWND handle, UINT message, WPARAM w_param, LPARAM l_param) {
    auto* window = reinterpret_cast<Window*>(GetWindowLongPtrA(handle, GWLP_USERDATA));
    if (const std::optional<std::intptr_t> result =
            handle_message(window, message, w_param, l_param)) {
        return *result;
    }
    return DefWindowProcA(handle, message, w_param, l_param);
}

void register_class(const Window& window) {
    Process_State& state = process_state();
    std::call_once(state.class_registered, [&] {
        state.class_name = window.title;
        WNDCLASSEXA description{};
        description.cbSize = sizeof(WNDCLASSEXA);
        description.style = CS_HREDRAW | CS_VREDRAW;
        description.lpfnWndProc = procedure;
        description.hInstance = static_cast<HINSTANCE>(window.instance);
        description.lpszClassName = state.class_name.c_str();
        // A failure shows when the window is created from the class.
        RegisterClassExA(&description);
    });
}

// Releases the context, the device context and the native window, whichever exist.
void release(Window& window) {
    wglMakeCurrent(nullptr, nullptr);
    if (window.gl_context != nullptr) {
        wglDeleteContext(static_cast<HGLRC>(window.gl_context));
        window.gl_context = nullptr;
    }
    if (const HWND handle = native_handle(window); handle != nullptr) {
        // The Window is being torn down: from here on its messages get the default handling.
        SetWindowLongPtrA(handle, GWLP_USERDATA, 0);
        if (window.device_context != nullptr) {
            ReleaseDC(handle, static_cast<HDC>(window.device_context));
        }
        DestroyWindow(handle);
        *window.native_window = nullptr;
    }
    window.device_context = nullptr;
}

// Creates the hidden pop-up window and its device context, sets the remembered pixel format on
// it (choosing the legacy format first when `choose` is set) and makes a new context current.
void create_native_window(Window& window, bool choose) {
    Process_State& state = process_state();
    const HWND handle = CreateWindowExA(0, state.class_name.c_str(), window.title.c_str(),
                                        WS_POPUP | WS_MINIMIZEBOX, window.position.x,
                                        window.position.y, window.size.x, window.size.y, nullptr,
                                        nullptr, static_cast<HINSTANCE>(window.instance), nullptr);
    if (handle == nullptr) {
        fail("Could not create the program's window");
    }
    *window.native_window = handle;
    const HDC device_context = GetDC(handle);
    if (device_context == nullptr) {
        fail("Could not get the window's device context");
    }
    window.device_context = device_context;
    if (choose) {
        state.pixel_format = ChoosePixelFormat(device_context, &pixel_format_descriptor());
        if (state.pixel_format == 0) {
            fail("No pixel format with double-buffered 32-bit colour, a 24-bit depth buffer and "
                 "an 8-bit stencil buffer is available for OpenGL");
        }
    }
    if (!SetPixelFormat(device_context, state.pixel_format, &pixel_format_descriptor())) {
        fail("Could not set the window's pixel format");
    }
    const HGLRC context = wglCreateContext(device_context);
    if (context == nullptr) {
        fail("Could not create an OpenGL context");
    }
    window.gl_context = context;
    if (!wglMakeCurrent(device_context, context)) {
        fail("Could not make the OpenGL context current");
    }
}

void create_window_steps(Window& window) {
    Process_State& state = process_state();
    register_class(window);
    std::lock_guard lock(state.pixel_format_mutex);

    // The first window and context only serve to reach the WGL extensions.
    create_native_window(window, true);
    std::call_once(state.attributes_filled, [&] {
        state.pixel_format_attributes[Process_State::samples_entry] = window.samples;
    });
    const auto choose_pixel_format = extension<Choose_Pixel_Format_Arb>("wglChoosePixelFormatARB");
    if (choose_pixel_format == nullptr) {
        throw Exception{"The OpenGL driver does not offer wglChoosePixelFormatARB "
                        "(WGL_ARB_pixel_format)."};
    }
    int extended_format = 0;
    UINT count = 0;
    // Where no format matches, the legacy one chosen above stays.
    if (choose_pixel_format(static_cast<HDC>(window.device_context),
                            state.pixel_format_attributes.data(), nullptr, 1, &extended_format,
                            &count) &&
        count > 0 && extended_format > 0) {
        state.pixel_format = extended_format;
    }

    release(window);
    create_native_window(window, false);
}

} // namespace

void create_window(Window& window) {
    window.instance = GetModuleHandleA(nullptr);
    if (!window.native_window) {
        window.native_window = std::make_shared<Native_Handle>(nullptr);
    }
    try {
        create_window_steps(window);
        const HWND handle = native_handle(window);
        SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
        const auto swap_interval = extension<Swap_Interval_Ext>("wglSwapIntervalEXT");
        if (swap_interval == nullptr) {
            throw Exception{"The OpenGL driver does not offer wglSwapIntervalEXT "
                            "(WGL_EXT_swap_control)."};
        }
        swap_interval(0);
        SetWindowPos(handle, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_FRAMECHANGED);
    } catch (...) {
        release(window);
        throw;
    }
}

void destroy_window(Window& window) {
    release(window);
}

Vector2i read_screen_size() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

Vector2i cursor_position() {
    POINT point{};
    GetCursorPos(&point);
    return {point.x, point.y};
}

void move_window(Window& window, Vector2i position, Vector2i size) {
    MoveWindow(native_handle(window), position.x, position.y, size.x, size.y, TRUE);
}

Bounds window_rectangle(const Window& window) {
    RECT rectangle{};
    GetWindowRect(native_handle(window), &rectangle);
    return {rectangle.left, rectangle.top, rectangle.right, rectangle.bottom};
}

void present(Window& window) {
    SwapBuffers(static_cast<HDC>(window.device_context));
}

void show_window(Window& window, bool visible) {
    ShowWindow(native_handle(window), visible ? SW_SHOW : SW_HIDE);
}

void pump_messages(Window& window) {
    const HWND handle = native_handle(window);
    MSG message{};
    while (PeekMessageA(&message, handle, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
}

void capture_mouse(Window& window) {
    SetCapture(native_handle(window));
}

void release_mouse(Window&) {
    ReleaseCapture();
}

void hide_system_cursor() {
    SetCursor(nullptr);
}

bool error_box_on_main_thread() {
    // A message box is modal to its own thread only: the emulation thread may show it itself.
    return false;
}

bool show_message_box(const std::string& message) {
    // Centres the box once it is on screen. The box is looked for with a short pause between
    // attempts and only for a few seconds, so a box that never appears costs nothing.
    std::thread([] {
        using namespace std::chrono_literals;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            const HWND box = FindWindowA(nullptr, error_box_title);
            if (box != nullptr && IsWindowVisible(box)) {
                RECT rectangle{};
                GetWindowRect(box, &rectangle);
                const Vector2i size{rectangle.right - rectangle.left,
                                    rectangle.bottom - rectangle.top};
                const Vector2i corner = centred(Window::get_screen_size(), size);
                MoveWindow(box, corner.x, corner.y, size.x, size.y, TRUE);
                return;
            }
            std::this_thread::sleep_for(5ms);
        }
    }).detach();

    if (MessageBoxA(nullptr, message.c_str(), error_box_title, MB_OK | MB_ICONERROR) == 0) {
        std::fprintf(stderr, "%s: %s\n", error_box_title, message.c_str());
        return false;
    }
    return true;
}

} // namespace Tavrin::platform
