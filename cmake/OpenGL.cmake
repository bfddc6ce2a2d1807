# tavrin_gl: the OpenGL headers and libraries with GLEW, which supplies the entry points beyond
# OpenGL 1.1 (in the browser: WebGL 2). Link it into every target that calls OpenGL.
add_library(tavrin_gl INTERFACE)
if(EMSCRIPTEN)
    # OpenGL ES 3.0 as WebGL 2: the headers come with Emscripten, the entry points with the
    # context (link options in Web.cmake).
elseif(WIN32)
    # Windows builds provide GLEW and opengl32 here.
    find_package(GLEW REQUIRED)
    find_package(OpenGL REQUIRED)
    target_link_libraries(tavrin_gl INTERFACE GLEW::GLEW OpenGL::GL)
else()
    set(OpenGL_GL_PREFERENCE GLVND)
    find_package(GLEW REQUIRED)
    find_package(OpenGL REQUIRED)
    target_link_libraries(tavrin_gl INTERFACE GLEW::GLEW OpenGL::GL)
endif()
