#pragma once

#include <cstdint>

namespace Tavrin {

// A pair of values: a size (width, height) or a position (x, y), in pixels or as scale factors.
template <typename T>
struct Vector2 {
    T x{};
    T y{};

    friend constexpr Vector2 operator+(Vector2 a, Vector2 b) { return {a.x + b.x, a.y + b.y}; }
    friend constexpr Vector2 operator-(Vector2 a, Vector2 b) { return {a.x - b.x, a.y - b.y}; }
    friend constexpr bool operator==(Vector2 a, Vector2 b) = default;
};

using Vector2i = Vector2<std::int32_t>;
using Vector2f = Vector2<float>;

// A colour: red, green, blue and alpha, each from 0 to 1.
struct Color {
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
    float alpha = 0.0f;

    friend constexpr bool operator==(Color a, Color b) = default;
};

} // namespace Tavrin
