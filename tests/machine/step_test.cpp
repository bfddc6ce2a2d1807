#include "machine_fixture.hpp"

#include <initializer_list>
#include <vector>

namespace {

constexpr std::uint8_t in = 0xDB;
constexpr std::uint8_t out = 0xD3;
constexpr std::uint8_t nop = 0x00;
constexpr std::uint8_t ei = 0xFB;
constexpr std::uint8_t mvi_a = 0x3E;

using Step_Test = Machine_Test;

TEST_F(Step_Test, StartsWithTheRomInPlaceAndEverythingElseClear) {
    auto machine = machine_with({0x12, 0x34});
    const auto& p = machine->board.processor;
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), p.memory.begin()));
    EXPECT_TRUE(
        std::all_of(p.memory.begin() + 0x2000, p.memory.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(p.pc, 0);
    EXPECT_EQ(p.sp, 0);
    EXPECT_FALSE(p.interrupts_enabled);
    EXPECT_EQ(machine->board.interrupt_number, 1u);
    EXPECT_EQ(p.writable_start, 0x2000u);
    EXPECT_EQ(p.video_start, 0x2400u);
    EXPECT_EQ(p.writable_end, 0x3FFFu);
    EXPECT_EQ(machine->board.input, 0);
    EXPECT_EQ(machine->board.shift_amount, 0);
    EXPECT_EQ(machine->board.shift_register[0], 0);
    EXPECT_EQ(machine->board.shift_register[1], 0);
    EXPECT_EQ(machine->scale.x * Drovask::screen_size.width, 448.0f);
    EXPECT_EQ(machine->scale.y * Drovask::screen_size.height, 512.0f);
}

TEST_F(Step_Test, GuardedStoresReachOnlyTheWritableRange) {
    // STA 1FFFH; STA 2000H; STA 3FFFH; STA 4000H with A = 0x77.
    auto machine = machine_with(
        {mvi_a, 0x77, 0x32, 0xFF, 0x1F, 0x32, 0x00, 0x20, 0x32, 0xFF, 0x3F, 0x32, 0x00, 0x40});
    for (int i = 0; i < 5; ++i) {
        machine->step();
    }
    const auto& memory = machine->board.processor.memory;
    EXPECT_EQ(memory[0x1FFF], 0);
    EXPECT_EQ(memory[0x2000], 0x77);
    EXPECT_EQ(memory[0x3FFF], 0x77);
    EXPECT_EQ(memory[0x4000], 0);
}

TEST_F(Step_Test, InputPortsSetAOrLeaveIt) {
    struct Case {
        std::uint8_t port;
        std::uint8_t expected_a;
    };
    // A starts as 0x5A, `input` is 0x77.
    for (const Case c : {Case{0, 0x01}, Case{1, 0x77}, Case{2, 0x5A}, Case{4, 0x5A}, Case{7, 0x5A},
                         Case{255, 0x5A}}) {
        SCOPED_TRACE(static_cast<int>(c.port));
        auto machine = machine_with({in, c.port});
        machine->board.processor.a = 0x5A;
        machine->board.processor.flags = 0xAB;
        machine->board.processor.sp = 0x2345;
        machine->board.input = 0x77;
        machine->step();
        EXPECT_EQ(machine->board.processor.a, c.expected_a);
        EXPECT_EQ(machine->board.processor.pc, 2);
        EXPECT_EQ(machine->board.processor.flags, 0xAB);
        EXPECT_EQ(machine->board.processor.sp, 0x2345);
        EXPECT_FALSE(machine->board.processor.interrupts_enabled);
    }
}

TEST_F(Step_Test, OutputPortsDriveTheShiftRegister) {
    auto machine = machine_with({
        mvi_a, 0xAA, out, 4,        // V = 0xAA00
        mvi_a, 0x55, out, 4,        // V = 0x55AA
        mvi_a, 0x00, out, 2, in, 3, // amount 0
        mvi_a, 0x01, out, 2, in, 3, // amount 1
        mvi_a, 0x03, out, 2, in, 3, // amount 3
        mvi_a, 0x07, out, 2, in, 3, // amount 7
    });
    for (int i = 0; i < 4; ++i) {
        machine->step();
    }
    EXPECT_EQ(machine->board.shift_register[0], 0xAA);
    EXPECT_EQ(machine->board.shift_register[1], 0x55);
    for (const std::uint8_t expected :
         std::initializer_list<std::uint8_t>{0x55, 0xAB, 0xAD, 0xD5}) {
        for (int i = 0; i < 3; ++i) {
            machine->step();
        }
        EXPECT_EQ(machine->board.processor.a, expected)
            << "shift amount " << int{machine->board.shift_amount};
    }
}

TEST_F(Step_Test, ShiftAmountKeepsTheLowThreeBits) {
    auto machine = machine_with({mvi_a, 0xFF, out, 2, mvi_a, 0x0A, out, 2});
    machine->step();
    machine->step();
    EXPECT_EQ(machine->board.shift_amount, 7);
    machine->step();
    machine->step();
    EXPECT_EQ(machine->board.shift_amount, 2);
}

TEST_F(Step_Test, FirstShiftDataLandsInTheHighByte) {
    auto machine = machine_with({mvi_a, 0x12, out, 4});
    machine->step();
    machine->step();
    EXPECT_EQ(machine->board.shift_register[1], 0x12);
    EXPECT_EQ(machine->board.shift_register[0], 0x00);
}

TEST_F(Step_Test, IgnoredOutputPortsChangeNothing) {
    for (const std::uint8_t port : std::initializer_list<std::uint8_t>{0, 1, 3, 5, 6, 200}) {
        SCOPED_TRACE(static_cast<int>(port));
        auto machine = machine_with({out, port});
        machine->board.processor.a = 0xC3;
        machine->board.processor.flags = 0x81;
        machine->board.shift_register = {0x11, 0x22};
        machine->board.shift_amount = 5;
        const auto before = machine->board.processor;
        machine->step();
        EXPECT_EQ(machine->board.processor.pc, 2);
        EXPECT_EQ(machine->board.processor.a, before.a);
        EXPECT_EQ(machine->board.processor.flags, before.flags);
        EXPECT_EQ(machine->board.processor.memory, before.memory);
        EXPECT_EQ(machine->board.shift_register, (std::array<std::uint8_t, 2>{0x11, 0x22}));
        EXPECT_EQ(machine->board.shift_amount, 5);
    }
}

TEST_F(Step_Test, InAndOutAtTheTopOfMemoryTakeThePortFromAddressZero) {
    for (const std::uint8_t opcode : {in, out}) {
        auto machine = machine_with({0}); // port 0 at address 0x0000
        machine->board.processor.memory[0xFFFF] = opcode;
        machine->board.processor.pc = 0xFFFF;
        machine->board.processor.a = 0x42;
        machine->step();
        EXPECT_EQ(machine->board.processor.pc, 0x0001);
        EXPECT_EQ(machine->board.processor.a, opcode == in ? 1 : 0x42);
    }
}

struct Push_Case {
    std::uint16_t sp;
    std::uint16_t high_address;
    bool stored;
};

TEST_F(Step_Test, InterruptPushesGuardedAndAlwaysJumps) {
    for (const Push_Case c : {Push_Case{0x2400, 0x23FF, true}, Push_Case{0x2000, 0x1FFF, false},
                              Push_Case{0x0000, 0xFFFF, false}}) {
        SCOPED_TRACE(c.sp);
        auto machine = machine_with({nop, nop, nop});
        auto& p = machine->board.processor;
        p.pc = 1;
        p.sp = c.sp;
        p.interrupts_enabled = true;
        const auto memory_before = p.memory;
        force_timer(*machine);
        machine->step(); // NOP at 0x0001, then the interrupt pushes 0x0002
        EXPECT_EQ(p.pc, 0x0008);
        EXPECT_EQ(p.sp, static_cast<std::uint16_t>(c.sp - 2));
        EXPECT_FALSE(p.interrupts_enabled);
        EXPECT_EQ(machine->board.interrupt_number, 2u);
        if (c.stored) {
            EXPECT_EQ(p.memory[c.high_address], 0x00);
            EXPECT_EQ(p.memory[c.high_address - 1], 0x02);
        } else {
            EXPECT_EQ(p.memory, memory_before);
        }
    }
}

TEST_F(Step_Test, InterruptsAlternateAcrossDroppedFirings) {
    auto machine = machine_with({});
    auto& p = machine->board.processor;
    p.sp = 0x2400;
    std::vector<std::uint16_t> entries;
    for (int firing = 0; firing < 7; ++firing) {
        // Interrupts are enabled only on firings 0, 3, 4 and 6; the others are dropped.
        p.interrupts_enabled = firing == 0 || firing == 3 || firing == 4 || firing == 6;
        p.pc = 0x0100;
        force_timer(*machine);
        machine->step();
        if (p.pc != 0x0101) {
            entries.push_back(p.pc);
        }
    }
    EXPECT_EQ(entries, (std::vector<std::uint16_t>{0x0008, 0x0010, 0x0008, 0x0010}));
    EXPECT_EQ(machine->board.interrupt_number, 1u);
}

TEST_F(Step_Test, EnableThenFiringDeliversAtOnce) {
    auto machine = machine_with({ei});
    machine->board.processor.sp = 0x2400;
    force_timer(*machine);
    machine->step();
    EXPECT_EQ(machine->board.processor.pc, 0x0008);
    EXPECT_EQ(machine->board.processor.memory[0x23FE], 0x01); // return to the byte after EI
}

TEST_F(Step_Test, TimerWaitsForTheInterval) {
    auto machine = machine_with({ei, nop});
    machine->board.processor.sp = 0x2400;
    window->key_held['C'] = true;
    machine->board.last_interrupt_time = Tavrin::steady_seconds() + 60.0; // not due for a minute
    machine->step();
    machine->step();
    EXPECT_EQ(machine->board.processor.pc, 2);
    EXPECT_EQ(machine->board.input, 0);

    force_timer(*machine);
    const double before = Tavrin::steady_seconds();
    machine->step();
    EXPECT_EQ(machine->board.processor.pc, 0x0008);
    EXPECT_EQ(machine->board.input, 0x01);
    EXPECT_GE(machine->board.last_interrupt_time,
              before); // a fresh reading starts the next interval
}

TEST_F(Step_Test, InputFollowsTheHeldKeysWhileInterruptsAreDisabled) {
    struct Key_Bit {
        char key;
        std::uint8_t bit;
    };
    auto machine = machine_with({});
    machine->board.input = 0x88; // bits 3 and 7 belong to no key and keep their value
    for (const Key_Bit k : {Key_Bit{'C', 0x01}, Key_Bit{'E', 0x02}, Key_Bit{'Q', 0x04},
                            Key_Bit{'S', 0x10}, Key_Bit{'A', 0x20}, Key_Bit{'D', 0x40}}) {
        SCOPED_TRACE(k.key);
        window->key_held[static_cast<std::size_t>(k.key)] = true;
        force_timer(*machine);
        machine->step();
        EXPECT_EQ(machine->board.input, 0x88 | k.bit);
        window->key_held[static_cast<std::size_t>(k.key)] = false;
        force_timer(*machine);
        machine->step();
        EXPECT_EQ(machine->board.input, 0x88);
    }
    // Keys outside the control set, lower-case codes included, are not sampled.
    window->key_held['c'] = true;
    window->key_held['W'] = true;
    force_timer(*machine);
    machine->step();
    EXPECT_EQ(machine->board.input, 0x88);
    EXPECT_EQ(machine->board.interrupt_number, 1u);
    EXPECT_FALSE(machine->board.processor.interrupts_enabled);
}

TEST_F(Step_Test, UnimplementedInstructionLeavesTheTimerAlone) {
    auto machine = machine_with({0x08});
    force_timer(*machine);
    window->key_held['C'] = true;
    try {
        machine->step();
        FAIL() << "expected an exception";
    } catch (const Tavrin::Exception& exception) {
        EXPECT_EQ(exception.message,
                  "Could not execute instruction \"08\" because it has not been implemented.");
    }
    EXPECT_EQ(machine->board.processor.pc, 1);
    EXPECT_EQ(machine->board.input, 0); // the timer did not run
    EXPECT_EQ(machine->board.last_interrupt_time, 0.0);
}

} // namespace
