#include "renderer/image.hpp"

#include "renderer/gl.hpp"
#include "renderer/matrix.hpp"

#include <vector>

namespace Tavrin {

namespace {

// Four corners of the unit square (x, y, u, v); each texture coordinate equals its position,
// so texel row 0 lies along the top edge.
const std::vector<std::uint32_t> image_vertices{0, 0, 0, 0, 0, 1, 0, 1, 1, 1, 1, 1, 1, 0, 1, 0};
const std::vector<std::uint32_t> image_indices{0, 1, 2, 0, 2, 3};

} // namespace

Image::Image(Draw_Target into, Texture* shown, Vector2i texel_scale)
    : target(into),
      texture(shown), scale{static_cast<float>(texel_scale.x), static_cast<float>(texel_scale.y)} {
    program = Program({{vertex_shader, GL_VERTEX_SHADER}, {fragment_shader, GL_FRAGMENT_SHADER}});
    vertex_array.add_buffer(GL_ARRAY_BUFFER, image_vertices);
    vertex_array.add_buffer(GL_ELEMENT_ARRAY_BUFFER, image_indices);
    vertex_array.bind_attribute(program, 4);
}

void Image::draw() {
    glUseProgram(name_of(program.id));
    vertex_array.bind();
    glActiveTexture(GL_TEXTURE0);
    glUniform1i(program.uniform_location("image"), 0);
    glBindTexture(GL_TEXTURE_2D, name_of(texture->id));
    const Matrix4 matrix =
        *target.projection * Matrix4::scale(static_cast<float>(texture->size.x) * scale.x,
                                            static_cast<float>(texture->size.y) * scale.y);
    glUniformMatrix4fv(program.uniform_location("matrix"), 1, GL_FALSE, matrix.elements.data());
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
}

} // namespace Tavrin
