#include "renderer/program.hpp"

#include "base/exception.hpp"
#include "renderer/gl.hpp"

namespace Tavrin {

static_assert(sizeof(GLuint) == sizeof(std::uint32_t), "GL names are held as 32-bit values");
static_assert(sizeof(GLenum) == sizeof(std::uint32_t), "GL enums are passed as 32-bit values");

Program::Program(std::initializer_list<Shader_Source> shaders) {
    build(shaders.begin(), shaders.end());
}

Program::Program(const std::vector<Shader_Source>& shaders) {
    build(shaders.data(), shaders.data() + shaders.size());
}

void Program::build(const Shader_Source* begin, const Shader_Source* end) {
    id = hold_gl_name(Gl_Kind::program, glCreateProgram());
    std::vector<GLuint> shaders;
    for (const Shader_Source* source = begin; source != end; ++source) {
        const GLuint shader = glCreateShader(source->stage);
        shaders.push_back(shader);
        glShaderSource(shader, 1, &source->text, nullptr);
        glCompileShader(shader);
        GLint status = 0;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
        if (status == 0) {
            GLint length = 0;
            glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
            std::string log(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
            if (length > 0) {
                GLsizei written = 0;
                glGetShaderInfoLog(shader, length, &written, log.data());
                // The log's length counts its terminating NUL, which is no part of the text.
                log.resize(static_cast<std::size_t>(written));
            }
            // Nothing of the failed build outlives the exception: the shaders made so far go
            // here, the program with its holder.
            for (const GLuint made : shaders) {
                glDeleteShader(made);
            }
            throw Exception{"Could not compile an OpenGL shader.\n\n" + log};
        }
        glAttachShader(name_of(id), shader);
    }
    glLinkProgram(name_of(id));
    for (const GLuint shader : shaders) {
        glDeleteShader(shader);
    }
}

std::int32_t Program::attribute_location(const std::string& name) const {
    const GLint location = glGetAttribLocation(name_of(id), name.c_str());
    if (location == -1) {
        throw Exception{"Could not get the location of the OpenGL shader attribute \"" + name +
                        "\"."};
    }
    return location;
}

std::int32_t Program::uniform_location(const std::string& name) const {
    const GLint location = glGetUniformLocation(name_of(id), name.c_str());
    if (location == -1) {
        throw Exception{"Could not get the location of the OpenGL shader uniform \"" + name +
                        "\"."};
    }
    return location;
}

void Vertex_Array::bind() {
    if (!id) {
        GLuint name = 0;
        glGenVertexArrays(1, &name);
        id = hold_gl_name(Gl_Kind::vertex_array, name);
    }
    glBindVertexArray(name_of(id));
}

void Vertex_Array::add_buffer(std::uint32_t target, const std::vector<std::uint32_t>& data) {
    bind();
    GLuint name = 0;
    glGenBuffers(1, &name);
    buffers.push_back(name);
    buffer_holders.push_back(hold_gl_name(Gl_Kind::buffer, name));
    glBindBuffer(target, name);
    glBufferData(target, static_cast<GLsizeiptr>(data.size() * sizeof(std::uint32_t)), data.data(),
                 GL_STATIC_DRAW);
}

void Vertex_Array::bind_attribute(const Program& program, std::int32_t components) {
    const std::int32_t location = program.attribute_location("vertex");
    bind();
    const auto index = static_cast<GLuint>(location);
    glEnableVertexAttribArray(index);
    // Integer data read as floats: 0 and 1 reach the shader as 0.0 and 1.0.
    glVertexAttribPointer(index, components, GL_UNSIGNED_INT, GL_FALSE, 0, nullptr);
}

} // namespace Tavrin
