// Fuzzes the state file's reader. The first byte chooses whether the rest is taken as it is or
// first sealed (the ROM's digest and the checksum made right), so that the reader's checks of the
// values behind the checksum are reached too. The reader either throws a Tavrin::Exception or
// returns a state; a state it returns must be one that written out again gives the same bytes,
// so nothing was read but what the file holds.

#include "base/exception.hpp"
#include "formats/sha256.hpp"
#include "formats/state_file.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The ROM of the seeds: 8,192 zero bytes (drovask-run --save-state on such a file made them).
const std::array<std::uint8_t, Drovask::rom_size> rom{};

void seal(std::vector<std::uint8_t>& file) {
    if (file.size() < 52) {
        return;
    }
    const Formats::Sha256 digest = Formats::sha256(rom);
    std::copy(digest.begin(), digest.end(), file.begin() + 16);
    const std::uint32_t crc = Formats::crc32({file.data(), file.size() - 4});
    for (std::size_t i = 0; i < 4; ++i) {
        file[file.size() - 4 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::vector<std::uint8_t> file(data + 1, data + size);
    if ((data[0] & 1) != 0) {
        seal(file);
    }
    try {
        const Drovask::Session::State state = Formats::parse_state_file(
            file, Drovask::Rom{rom}, Drovask::default_instructions_per_interrupt, "fuzz.tmstate");
        Drovask::Session session(Drovask::Rom{rom});
        session.restore(state);
        if (Formats::format_state_file(session, Drovask::Rom{rom}) != file) {
            std::fprintf(stderr, "a state read from a file does not write that file again\n");
            std::abort();
        }
        session.run_frame(); // a loaded machine runs
    } catch (const Tavrin::Exception&) {
    }
    return 0;
}
