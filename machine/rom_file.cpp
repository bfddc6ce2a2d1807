#include "machine/rom_file.hpp"

#include "machine/board.hpp"
#include "window/exception.hpp"

#include <fstream>
#include <iterator>
#include <string>

namespace Drovask {

namespace {

std::uintmax_t size_of(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        throw Tavrin::Exception{"cannot read the ROM image " + path.string() +
                                ": there is no such file"};
    }
    if (std::filesystem::is_directory(path, error)) {
        throw Tavrin::Exception{"the ROM image " + path.string() +
                                " is a directory; give the image file itself"};
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        throw Tavrin::Exception{"cannot read the ROM image " + path.string() + ": " +
                                error.message()};
    }
    return size;
}

} // namespace

std::vector<std::uint8_t> read_rom_files(const std::vector<std::filesystem::path>& paths) {
    std::uintmax_t total = 0;
    std::string sizes;
    for (const std::filesystem::path& path : paths) {
        const std::uintmax_t size = size_of(path);
        total += size;
        sizes += (sizes.empty() ? "" : ", ") + path.string() + " has " + std::to_string(size);
    }
    if (total != rom_size) {
        throw Tavrin::Exception{
            (paths.size() == 1
                 ? "the ROM image " + sizes + " bytes"
                 : "the ROM files come to " + std::to_string(total) + " bytes (" + sizes + ")") +
            "; the machine takes exactly " + std::to_string(rom_size) +
            (paths.size() == 1 ? "" : " in all")};
    }
    std::vector<std::uint8_t> image;
    for (const std::filesystem::path& path : paths) {
        std::ifstream file(path, std::ios::binary);
        image.insert(image.end(), std::istreambuf_iterator<char>(file),
                     std::istreambuf_iterator<char>());
        if (!file.is_open() || file.bad()) {
            throw Tavrin::Exception{"cannot read the ROM image " + path.string() +
                                    ": it is not readable"};
        }
    }
    if (image.size() != rom_size) {
        throw Tavrin::Exception{"the ROM files changed while they were read; try again"};
    }
    return image;
}

} // namespace Drovask
