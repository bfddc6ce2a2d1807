// The screen conversion on a bare processor record: no window and no OpenGL.
#include "machine/board.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

namespace {

std::size_t lit_count(const Drovask::Screen& screen) {
    return static_cast<std::size_t>(
        std::count_if(screen.begin(), screen.end(), [](std::uint8_t p) { return p != 0; }));
}

// The picture as the rotation defines it, pixel by pixel.
Drovask::Screen reference_picture(const Intel_8080& processor) {
    Drovask::Screen screen{};
    for (std::uint32_t x = 0; x < 224; ++x) {
        for (std::uint32_t j = 0; j < 256; j += 8) {
            const std::uint8_t byte = processor.memory[processor.video_start + 32 * x + j / 8];
            for (std::uint32_t b = 0; b < 8; ++b) {
                screen[224 * (255 - j - b) + x] = (byte >> b & 1) != 0 ? 255 : 0;
            }
        }
    }
    return screen;
}

TEST(Screen_Conversion, MatchesThePixelByPixelRotationOnRandomMemory) {
    auto processor = std::make_unique<Intel_8080>();
    processor->video_start = 0x2400;
    std::mt19937 random(8080);
    for (std::uint32_t address = 0x2000; address < 0x4000; ++address) {
        processor->memory[address] = static_cast<std::uint8_t>(random());
    }
    Drovask::Screen screen;
    screen.fill(7); // nothing of a previous picture may survive
    Drovask::convert_screen(*processor, screen);
    EXPECT_EQ(screen, reference_picture(*processor));
}

TEST(Screen_Conversion, CornersLandWhereTheRotationPutsThem) {
    struct Corner {
        std::uint16_t address;
        std::uint8_t value;
        std::size_t pixel;
    };
    for (const Corner c : {Corner{0x2400, 0x01, 224 * 255 + 0}, Corner{0x2400, 0x80, 224 * 248 + 0},
                           Corner{0x241F, 0x80, 224 * 0 + 0}, Corner{0x3FE0, 0x01, 224 * 255 + 223},
                           Corner{0x3FFF, 0x80, 224 * 0 + 223}}) {
        SCOPED_TRACE(c.address);
        auto processor = std::make_unique<Intel_8080>();
        processor->video_start = 0x2400;
        processor->memory[c.address] = c.value;
        Drovask::Screen screen{};
        Drovask::convert_screen(*processor, screen);
        EXPECT_EQ(lit_count(screen), 1u);
        EXPECT_EQ(screen[c.pixel], 255);
    }
}

} // namespace
