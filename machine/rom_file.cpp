#include "machine/rom_file.hpp"

#include "base/exception.hpp"
#include "machine/board.hpp"

#include <cstddef>
#include <fstream>
#include <string>
#include <system_error>

namespace Drovask {

namespace {

// A file's bytes, at most one beyond `limit`, so that /dev/zero or a huge file costs no more
// than a ROM does; pipes and devices are read like files.
std::string read_at_most(const std::filesystem::path& path, std::size_t limit) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        throw Tavrin::Exception{"cannot read the ROM image " + path.string() +
                                ": there is no such file"};
    }
    if (std::filesystem::is_directory(path, error)) {
        throw Tavrin::Exception{"the ROM image " + path.string() +
                                " is a directory; give the image file itself"};
    }
    std::ifstream file(path, std::ios::binary);
    std::string bytes(limit + 1, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file.is_open() || file.bad()) {
        throw Tavrin::Exception{"cannot read the ROM image " + path.string() +
                                ": it is not readable"};
    }
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

} // namespace

std::vector<std::uint8_t> read_rom_files(const std::vector<std::filesystem::path>& paths) {
    std::vector<std::uint8_t> image;
    std::string sizes;
    std::size_t longer = 0; // files with more bytes than were read (one more than a ROM's)
    for (const std::filesystem::path& path : paths) {
        const std::string bytes = read_at_most(path, rom_size);
        if (bytes.size() > rom_size) {
            ++longer;
        }
        sizes += (sizes.empty() ? "" : ", ") + path.string() + " has " +
                 (bytes.size() > rom_size ? "more than " + std::to_string(rom_size)
                                          : std::to_string(bytes.size()));
        image.insert(image.end(), bytes.begin(), bytes.end());
    }
    if (image.size() != rom_size) {
        const std::string total =
            (longer > 0 ? "more than " : "") + std::to_string(image.size() - longer);
        throw Tavrin::Exception{
            (paths.size() == 1 ? "the ROM image " + sizes + " bytes"
                               : "the ROM files come to " + total + " bytes (" + sizes + ")") +
            "; the machine takes exactly " + std::to_string(rom_size) +
            (paths.size() == 1 ? "" : " in all")};
    }
    return image;
}

} // namespace Drovask
