#pragma once

// SHA-256 (FIPS 180-4) of a run of bytes: what names a ROM image in a saved state.
//
//     const Formats::Sha256 digest = Formats::sha256(bytes);
//     Formats::hex_text(digest) // "b0601366..."

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace Formats {

using Sha256 = std::array<std::uint8_t, 32>;

Sha256 sha256(std::span<const std::uint8_t> bytes);

// The digest as 64 lower-case hexadecimal digits, as sha256sum prints it.
std::string digest_text(const Sha256& digest);

} // namespace Formats
