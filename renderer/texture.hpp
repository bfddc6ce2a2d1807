#pragma once

#include "renderer/vector.hpp"

#include <cstdint>
#include <memory>

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
    Texture(Vector2i size, std::uint32_t format, const std::uint8_t* texels);
    Texture(const Texture&) = default;
    Texture(Texture&& other) noexcept;
    Texture& operator=(const Texture& other);
    // Exchanges the whole contents, so the source (a temporary) takes the previous texture away.
    Texture& operator=(Texture&& other) noexcept;
    ~Texture();

    // Replaces every texel from size.x * size.y bytes in `format`; the storage is reused.
    void update(const std::uint8_t* texels);

    Vector2i size;
    std::uint32_t format = 0;
    std::shared_ptr<std::uint32_t> id = std::make_shared<std::uint32_t>(0);
};

} // namespace Tavrin
