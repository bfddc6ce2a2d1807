#pragma once

// The first lines of every shader text: the GLSL version and, for OpenGL ES (WebGL 2 in the
// browser), the precision of floats, for which its fragment shaders have no default. The shader
// bodies that follow are the same on every platform.
#ifdef __EMSCRIPTEN__
#define TAVRIN_SHADER_HEADER "#version 300 es\nprecision highp float;\n"
#else
#define TAVRIN_SHADER_HEADER "#version 330 core\n"
#endif
