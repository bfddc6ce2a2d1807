#pragma once

#include "renderer/draw_target.hpp"
#include "renderer/program.hpp"
#include "renderer/shader_header.hpp"
#include "renderer/texture.hpp"
#include "renderer/vector.hpp"

namespace Tavrin {

// Draws a texture as an opaque quad at the window's top-left corner, each texel covering
// scale.x by scale.y window pixels. Copies share the program and the vertex array.
class Image {
public:
    static constexpr const char vertex_shader[] =
        TAVRIN_SHADER_HEADER "layout(location = 0) in vec4 vertex;\n"
                             "uniform mat4 matrix;\n"
                             "out vec2 frag_uv;\n"
                             "void main()\n"
                             "{\n"
                             "\tgl_Position = matrix*vec4(vertex.xy, 0.0, 1.0);\n"
                             "\tfrag_uv = vertex.zw;\n"
                             "}\n";
    static constexpr const char fragment_shader[] =
        TAVRIN_SHADER_HEADER "in vec2 frag_uv;\n"
                             "uniform sampler2D image;\n"
                             "layout(location = 0) out vec4 output_color;\n"
                             "void main()\n"
                             "{\n"
                             "\toutput_color = vec4(vec3(texture(image, frag_uv).r), 1);\n"
                             "}\n";

    // No target, no texture and no GL object; must not be drawn.
    Image() = default;
    // Builds the program and the vertex array; the target's context must be current. `shown`
    // may still be in its default state: only the pointer is kept. Throws Tavrin::Exception when
    // the shaders cannot be built.
    Image(Draw_Target into, Texture* shown, Vector2i texel_scale);

    // Draws the texture's current contents. Throws Tavrin::Exception when a uniform is missing.
    void draw();

    Draw_Target target;
    Texture* texture = nullptr;
    Program program;
    Vertex_Array vertex_array;
    Vector2f scale{1.0f, 1.0f};
};

} // namespace Tavrin
