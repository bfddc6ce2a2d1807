#pragma once

// Inputs read with a bound: however large a file is, or claims to be, and whether or not it ever
// ends (/dev/zero, a pipe), no more than one byte beyond the limit is read.
//
//     const Tools::Input input = Tools::read_at_most(path, Drovask::rom_size);
//     if (input.error) ...                  // input.error.message(), or is_a_directory
//     if (input.longer) ...                 // more than rom_size bytes
//     use(input.bytes);

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

namespace Tools {

struct Input {
    std::string bytes;   // at most the limit, and empty on an error
    bool longer = false; // the file has more than the limit
    std::error_code
        error; // why it could not be read: e.g. no_such_file_or_directory, is_a_directory
};

// Reads a file, a device, a FIFO or /dev/fd/N; stops after `limit` + 1 bytes.
Input read_at_most(const std::filesystem::path& path, std::size_t limit);

} // namespace Tools
