#include "renderer/texture.hpp"

#include "renderer/gl.hpp"

namespace Tavrin {

static_assert(gl_red == GL_RED);

Texture::Texture(Vector2i dimensions, std::uint32_t texel_format, const std::uint8_t* texels)
    : size(dimensions), format(texel_format) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    GLuint name = 0;
    glGenTextures(1, &name);
    id = hold_gl_name(Gl_Kind::texture, name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, texture_internal_format(format), size.x, size.y, 0, format,
                 GL_UNSIGNED_BYTE, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void Texture::update(const std::uint8_t* texels) {
    const std::uint32_t name = name_of(id);
    if (name == 0) {
        return; // nothing to fill before the texture exists
    }
    glBindTexture(GL_TEXTURE_2D, name);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size.x, size.y, format, GL_UNSIGNED_BYTE, texels);
}

} // namespace Tavrin
