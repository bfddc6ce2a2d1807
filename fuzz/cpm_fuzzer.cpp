// Fuzzes the CP/M runner: the input is a .COM file, loaded through a real file by the loader and
// run for a bounded number of instructions with the BDOS answering. A run either ends, stops at
// the limit or fails with a Tavrin::Exception that names the address; it never crashes, and what
// it printed is what it echoed. The same input, read as text, goes through the --limit parser,
// which must take exactly the plain decimal numbers from 1 to 2^64 - 1.

#include "base/exception.hpp"
#include "tools/cpm/cpm.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint64_t instruction_limit = 2000;

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "cpm runner invariant broken: %s\n", what);
        std::abort();
    }
}

// The limit parser's rule, written out digit by digit.
std::optional<std::uint64_t> reference_limit(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (c < '0' || c > '9' || value > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (value == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

const std::filesystem::path& program_file() {
    static const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                              ("cpm_fuzzer_" + std::to_string(getpid()) + ".COM");
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check(Cpm::parse_limit(text) == reference_limit(text), "the limit parser disagrees");

    {
        std::ofstream file(program_file(), std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    std::vector<std::uint8_t> program;
    try {
        program = Cpm::load_program(program_file());
    } catch (const Tavrin::Exception&) {
        check(size == 0 || size > Cpm::max_program_size, "a program that fits was refused");
        return 0;
    }
    check(program.size() == size && std::equal(program.begin(), program.end(), data),
          "the loader changed the program");

    const auto processor = Cpm::make_processor(program);
    check(std::equal(program.begin(), program.end(), processor->memory.begin() + Cpm::load_address),
          "the program is not whole in memory");
    std::ostringstream echo;
    try {
        const Cpm::Result result = Cpm::run(*processor, instruction_limit, &echo);
        check(result.instructions <= instruction_limit, "ran past the limit");
        check(result.finished || result.instructions == instruction_limit, "stopped early");
        check(result.output == echo.str(), "printed and echoed differ");
    } catch (const Tavrin::Exception& error) {
        check(error.message.starts_with("At 0x"), "a failure without its address");
    }
    return 0;
}
