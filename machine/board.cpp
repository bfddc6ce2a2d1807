#include "machine/board.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace Drovask {

namespace {

// expanded[v] holds eight pixels, byte i lit (255) when bit i of v is set.
constexpr auto expanded = [] {
    std::array<std::array<std::uint8_t, 8>, 256> table{};
    for (std::size_t value = 0; value < 256; ++value) {
        for (std::size_t bit = 0; bit < 8; ++bit) {
            table[value][bit] = (value >> bit & 1) != 0 ? 255 : 0;
        }
    }
    return table;
}();

// Transposes an 8 x 8 bit matrix held in a 64-bit word: bit j of byte i moves to bit i of
// byte j.
constexpr std::uint64_t transpose_bits(std::uint64_t x) {
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    x = x ^ t ^ (t << 28);
    return x;
}

std::uint8_t read_byte(const Intel_8080& processor, std::uint32_t address) {
    // The record is never const in fact; the cast only lets the atomic view read it.
    auto& byte = const_cast<std::uint8_t&>(processor.memory[address]);
    return load_relaxed(byte);
}

} // namespace

void convert_screen(const Intel_8080& processor, Screen& screen) {
    constexpr std::uint32_t width = screen_size.width;   // raster lines
    constexpr std::uint32_t height = screen_size.height; // pixels along a line
    constexpr std::uint32_t bytes_per_line = height / 8;

    // Eight raster lines at a time: the same byte of eight neighbouring lines is an 8 x 8 block
    // of pixels which, transposed, gives eight neighbouring pixels of each of eight rows.
    for (std::uint32_t x = 0; x < width; x += 8) {
        for (std::uint32_t j = 0; j < bytes_per_line; ++j) {
            std::uint64_t block = 0;
            for (std::uint32_t i = 0; i < 8; ++i) {
                const std::uint32_t address = processor.video_start + bytes_per_line * (x + i) + j;
                block |= std::uint64_t{read_byte(processor, address)} << (8 * i);
            }
            const std::uint64_t rows = transpose_bits(block);
            for (std::uint32_t bit = 0; bit < 8; ++bit) {
                const std::uint32_t row = height - 1 - (8 * j + bit);
                const auto pixels = static_cast<std::uint8_t>(rows >> (8 * bit));
                std::memcpy(&screen[width * row + x], expanded[pixels].data(), 8);
            }
        }
    }
}

Board::Board(Rom rom) {
    processor.writable_start = writable_start;
    processor.video_start = video_start;
    processor.writable_end = writable_end;
    processor.memory.fill(0);
    std::copy(rom.begin(), rom.end(), processor.memory.begin());
}

std::string machine_keys_text(std::size_t width, std::string_view indent) {
    std::string text(indent);
    std::size_t line_start = 0;
    for (const auto& [key, bit, label] : input_keys) {
        const std::string item = std::string(1, key) + " (" + std::string(label) + ")";
        if (text.size() > line_start + indent.size()) {
            text += ",";
            if (text.size() + 1 + item.size() - line_start > width) {
                text += "\n";
                line_start = text.size();
                text += indent;
            } else {
                text += " ";
            }
        }
        text += item;
    }
    return text;
}

} // namespace Drovask
