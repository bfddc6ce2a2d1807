#pragma once

#include "renderer/gl_name.hpp"
#include "renderer/vector.hpp"

#include <cstdint>

namespace Tavrin {

// GL_RED: one byte per texel, the format of this program's textures.
inline constexpr std::uint32_t gl_red = 0x1903;

// A two-dimensional OpenGL texture of one byte per texel (format GL_RED in this program), sampled
// without filtering. Copies share the GL name; the last holder deletes it. Needs the window's
// OpenGL context current on the calling thread.
class Texture {
public:
    // No GL texture: size (0, 0), name 0.
    Texture() = default;
    // Creates the texture and fills it from `texels`: size.x * size.y bytes, rows tightly packed,
    // row 0 first (shown at the top).
    Texture(Vector2i dimensions, std::uint32_t texel_format, const std::uint8_t* texels);

    // Replaces every texel from size.x * size.y bytes in `format`; the storage is reused.
    void update(const std::uint8_t* texels);

    Vector2i size;
    std::uint32_t format = 0;
    Gl_Name id = std::make_shared<const std::uint32_t>(0);
};

} // namespace Tavrin
