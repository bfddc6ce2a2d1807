#include "renderer/gl_name.hpp"

#include "renderer/gl.hpp"

namespace Tavrin {

namespace {

void delete_object(Gl_Kind kind, GLuint name) {
    switch (kind) {
    case Gl_Kind::program:
        glDeleteProgram(name);
        break;
    case Gl_Kind::vertex_array:
        glDeleteVertexArrays(1, &name);
        break;
    case Gl_Kind::buffer:
        glDeleteBuffers(1, &name);
        break;
    case Gl_Kind::texture:
        glDeleteTextures(1, &name);
        break;
    }
}

} // namespace

Gl_Name hold_gl_name(Gl_Kind kind, std::uint32_t name) {
    return Gl_Name(new std::uint32_t(name), [kind](const std::uint32_t* held) {
        if (*held != 0) {
            delete_object(kind, *held);
        }
        delete held;
    });
}

} // namespace Tavrin
