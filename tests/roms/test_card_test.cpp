#include "rom_fixture.hpp"

#include <cstdlib>
#include <utility>

namespace {

// Where the test card keeps its counters and its sprite.
constexpr std::uint16_t count_rst1 = 0x2000;
constexpr std::uint16_t count_rst2 = 0x2002;
constexpr std::uint16_t sprite_x = 0x2005;
constexpr std::uint16_t sprite_y = 0x2006;

class Test_Card : public Rom_Test {
protected:
    void SetUp() override {
        Rom_Test::SetUp();
        start(Drovask::test_card_rom());
        run(60000); // clears memory and draws the fixed parts
    }
    void TearDown() override {
        expect_no_faults();
        expect_memory_outside_ram_untouched();
    }

    std::uint16_t counter(std::uint16_t address) const {
        return static_cast<std::uint16_t>(ram(address) | ram(address + 1) << 8);
    }

    // Whether the interior of the input box of bit `n` is wholly lit (true) or wholly dark
    // (false); fails the test when it is mixed or its frame is not lit.
    bool box_lit(const Drovask::Screen& screen, int n) {
        const int left = 24 + 24 * n;
        for (int i = 0; i < 16; ++i) {
            EXPECT_TRUE(lit(screen, left + i, 112) && lit(screen, left + i, 127) &&
                        lit(screen, left, 112 + i) && lit(screen, left + 15, 112 + i))
                << "frame of box " << n;
        }
        int count = 0;
        for (int column = left + 1; column <= left + 14; ++column) {
            for (int row = 113; row <= 126; ++row) {
                count += lit(screen, column, row) ? 1 : 0;
            }
        }
        EXPECT_TRUE(count == 0 || count == 14 * 14) << "box " << n << " is half lit";
        return count == 14 * 14;
    }
};

TEST_F(Test_Card, LightsTheBorderAndTheFourCorners) {
    frames(3);
    const auto& screen = picture();
    for (int column = 0; column < 224; ++column) {
        EXPECT_TRUE(lit(screen, column, 0)) << "top row, column " << column;
        EXPECT_TRUE(lit(screen, column, 255)) << "bottom row, column " << column;
        EXPECT_FALSE(lit(screen, column, 1) && column > 0 && column < 223) << column;
    }
    for (int row = 0; row < 256; ++row) {
        EXPECT_TRUE(lit(screen, 0, row)) << "left column, row " << row;
        EXPECT_TRUE(lit(screen, 223, row)) << "right column, row " << row;
        EXPECT_FALSE(lit(screen, 1, row) && row > 0 && row < 255) << row;
    }
}

TEST_F(Test_Card, LightsTheBoxOfEachInputBitExactlyWhileItsKeyIsHeld) {
    struct Key {
        char key;
        int bit;
    };
    for (const Key k :
         {Key{'C', 0}, Key{'E', 1}, Key{'Q', 2}, Key{'S', 4}, Key{'A', 5}, Key{'D', 6}}) {
        SCOPED_TRACE(k.key);
        hold(k.key);
        frames(2);
        const auto& screen = picture();
        for (int n = 0; n < 8; ++n) {
            EXPECT_EQ(box_lit(screen, n), n == k.bit) << "box " << n;
        }
        hold(k.key, false);
        frames(2);
        EXPECT_FALSE(box_lit(picture(), k.bit)) << "box stays lit after the release";
    }
    // Several at once.
    hold('C');
    hold('D');
    frames(2);
    const auto& screen = picture();
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(box_lit(screen, n), n == 0 || n == 6) << "box " << n;
    }
}

// The counters count each vector separately, and the cells show their binary value.
TEST_F(Test_Card, CountsAndShowsTheInterruptsOfEachVector) {
    const std::uint16_t before1 = counter(count_rst1);
    const std::uint16_t before2 = counter(count_rst2);
    EXPECT_EQ(before1, 0);
    EXPECT_EQ(before2, 0);
    frames(21);
    run(steps_per_interrupt);
    interrupt(); // one more at 0008H
    run(steps_per_interrupt);
    EXPECT_EQ(counter(count_rst1), 22);
    EXPECT_EQ(counter(count_rst2), 21);

    const auto& screen = picture();
    for (const auto& [row, value] : {std::pair{56, 22}, std::pair{40, 21}}) {
        for (int bit = 0; bit < 16; ++bit) {
            const int left = 24 + 8 * (15 - bit);
            const bool set = (value >> bit & 1) != 0;
            EXPECT_EQ(lit(screen, left + 2, row + 4), set) << "row " << row << " bit " << bit;
            EXPECT_TRUE(lit(screen, left + 2, row) && lit(screen, left + 2, row + 7));
        }
    }
}

// The sprite goes where its coordinates say, at any pixel along the line, so every shift
// amount of the shift register is used on the way.
TEST_F(Test_Card, MovesTheSpriteOnePixelPerFrameWithTheShiftRegister) {
    constexpr std::array<std::uint8_t, 8> ring{0x3C, 0x42, 0x81, 0x99, 0x99, 0x81, 0x42, 0x3C};
    std::array<bool, 8> shifts_seen{};
    int previous_x = -1;
    for (int frame = 0; frame < 12; ++frame) {
        frames(1);
        const int x = ram(sprite_x);
        const int y = ram(sprite_y);
        if (previous_x >= 0) {
            EXPECT_EQ(std::abs(x - previous_x), 1);
        }
        previous_x = x;
        shifts_seen[static_cast<std::size_t>(y % 8)] = true;
        const auto& screen = picture();
        for (int column = -1; column <= 8; ++column) {
            for (int pixel = -1; pixel <= 8; ++pixel) {
                const bool inside = column >= 0 && column < 8 && pixel >= 0 && pixel < 8;
                const bool expected =
                    inside && (ring[static_cast<std::size_t>(column)] >> pixel & 1) != 0;
                EXPECT_EQ(lit(screen, x + column, 255 - (y + pixel)), expected)
                    << "frame " << frame << " at column " << column << ", pixel " << pixel;
            }
        }
    }
    EXPECT_TRUE(std::all_of(shifts_seen.begin(), shifts_seen.end(), [](bool b) { return b; }));
}

TEST_F(Test_Card, InterruptHandlersPreserveTheRegisters) {
    hold('D');
    frames(2);
    expect_handlers_preserve_registers(40);
}

// A reference picture, with a key held and the sprite under way; checked once against an
// independent model of the machine.
TEST_F(Test_Card, PictureMatchesTheReference) {
    hold('Q');
    frames(40);
    EXPECT_EQ(picture_hash(picture()), 1034276245476800557ULL);
}

} // namespace
