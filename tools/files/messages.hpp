#pragma once

// Messages of the tools: what they quote from their input is made fit for a terminal, and what
// they write to standard output is checked to have arrived.
//
//     std::cerr << "cpm-run: " << Tools::printable(message) << '\n';
//     ...
//     return Tools::standard_output_written("cpm-run") ? status : 1;

#include <cstddef>
#include <functional>
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

// The exit statuses of a tool's `main`, besides 0.
struct Tool_Statuses {
    int refused; // an argument or an input is wrong (the Exception's message says which)
    int failed;  // standard output could not be written
};

// A tool's `main`: `--help` or `-h` anywhere prints `usage` and returns 0; otherwise returns what
// `run` returns, or, when it throws Tavrin::Exception, prints "PROGRAM: message" on standard
// error and returns `statuses.refused`. Either way a loss on standard output returns
// `statuses.failed`.
int run_tool(std::string_view program, std::string_view usage, int argc, char** argv,
             Tool_Statuses statuses, const std::function<int()>& run);

} // namespace Tools
