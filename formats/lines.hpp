#pragma once

// The lines of a text file in the formats that the assembler writes, read one at a time:
//
//     Formats::for_each_line(text, [](std::string_view line, int number) { ... });

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace Formats {

// Calls `use(line, number)` for each line of `text` that is not empty, without its line end
// (LF or CR LF); numbers count from 1 and include the empty lines.
template <typename Use>
void for_each_line(std::string_view text, Use&& use) {
    int number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            use(line, number);
        }
    }
}

} // namespace Formats
