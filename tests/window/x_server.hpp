#pragma once

// Drives the X server the way a user would (XTest input) and reads back real window geometry,
// for tests of the window layer.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace Tavrin::testing {

struct X_Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool viewable = false;
    bool found = false;
};

class X_Server {
public:
    X_Server() : display(XOpenDisplay(nullptr)) {}
    ~X_Server() {
        if (display != nullptr) {
            for (const KeySym key : held_keys) {
                XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), False, CurrentTime);
            }
            for (const unsigned int button : held_buttons) {
                XTestFakeButtonEvent(display, button, False, CurrentTime);
            }
            XSync(display, False);
            XCloseDisplay(display);
        }
    }
    X_Server(const X_Server&) = delete;
    X_Server& operator=(const X_Server&) = delete;

    void key(KeySym key, bool down) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), down ? True : False,
                          CurrentTime);
        XSync(display, False);
        remember(held_keys, key, down);
    }

    void tap(KeySym symbol) {
        key(symbol, true);
        key(symbol, false);
    }

    void button(unsigned int button, bool down) {
        XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
        XSync(display, False);
        remember(held_buttons, button, down);
    }

    void move_pointer(int x, int y) {
        XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
        XSync(display, False);
    }

    // The top-level window with this title.
    ::Window find(const std::string& title) {
        ::Window root_return = 0;
        ::Window parent = 0;
        ::Window* children = nullptr;
        unsigned int count = 0;
        ::Window found = 0;
        if (XQueryTree(display, DefaultRootWindow(display), &root_return, &parent, &children,
                       &count) != 0) {
            for (unsigned int i = 0; i < count && found == 0; ++i) {
                if (title_of(children[i]) == title) {
                    found = children[i];
                }
            }
            if (children != nullptr) {
                XFree(children);
            }
        }
        return found;
    }

    X_Geometry geometry(const std::string& title) {
        X_Geometry result;
        const ::Window window = find(title);
        XWindowAttributes attributes{};
        if (window == 0 || XGetWindowAttributes(display, window, &attributes) == 0) {
            return result;
        }
        ::Window child = 0;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &result.x,
                              &result.y, &child);
        result.width = attributes.width;
        result.height = attributes.height;
        result.viewable = attributes.map_state == IsViewable;
        result.found = true;
        return result;
    }

    // Asks the window to close, as a window manager's close button does.
    void request_close(const std::string& title) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = find(title);
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
        XSync(display, False);
    }

    // The colour of a screen pixel as 8-bit red, green and blue.
    std::uint32_t screen_pixel(int x, int y) {
        XImage* image =
            XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) {
            return 0xFFFFFFFF;
        }
        const unsigned long pixel = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        return static_cast<std::uint32_t>(pixel & 0xFFFFFF);
    }

    Display* display;

private:
    // The title as SDL sets it: _NET_WM_NAME (UTF-8), or else WM_NAME.
    std::string title_of(::Window window) {
        const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
        const Atom utf8_string = XInternAtom(display, "UTF8_STRING", False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        std::string title;
        if (XGetWindowProperty(display, window, net_wm_name, 0, 256, False, utf8_string, &type,
                               &format, &count, &remaining, &data) == Success &&
            data != nullptr) {
            if (type == utf8_string && format == 8) {
                title.assign(reinterpret_cast<const char*>(data), count);
            }
            XFree(data);
        }
        char* name = nullptr;
        if (title.empty() && XFetchName(display, window, &name) != 0 && name != nullptr) {
            title = name;
            XFree(name);
        }
        return title;
    }

    template <typename T>
    static void remember(std::vector<T>& held, T item, bool down) {
        std::erase(held, item);
        if (down) {
            held.push_back(item);
        }
    }

    std::vector<KeySym> held_keys;
    std::vector<unsigned int> held_buttons;
};

// Repeats `step` until `done` holds or two seconds have passed; returns whether it holds.
template <typename Step, typename Done>
bool repeat_until(Step step, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        step();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace Tavrin::testing
