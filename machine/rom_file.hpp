#pragma once

// A program ROM image read from files at run time: one file, or several concatenated in order,
// 8,192 bytes in all (as the MACHINE_ROM build option takes them). Pipes and devices are read
// like files, and no file is read further than one byte beyond a whole ROM.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace Drovask {

// The image; throws Tavrin::Exception naming the file that is missing, a directory or
// unreadable, or, when the sizes are wrong, each file with its size and the total ("more than
// 8192" for a file that goes on).
std::vector<std::uint8_t> read_rom_files(const std::vector<std::filesystem::path>& paths);

} // namespace Drovask
