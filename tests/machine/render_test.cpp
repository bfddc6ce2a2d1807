#include "machine_fixture.hpp"

#include <GL/glew.h>

#include <random>
#include <vector>

namespace {

using Render_Test = Machine_Test;

std::size_t lit_count(const Drovask::Screen& screen) {
    return static_cast<std::size_t>(
        std::count_if(screen.begin(), screen.end(), [](std::uint8_t p) { return p != 0; }));
}

TEST_F(Render_Test, AllDarkAndAllLitMemory) {
    auto machine = machine_with({});
    machine->screen.fill(255);
    machine->render();
    EXPECT_EQ(lit_count(machine->screen), 0u);

    std::fill(machine->session.board.processor.memory.begin() + 0x2400,
              machine->session.board.processor.memory.begin() + 0x4000, 0xFF);
    machine->render();
    EXPECT_EQ(lit_count(machine->screen), machine->screen.size());
    EXPECT_TRUE(std::all_of(machine->screen.begin(), machine->screen.end(),
                            [](std::uint8_t p) { return p == 255; }));
}

TEST_F(Render_Test, OneChangedByteChangesExactlyItsEightPixels) {
    auto machine = machine_with({});
    std::mt19937 random(2);
    for (std::uint32_t address = 0x2400; address < 0x4000; ++address) {
        machine->session.board.processor.memory[address] = static_cast<std::uint8_t>(random());
    }
    machine->session.board.processor.memory[0x3000] = 0x0F;
    machine->render();
    const Drovask::Screen before = machine->screen;

    machine->session.board.processor.memory[0x3000] = 0xF0; // line 96, pixels 0-7
    machine->render();
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] != machine->screen[i]) {
            changed.push_back(i);
        }
    }
    std::vector<std::size_t> expected;
    for (std::size_t row = 248; row < 256; ++row) {
        expected.push_back(224 * row + 96);
    }
    EXPECT_EQ(changed, expected);
}

TEST_F(Render_Test, WorkingRamNeverShows) {
    auto machine = machine_with({});
    std::fill(machine->session.board.processor.memory.begin() + 0x2000,
              machine->session.board.processor.memory.begin() + 0x2400, 0xFF);
    std::fill(machine->session.board.processor.memory.begin() + 0x4000,
              machine->session.board.processor.memory.end(), 0xFF);
    machine->render();
    EXPECT_EQ(lit_count(machine->screen), 0u);
}

TEST_F(Render_Test, DrawsThePictureAtTwiceItsSizeFromTheTopLeft) {
    auto machine = machine_with({});
    machine->session.board.processor.memory[0x241F] = 0x80; // top-left picture pixel
    machine->session.board.processor.memory[0x3FE0] = 0x01; // bottom-right picture pixel
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    machine->render();

    // Read the back buffer in window coordinates: y counts from the top.
    auto pixel = [](int x, int y) {
        std::array<std::uint8_t, 4> rgba{};
        glReadBuffer(GL_BACK);
        glReadPixels(x, 512 - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return rgba;
    };
    using Rgba = std::array<std::uint8_t, 4>;
    const Rgba white{255, 255, 255, 255};
    const Rgba black{0, 0, 0, 255};
    EXPECT_EQ(pixel(0, 0), white);
    EXPECT_EQ(pixel(1, 1), white);
    EXPECT_EQ(pixel(2, 0), black);
    EXPECT_EQ(pixel(446, 510), white);
    EXPECT_EQ(pixel(447, 511), white);
    EXPECT_EQ(pixel(445, 511), black);
    EXPECT_EQ(pixel(200, 300), black);
}

} // namespace
