#pragma once

// Messages of the tools: what they quote from their input is made fit for a terminal, and what
// they write to standard output is checked to have arrived.
//
//     std::cerr << "cpm-run: " << Tools::printable(message) << '\n';
//     ...
//     return Tools::standard_output_written("cpm-run") ? status : 1;

#include <cstddef>
#include <string>
#include <string_view>

namespace Tools {

// Texts longer than this are cut in the middle.
inline constexpr std::size_t longest_printable = 400;

// `text` fit to print: control bytes, and bytes that are not part of a UTF-8 character, written
// as \x1B; a text longer than `longest_printable` bytes keeps its beginning and its end with
// " [... N bytes left out ...] " between them.
std::string printable(std::string_view text);

// Flushes standard output. When something written to it was lost (a full disk, a closed pipe),
// says so on standard error as "PROGRAM: could not write standard output: reason" and returns
// false.
bool standard_output_written(std::string_view program);

} // namespace Tools
