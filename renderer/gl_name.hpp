#pragma once

#include <cstdint>
#include <memory>

namespace Tavrin {

// The name of an OpenGL object, shared by every copy of the object that owns it: the last copy
// deletes the GL object, so a temporary assigned into its owner deletes nothing while the owner
// still holds the name. A holder of 0 deletes nothing; so does an empty one (a moved-from owner).
using Gl_Name = std::shared_ptr<const std::uint32_t>;

// The kinds of object, each deleted with its own GL call.
enum class Gl_Kind { program, vertex_array, buffer, texture };

// Holds `name`, deleted as a `kind` object by its last holder. Needs the context that owns the
// object to be current when that holder goes.
Gl_Name hold_gl_name(Gl_Kind kind, std::uint32_t name);

// The name held, or 0 when the holder is empty.
inline std::uint32_t name_of(const Gl_Name& holder) {
    return holder ? *holder : 0;
}

} // namespace Tavrin
