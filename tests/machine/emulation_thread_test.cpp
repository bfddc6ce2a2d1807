#include "machine_fixture.hpp"

#include <chrono>
#include <thread>

namespace {

using Emulation_Thread_Test = Machine_Test;

TEST_F(Emulation_Thread_Test, ThreadThatStartsClosedExecutesNothing) {
    auto machine = machine_with({0x3E, 0x99}); // MVI A,99H
    window->open = false;
    std::thread thread(Drovask::emulate, window.get(), machine.get());
    thread.join();
    EXPECT_EQ(machine->session.board.processor.pc, 0);
    EXPECT_EQ(machine->session.board.processor.a, 0);
}

// The program fills video memory over and over while the main thread converts and draws it; the
// two threads share only the window's flags and the video bytes.
TEST_F(Emulation_Thread_Test, RunsAgainstRenderUntilTheWindowCloses) {
    rom = rom_with({0xC3, 0x40, 0x00});          // JMP 0040H
    const std::uint8_t handler[] = {0xFB, 0xC9}; // EI; RET
    std::copy(std::begin(handler), std::end(handler), rom.begin() + 0x08);
    std::copy(std::begin(handler), std::end(handler), rom.begin() + 0x10);
    const std::uint8_t program[] = {
        0x31, 0x00, 0x24, // 0040: LXI SP,2400H
        0xFB,             // 0043: EI
        0x21, 0x00, 0x24, // 0044: LXI H,2400H
        0x34,             // 0047: INR M
        0x23,             // 0048: INX H
        0x7C,             // 0049: MOV A,H
        0xFE, 0x40,       // 004A: CPI 40H
        0xC2, 0x47, 0x00, // 004C: JNZ 0047H
        0xC3, 0x44, 0x00, // 004F: JMP 0044H
    };
    std::copy(std::begin(program), std::end(program), rom.begin() + 0x40);
    auto machine = std::make_unique<Drovask::Machine>(window.get(), Drovask::Rom{rom});
    machine->session.board.last_interrupt_time = 0.0;

    window->key_held['C'] = true;
    std::thread thread(Drovask::emulate, window.get(), machine.get());
    std::size_t frames = 0;
    bool picture_changed = false;
    // At least 300 ms of frames; on a loaded machine, where the emulation thread may get little
    // of that time, on until the picture has changed, for at most 10 s.
    const auto start = std::chrono::steady_clock::now();
    const auto enough = [&] {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        return elapsed >= std::chrono::seconds(10) ||
               (elapsed >= std::chrono::milliseconds(300) && picture_changed);
    };
    Drovask::Screen first{};
    while (!enough()) {
        machine->render();
        if (frames == 0) {
            first = machine->screen;
        } else if (machine->screen != first) {
            picture_changed = true;
        }
        ++frames;
        window->key_held['C'] = (frames % 2) == 0;
    }
    window->open = false;
    thread.join();

    EXPECT_GT(frames, 1u);
    EXPECT_TRUE(picture_changed);
    // Interrupts were delivered from inside the loop: their return addresses are on the stack.
    EXPECT_EQ(machine->session.board.processor.memory[0x23FF], 0x00);
    EXPECT_GE(machine->session.board.processor.memory[0x23FE], 0x44);
    EXPECT_LE(machine->session.board.processor.memory[0x23FE], 0x51);
    EXPECT_TRUE(
        std::equal(rom.begin(), rom.end(), machine->session.board.processor.memory.begin()));
}

} // namespace
