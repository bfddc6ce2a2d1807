#pragma once

#include "window/platform.hpp"
#include "window/window.hpp"

#include <GL/glew.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tavrin::testing {

inline constexpr Color test_clear_color{0.3f, 0.3f, 0.3f, 1.0f};
inline constexpr Color test_cursor_color{0.965f, 0.965f, 0.965f, 1.0f};

// A real window with a current context, sized to `size` at `position`. The driver takes the
// new size of the drawable at a present, so one is made before anything is drawn.
inline std::unique_ptr<Window> make_window(const std::string& title, Vector2i size = {500, 600},
                                           Vector2i position = {100, 100}) {
    auto window = std::make_unique<Window>(title, Vector2i{0, 0}, test_clear_color,
                                           test_cursor_color, Vector2i{130, 130});
    platform::move_window(*window, position, size);
    platform::present(*window);
    return window;
}

struct Pixel {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    std::uint8_t alpha;

    friend bool operator==(Pixel, Pixel) = default;
};

// The back buffer, row 0 at the top as in window coordinates.
class Frame {
public:
    explicit Frame(const Window& window) : width(window.size.x), height(window.size.y) {
        pixels.resize(static_cast<std::size_t>(width * height));
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    }

    Pixel at(int x, int y) const {
        return pixels[static_cast<std::size_t>((height - 1 - y) * width + x)];
    }

    int width;
    int height;
    std::vector<Pixel> pixels;
};

inline void clear(Color color) {
    glClearColor(color.red, color.green, color.blue, color.alpha);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

} // namespace Tavrin::testing
