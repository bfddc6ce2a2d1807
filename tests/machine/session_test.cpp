// The counted schedule: a saved state goes on exactly as the machine it was saved from, however it
// is run, and the inspector stops where its breakpoints and watches say.

#include "base/exception.hpp"
#include "machine/inspector.hpp"
#include "machine/programs.hpp"
#include "machine/session.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A coin, a one-player start, then fire held and the paddle swept: the demo in play.
std::uint8_t keys_in_frame(std::uint64_t frame) {
    std::uint8_t keys = 0;
    const auto hold = [&](char key, bool held) {
        keys = held ? static_cast<std::uint8_t>(keys | Drovask::key_bit(key)) : keys;
    };
    hold('C', frame >= 60 && frame < 64);
    hold('Q', frame >= 90 && frame < 94);
    hold('S', frame >= 150);
    hold('D', frame % 40 < 20);
    return keys;
}

void run_frames(Drovask::Session& session, std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) {
        session.run_frame(keys_in_frame(session.frames()));
    }
}

// Saved after N frames (and S single steps into the next), restored into another session, run
// on for M frames: the same machine, state for state, as running straight through.
TEST(Session, ARestoredStateGoesOnAsTheMachineItWasSavedFrom) {
    struct Case {
        const char* name;
        std::uint64_t saved_at;
        std::uint32_t steps_into_frame;
        std::uint64_t more_frames;
    };
    for (const Case& c :
         {Case{"at power-on", 0, 0, 200}, Case{"in attract mode", 50, 0, 150},
          Case{"mid-frame, mid-period", 120, 2500, 100}, Case{"in play", 300, 0, 120}}) {
        Drovask::Session straight(Drovask::demo_rom());
        run_frames(straight, c.saved_at);
        for (std::uint32_t i = 0; i < c.steps_into_frame; ++i) {
            straight.step();
        }
        const Drovask::Session::State saved = straight.save();
        run_frames(straight, c.more_frames);

        Drovask::Session restored(Drovask::test_card_rom()); // another ROM: all of it is replaced
        restored.restore(saved);
        EXPECT_TRUE(restored.save() == saved) << c.name;
        run_frames(restored, c.more_frames);
        EXPECT_TRUE(restored.save() == straight.save()) << c.name;
        EXPECT_EQ(restored.frames(), c.saved_at + c.more_frames) << c.name;
    }
}

// Whole frames, periods and single steps are one schedule: the same instructions, the same
// interrupts, the same counters.
TEST(Session, FramesPeriodsAndStepsRunTheSameSchedule) {
    Drovask::Session by_frames(Drovask::demo_rom());
    Drovask::Session by_periods(Drovask::demo_rom());
    Drovask::Session by_steps(Drovask::demo_rom());
    for (std::uint64_t frame = 0; frame < 30; ++frame) {
        const std::uint8_t keys = keys_in_frame(frame + 58);
        by_frames.run_frame(keys);
        by_periods.hold_keys(keys);
        by_periods.run_period();
        by_periods.run_period();
        by_steps.hold_keys(keys);
        do {
            by_steps.step();
        } while (!by_steps.at_frame_start());
    }
    EXPECT_TRUE(by_periods.save() == by_frames.save());
    EXPECT_TRUE(by_steps.save() == by_frames.save());
    EXPECT_EQ(by_frames.instructions(), 30u * 2 * Drovask::default_instructions_per_interrupt);
}

// An instruction that is not implemented has done nothing: the counters stand before it, and
// the session says where it is.
TEST(Session, AFailedInstructionIsNotCounted) {
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    rom[3] = 0xED; // three NOPs, then an opcode that is not an 8080 instruction
    for (const bool stepped : {false, true}) {
        Drovask::Session session(Drovask::Rom{rom}, 100);
        try {
            if (stepped) {
                for (int i = 0; i < 10; ++i) {
                    session.step();
                }
            } else {
                session.run_frame();
            }
            ADD_FAILURE() << "ran past the opcode";
        } catch (const Tavrin::Exception&) {
        }
        EXPECT_EQ(session.instructions(), 3u) << stepped;
        EXPECT_EQ(session.counters().in_period, 3u) << stepped;
        EXPECT_EQ(session.instruction_pc(), 0x0003) << stepped;
    }
}

// LXI SP,2400H; EI; then a loop: INR A; STA 2100H; JMP 0004H. The interrupt's push writes
// 23FEH-23FFH.
const std::array<std::uint8_t, Drovask::rom_size> storing_rom = [] {
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    const std::uint8_t program[] = {0x31, 0x00, 0x24, 0xFB, 0x3C, 0x32,
                                    0x00, 0x21, 0xC3, 0x04, 0x00};
    std::copy(std::begin(program), std::end(program), rom.begin());
    return rom;
}();

TEST(Inspector, StopsAtBreakpointsWatchesAndTheFrameLimit) {
    struct Case {
        const char* name;
        std::uint16_t breakpoint; // 0: none
        std::uint16_t watch;      // 0: none
        Drovask::Stop expected;
        std::uint16_t pc_after;
    };
    for (const Case& c : {
             Case{"breakpoint, before its instruction",
                  0x0005,
                  0,
                  {Drovask::Stop_Reason::breakpoint, 0x0005},
                  0x0005},
             Case{"watched store, after its instruction",
                  0,
                  0x2100,
                  {Drovask::Stop_Reason::watch, 0x2100},
                  0x0008},
             Case{"an interrupt's push", 0, 0x23FE, {Drovask::Stop_Reason::watch, 0x23FF}, 0x0008},
             Case{"nothing: the frame limit", 0, 0, {Drovask::Stop_Reason::limit, 0}, 0},
         }) {
        Drovask::Session session(Drovask::Rom{storing_rom}, 50);
        Drovask::Inspector inspector;
        if (c.breakpoint != 0) {
            inspector.set_breakpoint(c.breakpoint);
        }
        if (c.watch != 0) {
            inspector.add_watch(c.watch, 2);
        }
        const Drovask::Stop stop = inspector.run(
            session, [] { return false; }, 3);
        EXPECT_EQ(stop, c.expected) << c.name;
        if (c.expected.reason != Drovask::Stop_Reason::limit) {
            EXPECT_EQ(session.board.processor.pc, c.pc_after) << c.name;
        } else {
            EXPECT_EQ(session.frames(), 3u) << c.name;
            EXPECT_TRUE(session.at_frame_start()) << c.name;
        }
        // A run that starts on a breakpoint goes past it.
        if (c.breakpoint != 0) {
            EXPECT_EQ(inspector
                          .run(
                              session, [] { return true; }, 0)
                          .reason,
                      Drovask::Stop_Reason::done);
            EXPECT_NE(session.board.processor.pc, c.breakpoint) << c.name;
        }
    }
}

} // namespace
