#include "renderer/rectangle.hpp"

#include "renderer/gl.hpp"
#include "renderer/matrix.hpp"

#include <vector>

namespace Tavrin {

namespace {

// The unit square's corners (x, y) and its two triangles.
const std::vector<std::uint32_t> rectangle_vertices{0, 0, 0, 1, 1, 1, 1, 0};
const std::vector<std::uint32_t> rectangle_indices{0, 1, 2, 0, 2, 3};

struct Shared {
    Program program;
    Vertex_Array vertex_array;
    const void* context = nullptr;
};

// Allocated once and never destroyed: a destructor running at process exit would call OpenGL
// after the context is gone. The owning window releases the GL objects instead.
Shared& shared() {
    static Shared& instance = *new Shared;
    return instance;
}

} // namespace

Program& Rectangle::program() {
    return shared().program;
}

Vertex_Array& Rectangle::vertex_array() {
    return shared().vertex_array;
}

const void* Rectangle::shared_context() {
    return shared().context;
}

void Rectangle::release_shared(const void* context) {
    Shared& objects = shared();
    if (objects.context != context || name_of(objects.program.id) == 0) {
        return;
    }
    objects.vertex_array = Vertex_Array();
    objects.program = Program();
    objects.context = nullptr;
}

Rectangle::Rectangle(Draw_Target into, Color fill, Vector2i corner, Vector2f extent)
    : target(into), color(fill),
      scale(extent), position{static_cast<float>(corner.x), static_cast<float>(corner.y)} {
    Shared& objects = shared();
    if (name_of(objects.program.id) != 0) {
        return;
    }
    Program built({{vertex_shader, GL_VERTEX_SHADER}, {fragment_shader, GL_FRAGMENT_SHADER}});
    Vertex_Array array;
    array.add_buffer(GL_ARRAY_BUFFER, rectangle_vertices);
    array.add_buffer(GL_ELEMENT_ARRAY_BUFFER, rectangle_indices);
    array.bind_attribute(built, 2);
    // Published only once complete, so a failed build leaves nothing behind and the next
    // rectangle tries again.
    objects.program = built;
    objects.vertex_array = array;
    objects.context = target.gl_context;
}

void Rectangle::draw() {
    Shared& objects = shared();
    glUseProgram(name_of(objects.program.id));
    objects.vertex_array.bind();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const Matrix4 matrix = (*target.projection * Matrix4::translation(position.x, position.y)) *
                           Matrix4::scale(scale.x, scale.y);
    glUniformMatrix4fv(objects.program.uniform_location("matrix"), 1, GL_FALSE,
                       matrix.elements.data());
    const std::int32_t color_location = objects.program.uniform_location("color");
    glUniform4f(color_location, color.red, color.green, color.blue, color.alpha);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
    glDisable(GL_BLEND);
}

} // namespace Tavrin
