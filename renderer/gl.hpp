#pragma once

// The OpenGL API for the renderer's and the window's sources (never for a public header):
// desktop OpenGL 3.3 with its entry points loaded by GLEW, or OpenGL ES 3.0 as WebGL 2 offers it
// in the browser. The renderer calls only what both have.

#ifdef __EMSCRIPTEN__
#include <GLES3/gl3.h>
#else
#include <GL/glew.h>
#endif

namespace Tavrin {

// The internal format that holds texels of `format` (GL_RED): OpenGL ES wants it sized.
inline GLint texture_internal_format(GLenum format) {
#ifdef __EMSCRIPTEN__
    return format == GL_RED ? GL_R8 : static_cast<GLint>(format);
#else
    return static_cast<GLint>(format);
#endif
}

// Loads the entry points beyond OpenGL 1.1, with the new context current. The browser's come
// with the context.
inline void load_gl_entry_points() {
#ifndef __EMSCRIPTEN__
    glewExperimental = GL_TRUE;
    glewInit();
#endif
}

} // namespace Tavrin
