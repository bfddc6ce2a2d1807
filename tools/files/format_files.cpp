#include "tools/files/format_files.hpp"

#include "base/exception.hpp"
#include "tools/files/input_file.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace Tools {

namespace {

// The text of a file that asm8080 wrote with `option` (its `what`, such as "symbol file"), at
// most `limit` bytes.
std::string read_assembler_output(const std::filesystem::path& path, std::size_t limit,
                                  std::string_view what, std::string_view option) {
    const Input input = read_at_most(path, limit);
    const std::string name = "the " + std::string(what) + " " + path.string();
    if (input.error == std::errc::is_a_directory) {
        throw Tavrin::Exception{name + " is a directory; give the file that asm8080 " +
                                std::string(option) + " wrote"};
    }
    if (input.error) {
        throw Tavrin::Exception{"cannot read " + name + ": " + input.error.message()};
    }
    if (input.longer) {
        throw Tavrin::Exception{name + " is longer than " + std::to_string(limit) +
                                " bytes, more than any program's " + std::string(what) + " has"};
    }
    return input.bytes;
}

} // namespace

std::vector<Formats::Key_Event> read_key_script(const std::filesystem::path& path) {
    const Input input = read_at_most(path, Formats::max_script_size);
    if (input.error == std::errc::is_a_directory) {
        throw Tavrin::Exception{"the input script " + path.string() +
                                " is a directory; give a text file of key events"};
    }
    if (input.error) {
        throw Tavrin::Exception{"cannot read the input script " + path.string() + ": " +
                                input.error.message()};
    }
    if (input.longer) {
        throw Tavrin::Exception{"the input script " + path.string() + " is larger than " +
                                std::to_string(Formats::max_script_size >> 20) +
                                " MiB, the most a script may have"};
    }
    return Formats::parse_key_script(input.bytes, path.string());
}

Formats::Symbols read_symbol_file(const std::filesystem::path& path) {
    return Formats::parse_symbol_file(
        read_assembler_output(path, Formats::max_symbol_file_size, "symbol file", "--symbols"),
        path.string());
}

Formats::Line_Map read_line_map(const std::filesystem::path& path) {
    return Formats::parse_line_map(
        read_assembler_output(path, Formats::max_line_map_size, "line map", "--lines"),
        path.string());
}

} // namespace Tools
