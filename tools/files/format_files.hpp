#pragma once

// The shared formats' files as the tools read them (formats/ reads their text): with a bound on
// their size, and messages that name the file and what is wrong with it.
//
//     const auto events = Tools::read_key_script("demo.keys");     // drovask-run --input
//     const Formats::Symbols symbols = Tools::read_symbol_file("demo.sym");
//     const Formats::Line_Map lines = Tools::read_line_map("demo.lines");
//
// Each throws Tavrin::Exception when the file cannot be read, is too long or is wrong.

#include "formats/key_script.hpp"
#include "formats/line_map.hpp"
#include "formats/symbols.hpp"

#include <filesystem>
#include <vector>

namespace Tools {

// A file, a FIFO or /dev/fd/N of at most Formats::max_script_size bytes.
std::vector<Formats::Key_Event> read_key_script(const std::filesystem::path& path);

// Files that asm8080 wrote with --symbols and --lines.
Formats::Symbols read_symbol_file(const std::filesystem::path& path);
Formats::Line_Map read_line_map(const std::filesystem::path& path);

} // namespace Tools
