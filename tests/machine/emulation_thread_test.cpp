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
    EXPECT_EQ(machine->processor.pc, 0);
    EXPECT_EQ(machine->processor.a, 0);
}

// The program fills video memory over and over while the main thread converts and draws it; the
// two threads share only the window's flags and the video bytes.
TEST_F(Emulation_Thread_Test, RunsAgainstRenderUntilTheWindowCloses) {
    auto machine = machine_with({
        0x31, 0x00, 0x24, // LXI SP,2400H
        0xFB,             // EI
        0x21, 0x00, 0x24, // loop: LXI H,2400H
        0x34,             // next: INR M
        0x23,             // INX H
        0x7C,             // MOV A,H
        0xFE, 0x40,       // CPI 40H
        0xC2, 0x07, 0x00, // JNZ next
        0xC3, 0x04, 0x00, // JMP loop
    });
    // Interrupt handlers at 0x0008 and 0x0010: EI; RET.
    rom[0x08] = 0xFB;
    rom[0x09] = 0xC9;
    rom[0x10] = 0xFB;
    rom[0x11] = 0xC9;
    machine->processor.memory[0x08] = 0xFB;
    machine->processor.memory[0x09] = 0xC9;
    machine->processor.memory[0x10] = 0xFB;
    machine->processor.memory[0x11] = 0xC9;
    machine->last_interrupt_time = 0.0;

    window->key_held['C'] = true;
    std::thread thread(Drovask::emulate, window.get(), machine.get());
    std::size_t frames = 0;
    bool picture_changed = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    Drovask::Screen first{};
    while (std::chrono::steady_clock::now() < end) {
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
    EXPECT_NE(machine->interrupt_number, 0u);
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), machine->processor.memory.begin()));
}

} // namespace
