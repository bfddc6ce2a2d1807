// The machine run without a thread, as the browser runs it: interrupts follow the clock that the
// host passes in, with each period's instructions counted.

#include "machine_fixture.hpp"

namespace {

// Counts the interrupts of each vector in B (0008H) and C (0010H) while the program spins.
constexpr std::initializer_list<std::uint8_t> counting_program{
    0x31, 0x00, 0x24,                               // 0000 LXI SP,2400H
    0xFB,                                           // 0003 EI
    0xC3, 0x04, 0x00,                               // 0004 JMP 0004H
    0x00,                                           // 0007
    0x04, 0xFB, 0xC9,                               // 0008 INR B; EI; RET
    0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0xFB, 0xC9, // 0010 INR C; EI; RET
};

using Run_Until_Test = Machine_Test;

TEST_F(Run_Until_Test, InterruptsFollowTheTimePassedUpToTheCatchUpLimit) {
    struct Case {
        const char* name;
        double seconds;
        int interrupts;
    };
    for (const Case& c :
         {Case{"less than one interval", 0.008, 0}, Case{"a tenth of a second", 0.1, 12},
          Case{"a page hidden for a minute", 60.0, 30}}) {
        auto machine = machine_with(counting_program);
        machine->real_time.restart(1000.0);
        machine->run_until(1000.0 + c.seconds, 0);
        const auto& p = machine->session.board.processor;
        // Each period ends with the timer: the last interrupt's handler has not run yet.
        const bool last_pending = p.pc == 0x0008 || p.pc == 0x0010;
        EXPECT_EQ(p.b + p.c + (last_pending ? 1 : 0), c.interrupts) << c.name;
        EXPECT_LE(p.c, p.b) << c.name; // the two vectors alternate, 0008H first
    }
}

TEST_F(Run_Until_Test, TheKeysTheHostGivesAreSampledAtEachPeriodsTimer) {
    auto machine = machine_with(counting_program);
    machine->real_time.restart(0.0);
    // The keys the host reads (the key map: down, or pressed since its last frame) are sampled
    // at each period's timer.
    machine->run_until(Drovask::interrupt_interval, Drovask::key_bit('C'));
    EXPECT_EQ(machine->session.board.input & 0x01, 0x01);
    machine->run_until(2 * Drovask::interrupt_interval, 0);
    EXPECT_EQ(machine->session.board.input & 0x01, 0x00);
}

// The ROM player's whole frames: as many as the time passed holds, up to the catch-up limit, the
// rest of the time kept for the next call; each frame two interrupts with the keys given.
TEST_F(Run_Until_Test, WholeFramesFollowTheTimePassedWithTheKeysGiven) {
    struct Case {
        const char* name;
        double seconds;
        std::uint32_t frames;
        std::uint32_t a_millisecond_later; // the time left over is kept, not dropped
    };
    for (const Case& c :
         {Case{"less than one frame", 0.016, 0, 1}, Case{"a tenth of a second", 0.1, 6, 0},
          Case{"a window dragged for a minute", 60.0, 15, 0},
          Case{"a clock that went back a second", -1.0, 0, 0}}) {
        auto machine = machine_with(counting_program);
        machine->real_time.restart(1000.0);
        EXPECT_EQ(machine->frames_due(1000.0 + c.seconds), c.frames) << c.name;
        EXPECT_EQ(machine->frames_due(1000.0 + c.seconds + 0.001), c.a_millisecond_later) << c.name;
    }
    auto machine = machine_with(counting_program);
    machine->run_frame(0x01 | 0x10); // C and S
    const auto& p = machine->session.board.processor;
    const bool last_pending = p.pc == 0x0008 || p.pc == 0x0010;
    EXPECT_EQ(p.b + p.c + (last_pending ? 1 : 0), 2);
    EXPECT_EQ(machine->session.board.input & Drovask::input_key_bits, 0x11);
}

} // namespace
