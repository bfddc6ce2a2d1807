#pragma once

#include "renderer/matrix.hpp"

namespace Tavrin {

// What a drawable needs of the window it draws into; the window hands it out, so the renderer
// never needs the window itself.
struct Draw_Target {
    // Window pixels to clip coordinates. The window keeps it current as it is resized, so a
    // drawable reads it at every draw.
    const Matrix4* projection = nullptr;
    // The OpenGL context that was current when the target was handed out: the drawable's GL
    // objects belong to it.
    const void* gl_context = nullptr;
};

} // namespace Tavrin
