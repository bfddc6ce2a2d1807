#include "renderer/texture.hpp"

#include <GL/glew.h>

#include <utility>

namespace Tavrin {

static_assert(gl_red == GL_RED);

Texture::Texture(Vector2i size, std::uint32_t format, const std::uint8_t* texels)
    : size(size), format(format) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glGenTextures(1, id.get());
    glBindTexture(GL_TEXTURE_2D, *id);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), size.x, size.y, 0, format,
                 GL_UNSIGNED_BYTE, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// A moved-from texture is left in the default state, never without a holder.
Texture::Texture(Texture&& other) noexcept : Texture() {
    *this = std::move(other);
}

Texture& Texture::operator=(const Texture& other) {
    Texture copy(other);
    return *this = std::move(copy);
}

Texture& Texture::operator=(Texture&& other) noexcept {
    std::swap(size, other.size);
    std::swap(format, other.format);
    std::swap(id, other.id);
    return *this;
}

Texture::~Texture() {
    if (id && id.use_count() == 1 && *id != 0) {
        glDeleteTextures(1, id.get());
    }
}

void Texture::update(const std::uint8_t* texels) {
    if (*id == 0) {
        return; // nothing to fill before the texture exists
    }
    glBindTexture(GL_TEXTURE_2D, *id);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size.x, size.y, format, GL_UNSIGNED_BYTE, texels);
}

} // namespace Tavrin
