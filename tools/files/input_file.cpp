#include "tools/files/input_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace Tools {

Input read_at_most(const std::filesystem::path& path, std::size_t limit) {
    Input input;
    const auto failed = [&input] {
        input.error = std::error_code(errno, std::generic_category());
        input.bytes.clear();
        input.longer = false;
    };
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        failed();
        return input;
    }
    std::array<char, 65536> piece;
    for (;;) {
        const std::size_t wanted = std::min(piece.size(), limit + 1 - input.bytes.size());
        const ssize_t count = ::read(file, piece.data(), wanted);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            failed(); // EISDIR for a directory
            break;
        }
        input.bytes.append(piece.data(), static_cast<std::size_t>(count));
        if (count == 0 || input.bytes.size() > limit) {
            break;
        }
    }
    ::close(file);
    if (input.bytes.size() > limit) {
        input.bytes.resize(limit);
        input.longer = true;
    }
    return input;
}

} // namespace Tools
