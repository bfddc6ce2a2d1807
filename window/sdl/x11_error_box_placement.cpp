#include "window/sdl/x11_error_box_placement.hpp"

#include "window/platform.hpp"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace Tavrin::platform {

namespace {

using namespace std::chrono_literals;

struct Free_Reply {
    void operator()(void* reply) const { std::free(reply); }
};

// A reply of XCB's; empty when the request failed.
template <typename Reply>
using Reply_Of = std::unique_ptr<Reply, Free_Reply>;

xcb_atom_t intern(xcb_connection_t* x, const char* name) {
    const Reply_Of<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// A window's title as it names itself to window managers: _NET_WM_NAME, or else WM_NAME.
class Titles {
public:
    explicit Titles(xcb_connection_t* connection)
        : x{connection}, net_wm_name{intern(connection, "_NET_WM_NAME")} {}

    std::string of(xcb_window_t window) const {
        std::string title = text(window, net_wm_name);
        return title.empty() ? text(window, XCB_ATOM_WM_NAME) : title;
    }

private:
    std::string text(xcb_window_t window, xcb_atom_t property) const {
        const Reply_Of<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            x, xcb_get_property(x, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
            nullptr));
        if (!reply || reply->format != 8) {
            return {};
        }
        return {static_cast<const char*>(xcb_get_property_value(reply.get())),
                static_cast<std::size_t>(xcb_get_property_value_length(reply.get()))};
    }

    xcb_connection_t* x;
    xcb_atom_t net_wm_name;
};

// The viewable window titled `title` at or below the viewable `window`, inner windows first, so
// that a frame repeating its client's title is passed over for the client; none when there is
// none. Unmapped windows are skipped with everything inside them.
xcb_window_t find_viewable(xcb_connection_t* x, const Titles& titles, xcb_window_t window,
                           const std::string& title) {
    const Reply_Of<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x, xcb_query_tree(x, window), nullptr));
    if (!tree) {
        return XCB_WINDOW_NONE;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const auto count = static_cast<std::size_t>(xcb_query_tree_children_length(tree.get()));
    // All the children's requests go out before the first reply is awaited.
    std::vector<xcb_get_window_attributes_cookie_t> requests;
    requests.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        requests.push_back(xcb_get_window_attributes(x, children[i]));
    }
    std::vector<xcb_window_t> viewable;
    for (std::size_t i = 0; i < count; ++i) {
        const Reply_Of<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(x, requests[i], nullptr));
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
            viewable.push_back(children[i]);
        }
    }
    // Topmost first: the newest box is likely to be on top.
    for (auto child = viewable.rbegin(); child != viewable.rend(); ++child) {
        if (const xcb_window_t found = find_viewable(x, titles, *child, title)) {
            return found;
        }
    }
    return titles.of(window) == title ? window : xcb_window_t{XCB_WINDOW_NONE};
}

// The child of the root window that holds `window`: a window manager's frame around it, or the
// window itself where there is none.
xcb_window_t top_level(xcb_connection_t* x, xcb_window_t window) {
    for (;;) {
        const Reply_Of<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(x, xcb_query_tree(x, window), nullptr));
        if (!tree || tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE) {
            return window;
        }
        window = tree->parent;
    }
}

// Moves `box` so that its top-level window (its frame, with the frame's border) is centred.
// Under a window manager the move is a request that it carries out on the frame: with the
// default gravity, which SDL's box keeps, the frame's outer corner goes where the client asked.
void centre(xcb_connection_t* x, xcb_window_t box, Vector2i screen) {
    const Reply_Of<xcb_get_geometry_reply_t> outer(
        xcb_get_geometry_reply(x, xcb_get_geometry(x, top_level(x, box)), nullptr));
    if (!outer) {
        return;
    }
    const Vector2i size{outer->width + 2 * outer->border_width,
                        outer->height + 2 * outer->border_width};
    const Vector2i corner = centred(screen, size);
    const std::uint32_t values[] = {static_cast<std::uint32_t>(corner.x),
                                    static_cast<std::uint32_t>(corner.y)};
    // Waits until the server has carried out the move: the connection is closed right after,
    // and a server may drop the requests of a closed connection that it has not yet read.
    const Reply_Of<xcb_generic_error_t> error(xcb_request_check(
        x,
        xcb_configure_window_checked(x, box, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values)));
}

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

// A connection to the default display, and its screen's root window; none where the server does
// not answer.
std::pair<Connection, xcb_window_t> connect() {
    int screen_number = 0;
    Connection connection(xcb_connect(nullptr, &screen_number));
    if (xcb_connection_has_error(connection.get()) != 0) {
        return {};
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screen_number && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        return {};
    }
    return {std::move(connection), screens.data->root};
}

void place(const std::stop_token& stop, const std::string& title, Vector2i screen) {
    // A busy server now and then refuses or drops a connection: make a new one and go on.
    while (!stop.stop_requested()) {
        const auto [x, root] = connect();
        if (x) {
            const Titles titles(x.get());
            while (!stop.stop_requested() && xcb_connection_has_error(x.get()) == 0) {
                if (const xcb_window_t box = find_viewable(x.get(), titles, root, title)) {
                    centre(x.get(), box, screen);
                    return;
                }
                std::this_thread::sleep_for(5ms);
            }
        }
        std::this_thread::sleep_for(20ms);
    }
}

} // namespace

X11_Error_Box_Placement::X11_Error_Box_Placement(const std::string& title, Vector2i screen)
    : thread(place, title, screen) {}

} // namespace Tavrin::platform
