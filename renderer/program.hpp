#pragma once

#include "renderer/gl_name.hpp"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace Tavrin {

// One shader of a program: its GLSL text (referenced, not copied) and its stage,
// GL_VERTEX_SHADER or GL_FRAGMENT_SHADER.
struct Shader_Source {
    const char* text;
    std::uint32_t stage;
};

// A linked OpenGL program. Copies share the GL name; the last holder deletes it. Needs the
// window's OpenGL context current on the calling thread.
class Program {
public:
    Program() = default;
    // Compiles each shader in order, attaches it, links and flags the shaders for deletion.
    // Throws Tavrin::Exception with the compiler's log when a shader does not compile.
    explicit Program(std::initializer_list<Shader_Source> shaders);
    explicit Program(const std::vector<Shader_Source>& shaders);

    // The location of a vertex attribute or uniform; throws Tavrin::Exception when the linked
    // program has none of that name.
    std::int32_t attribute_location(const std::string& name) const;
    std::int32_t uniform_location(const std::string& name) const;

    Gl_Name id = std::make_shared<const std::uint32_t>(0);

private:
    void build(const Shader_Source* begin, const Shader_Source* end);
};

// A vertex array object with the buffers that feed it. Copies share the GL vertex array and copy
// the list of buffer names; the last holder deletes the buffers and the vertex array.
class Vertex_Array {
public:
    // Creates the GL vertex array on first use, then binds it.
    void bind();
    // Creates a buffer filled from `data` and binds it to `target` (GL_ARRAY_BUFFER or
    // GL_ELEMENT_ARRAY_BUFFER) while this vertex array is bound.
    void add_buffer(std::uint32_t target, const std::vector<std::uint32_t>& data);
    // Describes the program's attribute "vertex" as `components` unsigned 32-bit integers per
    // vertex, tightly packed in the buffer bound to GL_ARRAY_BUFFER. Throws Tavrin::Exception
    // when the program has no such attribute.
    void bind_attribute(const Program& program, std::int32_t components);

    // Empty until the first bind.
    Gl_Name id;
    // The buffers' names, in creation order.
    std::vector<std::uint32_t> buffers;

private:
    // The buffers' holders. Members go in reverse order, so the last holder deletes the buffers
    // before the vertex array.
    std::vector<Gl_Name> buffer_holders;
};

} // namespace Tavrin
