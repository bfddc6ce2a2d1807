// The machine around its board: what needs the window or the steady clock. The board's ports,
// shift register, interrupts and key sampling are tested on the board alone (board_test.cpp).
#include "machine_fixture.hpp"
#include "processor/opcodes.hpp"

namespace {

using namespace opcodes;

using Step_Test = Machine_Test;

TEST_F(Step_Test, WindowIsThePictureAtTwiceItsSize) {
    auto machine = machine_with({});
    EXPECT_EQ(machine->scale.x * Drovask::screen_size.width, 448.0f);
    EXPECT_EQ(machine->scale.y * Drovask::screen_size.height, 512.0f);
}

// The machine steps its board on the steady clock with the window's keys.
TEST_F(Step_Test, TimerWaitsForTheInterval) {
    auto machine = machine_with({ei, nop});
    machine->session.board.processor.sp = 0x2400;
    window->key_held['C'] = true;
    machine->session.board.last_interrupt_time =
        Tavrin::steady_seconds() + 60.0; // not due for a minute
    machine->step();
    machine->step();
    EXPECT_EQ(machine->session.board.processor.pc, 2);
    EXPECT_EQ(machine->session.board.input, 0);

    force_timer(*machine);
    const double before = Tavrin::steady_seconds();
    machine->step();
    EXPECT_EQ(machine->session.board.processor.pc, 0x0008);
    EXPECT_EQ(machine->session.board.input, 0x01);
    EXPECT_GE(machine->session.board.last_interrupt_time,
              before); // a fresh reading starts the next interval
}

} // namespace
