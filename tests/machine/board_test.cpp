// The board alone: linked without the window and the renderer, stepped with a clock and keys of
// the test's own.
#include "machine/board.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

constexpr std::uint8_t ei = 0xFB;

std::array<std::uint8_t, Drovask::rom_size> rom_with_ei() {
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    rom[0] = ei;
    return rom;
}

// A clock that returns the readings it is given, in turn, and counts how often it is read.
struct Scripted_Clock {
    std::vector<double> readings;
    std::size_t reads = 0;
    double operator()() { return readings.at(reads++); }
};

TEST(Board, ReadsTheClockOnceAStepAndTwiceWhenTheTimerFires) {
    const auto rom = rom_with_ei();
    Drovask::Board board{Drovask::Rom{rom}};
    board.processor.sp = 0x2400;
    board.last_interrupt_time = 1.0;
    Scripted_Clock clock{{1.008, 1.0084, 1.0091}};
    const auto no_key = [](char) { return false; };

    board.step(clock, no_key); // EI; 8 ms after the last firing: not yet
    EXPECT_EQ(clock.reads, 1u);
    EXPECT_EQ(board.processor.pc, 1);

    board.step(clock, no_key); // NOP; 8.4 ms: fires, and the second reading starts the interval
    EXPECT_EQ(clock.reads, 3u);
    EXPECT_EQ(board.processor.pc, 0x0008);
    EXPECT_EQ(board.last_interrupt_time, 1.0091);
}

TEST(Board, SamplesTheKeysThatTheCallerReports) {
    const auto rom = rom_with_ei();
    Drovask::Board board{Drovask::Rom{rom}};
    std::vector<char> asked;
    board.fire_timer([&](char key) {
        asked.push_back(key);
        return key == 'S' || key == 'D';
    });
    EXPECT_EQ(asked, (std::vector<char>{'C', 'Q', 'E', 'A', 'D', 'S'}));
    EXPECT_EQ(board.input, 0x50);
    EXPECT_EQ(board.interrupt_number, 1u) << "interrupts were disabled: nothing delivered";
}

// A step is an instruction and, when due, a firing: the same state either way.
TEST(Board, StepIsAnInstructionThenAFiring) {
    const auto rom = rom_with_ei();
    Drovask::Board stepped{Drovask::Rom{rom}};
    Drovask::Board by_parts{Drovask::Rom{rom}};
    const auto coin = [](char key) { return key == 'C'; };
    for (auto* board : {&stepped, &by_parts}) {
        board->processor.sp = 0x2400;
    }
    stepped.step([] { return 10.0; }, coin);
    by_parts.execute_instruction();
    by_parts.fire_timer(coin);
    EXPECT_EQ(stepped.processor.pc, by_parts.processor.pc);
    EXPECT_EQ(stepped.processor.sp, by_parts.processor.sp);
    EXPECT_EQ(stepped.processor.memory, by_parts.processor.memory);
    EXPECT_EQ(stepped.input, by_parts.input);
    EXPECT_EQ(stepped.interrupt_number, by_parts.interrupt_number);
}

} // namespace
