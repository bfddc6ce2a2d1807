#pragma once

// The machine's state file (.tmstate): a session saved whole, with the ROM image it ran, so that
// a run can go on from it exactly as it would have gone on from where it was saved.
//
//     const std::vector<std::uint8_t> file = Formats::format_state_file(session, rom);
//     session.restore(Formats::parse_state_file(file, rom, 1938, "game.tmstate"));
//
// The reader refuses, with a message that says which, a file cut short, one that is not a state
// file, one of a newer version, a damaged one (its checksum), one saved with another ROM image or
// another number of instructions between interrupts, and one whose values no machine can hold; it
// returns a whole state or nothing.
//
// Layout, every number little-endian (the README's "State files" section says the same):
//
//     offset  size   contents
//          0     8   "TMSTATE" and 1AH
//          8     4   version (1)
//         12     4   size of the body that follows the ROM's digest (65,598 in version 1)
//         16    32   SHA-256 of the 8,192-byte ROM image
//         48     -   body: instructions per interrupt (4); frames (8); instructions (8);
//                    instructions in the period (4); interrupts in the frame (4); keys held (1);
//                    A B C D E H L flags (8); SP (2); PC (2); interrupts enabled (1); writable
//                    start, video start, writable end (4 each); shift register low, high, shift
//                    amount, input (1 each); next interrupt number (4); memory (65,536)
//        end     4   CRC-32 of everything before it

#include "machine/session.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Formats {

inline constexpr std::string_view state_file_extension = ".tmstate";
inline constexpr std::uint32_t state_file_version = 1;

std::vector<std::uint8_t> format_state_file(const Drovask::Session& session, Drovask::Rom rom);

// Throws Tavrin::Exception "NAME: what is wrong; what to do".
Drovask::Session::State parse_state_file(std::span<const std::uint8_t> bytes, Drovask::Rom rom,
                                         std::uint32_t instructions_per_interrupt,
                                         const std::string& name);

// CRC-32 (the one of zip and PNG) of `bytes`.
std::uint32_t crc32(std::span<const std::uint8_t> bytes);

} // namespace Formats
