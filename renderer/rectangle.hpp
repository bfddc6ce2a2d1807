#pragma once

#include "renderer/draw_target.hpp"
#include "renderer/program.hpp"
#include "renderer/shader_header.hpp"
#include "renderer/vector.hpp"

namespace Tavrin {

// A rectangle of one colour, alpha-blended over the back buffer, placed in window pixels.
// All rectangles share one program and one vertex array, built by the first rectangle.
// Those shared objects belong to the OpenGL context that was current then: the Window that owns
// that context releases them while the context is still current (release_shared), and they are
// never released at process exit, so no OpenGL call happens after the context is gone.
class Rectangle {
public:
    static constexpr const char vertex_shader[] =
        TAVRIN_SHADER_HEADER "layout(location = 0) in vec2 vertex;\n"
                             "uniform mat4 matrix;\n"
                             "void main()\n"
                             "{\n"
                             "\tgl_Position = matrix*vec4(vertex, 0.f, 1.f);\n"
                             "}\n";
    static constexpr const char fragment_shader[] =
        TAVRIN_SHADER_HEADER "uniform vec4 color;\n"
                             "layout(location = 0) out vec4 output_color;\n"
                             "void main()\n"
                             "{\n"
                             "\toutput_color = color;\n"
                             "}\n";

    // Builds the shared program and vertex array if they do not exist yet (the window's context
    // must be current). Throws Tavrin::Exception when the shaders cannot be built.
    Rectangle(Draw_Target into, Color fill, Vector2i corner, Vector2f extent);

    void set_color(Color new_color) { color = new_color; }
    void set_position(Vector2i new_position) {
        position = {static_cast<float>(new_position.x), static_cast<float>(new_position.y)};
    }

    // Draws with blending (colour * alpha + background * (1 - alpha)); blending is off again
    // afterwards. Throws Tavrin::Exception when a uniform is missing.
    void draw();

    // The shared objects. `program` holds 0 until the first rectangle is built.
    static Program& program();
    static Vertex_Array& vertex_array();
    // The context that was current when the shared objects were built (null while none exist).
    static const void* shared_context();
    // Deletes the shared objects if they were built in `context`, which must be current. The
    // next rectangle builds them again.
    static void release_shared(const void* context);

    Draw_Target target;
    Color color;
    Vector2f scale;
    Vector2f position;
};

} // namespace Tavrin
