// The board alone: linked without the window and the renderer, stepped on a clock and with keys
// of the test's own. Its ports, shift register, interrupts and key sampling are tested here.
#include "base/exception.hpp"
#include "machine/board.hpp"
#include "processor/opcodes.hpp"
#include "tests/machine/rom_with.hpp"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <limits>
#include <memory>
#include <vector>

namespace {

using namespace opcodes;

// A board running a program of the test's, whose timer fires at a step only when the test
// forces it, and whose keys are the ones the test holds.
class Board_Test : public ::testing::Test {
protected:
    Drovask::Board& board_with(std::initializer_list<std::uint8_t> program) {
        rom = rom_with(program);
        board = std::make_unique<Drovask::Board>(Drovask::Rom{rom});
        hold_timer();
        return *board;
    }

    void step() {
        board->step([] { return now; },
                    [this](char key) { return held[static_cast<unsigned char>(key)]; });
    }

    void hold_timer() { board->last_interrupt_time = std::numeric_limits<double>::max(); }
    void force_timer() { board->last_interrupt_time = 0.0; }

    static constexpr double now = 1000.0;
    std::array<bool, 256> held{};
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    std::unique_ptr<Drovask::Board> board; // 64 KiB of memory: kept off the stack
};

// A clock that returns the readings it is given, in turn, and counts how often it is read.
struct Scripted_Clock {
    std::vector<double> readings;
    std::size_t reads = 0;
    double operator()() { return readings.at(reads++); }
};

TEST_F(Board_Test, ReadsTheClockOnceAStepAndTwiceWhenTheTimerFires) {
    auto& b = board_with({ei});
    b.processor.sp = 0x2400;
    b.last_interrupt_time = 1.0;
    Scripted_Clock clock{{1.008, 1.0084, 1.0091}};
    const auto no_key = [](char) { return false; };

    b.step(clock, no_key); // EI; 8 ms after the last firing: not yet
    EXPECT_EQ(clock.reads, 1u);
    EXPECT_EQ(b.processor.pc, 1);

    b.step(clock, no_key); // NOP; 8.4 ms: fires, and the second reading starts the interval
    EXPECT_EQ(clock.reads, 3u);
    EXPECT_EQ(b.processor.pc, 0x0008);
    EXPECT_EQ(b.last_interrupt_time, 1.0091);
}

TEST_F(Board_Test, SamplesTheKeysThatTheCallerReports) {
    auto& b = board_with({ei});
    std::vector<char> asked;
    b.fire_timer([&](char key) {
        asked.push_back(key);
        return key == 'S' || key == 'D';
    });
    EXPECT_EQ(asked, (std::vector<char>{'C', 'Q', 'E', 'A', 'D', 'S'}));
    EXPECT_EQ(b.input, 0x50);
    EXPECT_EQ(b.interrupt_number, 1u) << "interrupts were disabled: nothing delivered";
}

// A step is an instruction and, when due, a firing: the same state either way.
TEST_F(Board_Test, StepIsAnInstructionThenAFiring) {
    const auto program = rom_with({ei});
    auto stepped = std::make_unique<Drovask::Board>(Drovask::Rom{program});
    auto by_parts = std::make_unique<Drovask::Board>(Drovask::Rom{program});
    const auto coin = [](char key) { return key == 'C'; };
    for (auto* b : {stepped.get(), by_parts.get()}) {
        b->processor.sp = 0x2400;
    }
    stepped->step([] { return 10.0; }, coin);
    by_parts->execute_instruction();
    by_parts->fire_timer(coin);
    EXPECT_EQ(stepped->processor.pc, by_parts->processor.pc);
    EXPECT_EQ(stepped->processor.sp, by_parts->processor.sp);
    EXPECT_EQ(stepped->processor.memory, by_parts->processor.memory);
    EXPECT_EQ(stepped->input, by_parts->input);
    EXPECT_EQ(stepped->interrupt_number, by_parts->interrupt_number);
}

TEST_F(Board_Test, StartsWithTheRomInPlaceAndEverythingElseClear) {
    const auto& b = board_with({0x12, 0x34});
    const auto& p = b.processor;
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), p.memory.begin()));
    EXPECT_TRUE(
        std::all_of(p.memory.begin() + 0x2000, p.memory.end(), [](auto v) { return v == 0; }));
    EXPECT_EQ(p.pc, 0);
    EXPECT_EQ(p.sp, 0);
    EXPECT_FALSE(p.interrupts_enabled);
    EXPECT_EQ(b.interrupt_number, 1u);
    EXPECT_EQ(p.writable_start, 0x2000u);
    EXPECT_EQ(p.video_start, 0x2400u);
    EXPECT_EQ(p.writable_end, 0x3FFFu);
    EXPECT_EQ(b.input, 0);
    EXPECT_EQ(b.shift_amount, 0);
    EXPECT_EQ(b.shift_register[0], 0);
    EXPECT_EQ(b.shift_register[1], 0);
}

TEST_F(Board_Test, GuardedStoresReachOnlyTheWritableRange) {
    // STA 1FFFH; STA 2000H; STA 3FFFH; STA 4000H with A = 0x77.
    board_with({mvi_a, 0x77, sta, 0xFF, 0x1F, sta, 0x00, 0x20, sta, 0xFF, 0x3F, sta, 0x00, 0x40});
    for (int i = 0; i < 5; ++i) {
        step();
    }
    const auto& memory = board->processor.memory;
    EXPECT_EQ(memory[0x1FFF], 0);
    EXPECT_EQ(memory[0x2000], 0x77);
    EXPECT_EQ(memory[0x3FFF], 0x77);
    EXPECT_EQ(memory[0x4000], 0);
}

TEST_F(Board_Test, InputPortsSetAOrLeaveIt) {
    struct Case {
        std::uint8_t port;
        std::uint8_t expected_a;
    };
    // A starts as 0x5A, `input` is 0x77, the shift register would give 0xC3 (amount 0).
    for (const Case c : {Case{0, 0x01}, Case{1, 0x77}, Case{2, 0x5A}, Case{3, 0xC3}, Case{4, 0x5A},
                         Case{5, 0x5A}, Case{7, 0x5A}, Case{255, 0x5A}}) {
        SCOPED_TRACE(static_cast<int>(c.port));
        auto& b = board_with({in, c.port});
        b.processor.a = 0x5A;
        b.processor.flags = 0xAB;
        b.processor.sp = 0x2345;
        b.input = 0x77;
        b.shift_register = {0x3C, 0xC3};
        step();
        EXPECT_EQ(b.processor.a, c.expected_a);
        EXPECT_EQ(b.processor.pc, 2);
        EXPECT_EQ(b.processor.flags, 0xAB);
        EXPECT_EQ(b.processor.sp, 0x2345);
        EXPECT_FALSE(b.processor.interrupts_enabled);
    }
}

TEST_F(Board_Test, OutputPortsDriveTheShiftRegister) {
    auto& b = board_with({
        mvi_a, 0xAA, out, 4,        // V = 0xAA00
        mvi_a, 0x55, out, 4,        // V = 0x55AA
        mvi_a, 0x00, out, 2, in, 3, // amount 0
        mvi_a, 0x01, out, 2, in, 3, // amount 1
        mvi_a, 0x03, out, 2, in, 3, // amount 3
        mvi_a, 0x07, out, 2, in, 3, // amount 7
    });
    for (int i = 0; i < 4; ++i) {
        step();
    }
    EXPECT_EQ(b.shift_register[0], 0xAA);
    EXPECT_EQ(b.shift_register[1], 0x55);
    for (const std::uint8_t expected :
         std::initializer_list<std::uint8_t>{0x55, 0xAB, 0xAD, 0xD5}) {
        for (int i = 0; i < 3; ++i) {
            step();
        }
        EXPECT_EQ(b.processor.a, expected) << "shift amount " << int{b.shift_amount};
    }
}

TEST_F(Board_Test, ShiftAmountKeepsTheLowThreeBits) {
    auto& b = board_with({mvi_a, 0xFF, out, 2, mvi_a, 0x0A, out, 2});
    step();
    step();
    EXPECT_EQ(b.shift_amount, 7);
    step();
    step();
    EXPECT_EQ(b.shift_amount, 2);
}

TEST_F(Board_Test, FirstShiftDataLandsInTheHighByte) {
    auto& b = board_with({mvi_a, 0x12, out, 4});
    step();
    step();
    EXPECT_EQ(b.shift_register[1], 0x12);
    EXPECT_EQ(b.shift_register[0], 0x00);
}

TEST_F(Board_Test, IgnoredOutputPortsChangeNothing) {
    for (const std::uint8_t port : std::initializer_list<std::uint8_t>{0, 1, 3, 5, 6, 200}) {
        SCOPED_TRACE(static_cast<int>(port));
        auto& b = board_with({out, port});
        b.processor.a = 0xC3;
        b.processor.flags = 0x81;
        b.shift_register = {0x11, 0x22};
        b.shift_amount = 5;
        const auto before = b.processor;
        step();
        EXPECT_EQ(b.processor.pc, 2);
        EXPECT_EQ(b.processor.a, before.a);
        EXPECT_EQ(b.processor.flags, before.flags);
        EXPECT_EQ(b.processor.memory, before.memory);
        EXPECT_EQ(b.shift_register, (std::array<std::uint8_t, 2>{0x11, 0x22}));
        EXPECT_EQ(b.shift_amount, 5);
    }
}

TEST_F(Board_Test, InAndOutAtTheTopOfMemoryTakeThePortFromAddressZero) {
    for (const std::uint8_t opcode : {in, out}) {
        auto& b = board_with({0}); // port 0 at address 0x0000
        b.processor.memory[0xFFFF] = opcode;
        b.processor.pc = 0xFFFF;
        b.processor.a = 0x42;
        step();
        EXPECT_EQ(b.processor.pc, 0x0001);
        EXPECT_EQ(b.processor.a, opcode == in ? 1 : 0x42);
    }
}

TEST_F(Board_Test, InterruptPushesGuardedAndAlwaysJumps) {
    struct Push_Case {
        std::uint16_t sp;
        std::uint16_t high_address;
        bool stored;
    };
    for (const Push_Case c : {Push_Case{0x2400, 0x23FF, true}, Push_Case{0x2000, 0x1FFF, false},
                              Push_Case{0x0000, 0xFFFF, false}}) {
        SCOPED_TRACE(c.sp);
        auto& p = board_with({nop, nop, nop}).processor;
        p.pc = 1;
        p.sp = c.sp;
        p.interrupts_enabled = true;
        const auto memory_before = p.memory;
        force_timer();
        step(); // NOP at 0x0001, then the interrupt pushes 0x0002
        EXPECT_EQ(p.pc, 0x0008);
        EXPECT_EQ(p.sp, static_cast<std::uint16_t>(c.sp - 2));
        EXPECT_FALSE(p.interrupts_enabled);
        EXPECT_EQ(board->interrupt_number, 2u);
        if (c.stored) {
            EXPECT_EQ(p.memory[c.high_address], 0x00);
            EXPECT_EQ(p.memory[c.high_address - 1], 0x02);
        } else {
            EXPECT_EQ(p.memory, memory_before);
        }
    }
}

TEST_F(Board_Test, InterruptsAlternateAcrossDroppedFirings) {
    auto& p = board_with({}).processor;
    p.sp = 0x2400;
    std::vector<std::uint16_t> entries;
    for (int firing = 0; firing < 7; ++firing) {
        // Interrupts are enabled only on firings 0, 3, 4 and 6; the others are dropped.
        p.interrupts_enabled = firing == 0 || firing == 3 || firing == 4 || firing == 6;
        p.pc = 0x0100;
        force_timer();
        step();
        if (p.pc != 0x0101) {
            entries.push_back(p.pc);
        }
    }
    EXPECT_EQ(entries, (std::vector<std::uint16_t>{0x0008, 0x0010, 0x0008, 0x0010}));
    EXPECT_EQ(board->interrupt_number, 1u);
}

TEST_F(Board_Test, EnableThenFiringDeliversAtOnce) {
    auto& b = board_with({ei});
    b.processor.sp = 0x2400;
    force_timer();
    step();
    EXPECT_EQ(b.processor.pc, 0x0008);
    EXPECT_EQ(b.processor.memory[0x23FE], 0x01); // return to the byte after EI
}

TEST_F(Board_Test, InputFollowsTheHeldKeysWhileInterruptsAreDisabled) {
    struct Key_Bit {
        char key;
        std::uint8_t bit;
    };
    auto& b = board_with({});
    b.input = 0x88; // bits 3 and 7 belong to no key and keep their value
    for (const Key_Bit k : {Key_Bit{'C', 0x01}, Key_Bit{'E', 0x02}, Key_Bit{'Q', 0x04},
                            Key_Bit{'S', 0x10}, Key_Bit{'A', 0x20}, Key_Bit{'D', 0x40}}) {
        SCOPED_TRACE(k.key);
        held[static_cast<std::size_t>(k.key)] = true;
        step();
        EXPECT_EQ(b.input, 0x88) << "sampled only when the timer fires";
        force_timer();
        step();
        EXPECT_EQ(b.input, 0x88 | k.bit);
        held[static_cast<std::size_t>(k.key)] = false;
        force_timer();
        step();
        EXPECT_EQ(b.input, 0x88);
    }
    // Keys outside the control set, lower-case codes included, are not sampled.
    held['c'] = true;
    held['W'] = true;
    force_timer();
    step();
    EXPECT_EQ(b.input, 0x88);
    EXPECT_EQ(b.interrupt_number, 1u);
    EXPECT_FALSE(b.processor.interrupts_enabled);
}

TEST_F(Board_Test, UnimplementedInstructionLeavesTheTimerAlone) {
    auto& b = board_with({0x08});
    force_timer();
    held['C'] = true;
    try {
        step();
        FAIL() << "expected an exception";
    } catch (const Tavrin::Exception& exception) {
        EXPECT_EQ(exception.message,
                  "Could not execute instruction \"08\" because it has not been implemented.");
    }
    EXPECT_EQ(b.processor.pc, 1);
    EXPECT_EQ(b.input, 0); // the timer did not run
    EXPECT_EQ(b.last_interrupt_time, 0.0);
}

} // namespace
