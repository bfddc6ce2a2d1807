// The counted schedule: a saved state goes on exactly as the machine it was saved from, however it
// is run, and the inspector stops where its breakpoints and watches say.

#include "base/exception.hpp"
#include "machine/history.hpp"
#include "machine/inspector.hpp"
#include "machine/programs.hpp"
#include "machine/session.hpp"

#include <gtest/gtest.h>

#include <map>
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

// Played with the keys logged in a history, stepping through one frame, with states kept at
// chosen instruction counts; then the history goes back to each of them, in any order.
TEST(History, GoingBackLandsOnTheStatesThatWere) {
    Drovask::Session session(Drovask::demo_rom());
    Drovask::History history(session, {.frames_between_snapshots = 10, .most_snapshots = 1000});
    std::map<std::uint64_t, Drovask::Session::State> was;
    for (std::uint64_t frame = 0; frame < 300; ++frame) {
        history.hold_keys(session, keys_in_frame(frame));
        if (frame == 150) {
            for (std::uint32_t i = 1; i <= 2 * Drovask::default_instructions_per_interrupt; ++i) {
                session.step();
                if (i == 1 || i == 1000 || i == Drovask::default_instructions_per_interrupt) {
                    was.emplace(session.instructions(), session.save());
                }
            }
        } else {
            session.run_frame();
        }
        history.note(session);
        if (frame == 0 || frame == 61 || frame == 299) {
            was.emplace(session.instructions(), session.save());
        }
    }
    const Drovask::Session::State end = session.save();
    ASSERT_TRUE(history.seek(session, 0));
    Drovask::Session power_on(Drovask::demo_rom());
    power_on.hold_keys(keys_in_frame(0)); // the keys the first timer firing samples
    EXPECT_TRUE(session.save() == power_on.save()) << "power-on";
    for (auto it = was.rbegin(); it != was.rend(); ++it) { // backwards, then forwards below
        ASSERT_TRUE(history.seek(session, it->first)) << it->first;
        EXPECT_TRUE(session.save() == it->second) << "back to instruction " << it->first;
    }
    for (const auto& [instructions, state] : was) {
        ASSERT_TRUE(history.seek(session, instructions));
        EXPECT_TRUE(session.save() == state) << "forward to instruction " << instructions;
    }
    // Run on from the last point on the same keys: the same end as never having gone back.
    ASSERT_TRUE(history.seek(session, was.begin()->first));
    while (session.frames() < 300) {
        history.hold_keys(session, keys_in_frame(session.frames()));
        session.run_frame();
        history.note(session);
    }
    EXPECT_TRUE(session.save() == end);
    EXPECT_EQ(history.latest(), end.counters.instructions);
    EXPECT_FALSE(history.seek(session, end.counters.instructions + 1));
}

TEST(History, OtherKeysForgetThePastAfterThemAndTheOldestSnapshotsGoFirst) {
    Drovask::Session session(Drovask::demo_rom());
    Drovask::History history(session, {.frames_between_snapshots = 10, .most_snapshots = 5});
    for (std::uint64_t frame = 0; frame < 100; ++frame) {
        history.hold_keys(session, keys_in_frame(frame));
        session.run_frame();
        history.note(session);
    }
    EXPECT_EQ(history.snapshot_count(), 5u);
    const std::uint64_t frame_length = 2 * Drovask::default_instructions_per_interrupt;
    EXPECT_EQ(history.earliest(), 60 * frame_length);
    EXPECT_FALSE(history.seek(session, 59 * frame_length)) << "before the oldest snapshot";
    EXPECT_EQ(session.frames(), 100u) << "a refused seek leaves the machine";

    ASSERT_TRUE(history.seek(session, 80 * frame_length));
    history.hold_keys(session, keys_in_frame(80)); // as the past: nothing forgotten
    EXPECT_EQ(history.latest(), 100 * frame_length);
    history.hold_keys(session, static_cast<std::uint8_t>(keys_in_frame(80) ^ 0x20));
    EXPECT_EQ(history.latest(), 80 * frame_length) << "the past after frame 80 did not happen";
    EXPECT_LT(history.memory_bytes(), 5 * (20u << 10)) << "RAM and ROM a snapshot";
}

// A host that runs three periods at a time stops mid-frame every other time: snapshots are
// still taken, and going back through them lands where a straight run stands.
TEST(History, SnapshotsComeWhereverAHostStops) {
    const auto play = [](Drovask::Session& session, Drovask::History* history,
                         std::uint64_t frames) {
        while (session.frames() < frames) {
            const std::uint8_t keys = keys_in_frame(session.frames());
            history ? history->hold_keys(session, keys) : session.hold_keys(keys);
            for (int period = 0; period < 3; ++period) {
                session.run_period();
            }
            if (history) {
                history->note(session);
            }
        }
    };
    Drovask::Session session(Drovask::demo_rom());
    Drovask::History history(session, {.frames_between_snapshots = 10, .most_snapshots = 100});
    play(session, &history, 120);
    EXPECT_GE(history.snapshot_count(), 11u);
    Drovask::Session straight(Drovask::demo_rom());
    play(straight, nullptr, 75);
    ASSERT_TRUE(history.seek(session, straight.instructions()));
    EXPECT_TRUE(session.save() == straight.save());
}

} // namespace
