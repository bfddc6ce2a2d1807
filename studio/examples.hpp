#pragma once

// The project's own programs (machine/rom/*.asm), built into the studio as examples to open:
// their text as it was when the studio was built.

#include <span>
#include <string_view>

namespace Studio {

struct Example {
    std::string_view name; // the file's name, such as "demo.asm"
    std::string_view text;
};

std::span<const Example> examples();

} // namespace Studio
