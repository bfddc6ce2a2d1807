// The studio's debugger: however it is driven (frames, single steps, a mix), the machine goes
// through the same states as drovask-run's runner; it stops where it says; keys and key scripts
// take effect between frames, so a session replays exactly.
#include "studio/debugger.hpp"

#include "base/exception.hpp"
#include "formats/key_script.hpp"

#include "machine/programs.hpp"
#include "tools/asm8080/assembler.hpp"
#include "tools/drovask-run/runner.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t instructions_per_frame =
    2 * std::uint64_t{Drovask::default_instructions_per_interrupt};

struct Machine_State {
    std::uint16_t pc, sp;
    std::uint8_t a, flags;
    std::array<std::uint8_t, 0x2000> ram;

    bool operator==(const Machine_State&) const = default;
};

Machine_State state_of(const Drovask::Board& board) {
    const Intel_8080& p = board.processor;
    Machine_State state{p.pc, p.sp, p.a, p.flags, {}};
    std::copy_n(p.memory.begin() + 0x2000, state.ram.size(), state.ram.begin());
    return state;
}

// The test card shows input port 1 once it has cleared the screen (about 10 frames), so a key
// held at the end has reached the program.
const std::vector<Formats::Key_Event> coin_script = {
    {18, 'S', true}, {20, 'C', true}, {21, 'S', false}};

TEST(Debugger_Schedule, EveryWayOfRunningMatchesTheRunner) {
    constexpr std::uint64_t frames = 24;
    Drovask::Runner runner(Drovask::test_card_rom());
    for (std::uint64_t frame = 0; frame < frames; ++frame) {
        for (const Formats::Key_Event& change : coin_script) {
            if (change.frame == frame) {
                runner.hold(change.key, change.press);
            }
        }
        runner.frame();
    }
    const Machine_State expected = state_of(runner.board);

    const struct {
        const char* name;
        std::function<void(Studio::Debugger&)> run;
    } ways[] = {
        {"all frames at once", [](Studio::Debugger& d) { d.run_frames(frames); }},
        {"a frame at a time",
         [](Studio::Debugger& d) {
             for (std::uint64_t i = 0; i < frames; ++i) {
                 d.run_frames(1);
             }
         }},
        {"single steps",
         [](Studio::Debugger& d) {
             for (std::uint64_t i = 0; i < frames * instructions_per_frame; ++i) {
                 d.step();
             }
         }},
        {"steps into a frame, then the rest of it and more",
         [](Studio::Debugger& d) {
             for (int i = 0; i < 2000; ++i) { // past the frame's first interrupt
                 d.step();
             }
             d.run_frames(frames);
         }},
    };
    for (const auto& way : ways) {
        Studio::Debugger debugger(Drovask::test_card_rom());
        debugger.replay(coin_script);
        way.run(debugger);
        EXPECT_EQ(debugger.frames(), frames) << way.name;
        EXPECT_EQ(debugger.instructions(), frames * instructions_per_frame) << way.name;
        EXPECT_TRUE(state_of(debugger.board()) == expected) << way.name;
    }
}

// A CALL, a conditional call not taken, an RST, a store and a call that never returns.
constexpr const char* stops_program = R"(
        ORG 0
        LXI SP,2400H
calls:  CALL subr
skips:  CZ subr             ; Z is clear at power-on: not taken
restart: RST 7
back:   MVI A,1
store:  STA 2100H
hang:   CALL loop         ; never returns
loop:   JMP loop
subr:   MVI B,5
        RET
        ORG 38H
        RET
)";

TEST(Debugger_Stops, StopWhereTheySay) {
    const Asm8080::Program program =
        Asm8080::assemble(stops_program, "stops.asm", {.base = 0, .size = Drovask::rom_size});
    ASSERT_TRUE(program.ok()) << Asm8080::format_diagnostic(program.errors.front());
    const auto at = [&](const char* name) { return program.symbols.at(name); };
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    std::copy(program.image.begin(), program.image.end(), rom.begin());

    using Studio::Stop_Reason;
    const auto steps_to = [&](Studio::Debugger& d, const char* name) {
        while (d.board().processor.pc != at(name)) {
            d.step();
        }
    };
    const struct {
        const char* name;
        std::function<Studio::Stop(Studio::Debugger&)> act;
        Stop_Reason reason;
        const char* pc;
        std::uint16_t stop_address = 0;
    } cases[] = {
        {"a breakpoint stops before its instruction",
         [&](Studio::Debugger& d) {
             d.set_breakpoint(at("SUBR"), true);
             return d.run_frames(10);
         },
         Stop_Reason::breakpoint, "SUBR", at("SUBR")},
        {"going on from a breakpoint leaves it",
         [&](Studio::Debugger& d) {
             d.set_breakpoint(at("LOOP"), true);
             d.run_frames(10);
             return d.step();
         },
         Stop_Reason::done, "LOOP"}, // JMP loop: one instruction, back at the breakpoint
        {"a cleared breakpoint does not stop",
         [&](Studio::Debugger& d) {
             d.set_breakpoint(at("SUBR"), true);
             d.clear_breakpoints();
             return d.run_frames(1);
         },
         Stop_Reason::done, "LOOP"},
        {"a watched store stops after its instruction",
         [&](Studio::Debugger& d) {
             d.add_watch(0x20FF, 4);
             return d.run_frames(10);
         },
         Stop_Reason::watch, "HANG", 0x2100},
        {"the call's push is a store too",
         [&](Studio::Debugger& d) {
             d.add_watch(0x23FE, 2);
             return d.run_frames(10);
         },
         Stop_Reason::watch, "SUBR", 0x23FF},
        {"step over runs a CALL to its return",
         [&](Studio::Debugger& d) {
             steps_to(d, "CALLS");
             return d.step_over(1);
         },
         Stop_Reason::done, "SKIPS"},
        {"step over a conditional call not taken is one step",
         [&](Studio::Debugger& d) {
             steps_to(d, "SKIPS");
             return d.step_over(1);
         },
         Stop_Reason::done, "RESTART"},
        {"step over runs an RST to its return",
         [&](Studio::Debugger& d) {
             steps_to(d, "RESTART");
             return d.step_over(1);
         },
         Stop_Reason::done, "BACK"},
        {"step over stops at a breakpoint inside the call",
         [&](Studio::Debugger& d) {
             steps_to(d, "CALLS");
             d.set_breakpoint(at("SUBR") + 2, true);
             return d.step_over(1);
         },
         Stop_Reason::breakpoint, nullptr, static_cast<std::uint16_t>(at("SUBR") + 2)},
        {"step over a call that never returns gives up",
         [&](Studio::Debugger& d) {
             steps_to(d, "HANG");
             return d.step_over(2);
         },
         Stop_Reason::limit, "LOOP"},
    };
    for (const auto& c : cases) {
        Studio::Debugger debugger(rom);
        const Studio::Stop stop = c.act(debugger);
        EXPECT_EQ(stop.reason, c.reason) << c.name;
        EXPECT_EQ(stop.address, c.stop_address) << c.name;
        const std::uint16_t pc = c.pc ? at(c.pc) : c.stop_address;
        EXPECT_EQ(debugger.board().processor.pc, pc) << c.name;
    }
}

TEST(Debugger_Stops, AnInstructionThatIsNotImplementedStopsTheMachineAtIt) {
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    rom[1] = 0x08; // after a NOP
    Studio::Debugger debugger(rom);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(debugger.run_frames(1), Tavrin::Exception);
        debugger.back_to_fault();
        EXPECT_EQ(debugger.board().processor.pc, 0x0001);
        EXPECT_EQ(debugger.instructions(), 1u) << "the failed instruction is not counted";
    }
}

TEST(Debugger_Keys, ChangeBetweenFramesAndReplayFromTheirRecording) {
    Studio::Debugger live(Drovask::test_card_rom());
    live.run_frames(20);
    live.key('C', true); // between frames: from frame 20
    live.run_frames(2);
    for (int i = 0; i < 10; ++i) {
        live.step();
    }
    live.key('C', false); // inside frame 22: from frame 23
    live.key('S', true);
    live.run_frames(3);
    EXPECT_EQ(live.recording(), "at 20 press C\nat 23 release C\nat 23 press S\n");

    Studio::Debugger replayed(Drovask::test_card_rom());
    replayed.replay({{20, 'C', true}, {23, 'C', false}, {23, 'S', true}});
    replayed.run_frames(live.frames());
    EXPECT_TRUE(state_of(replayed.board()) == state_of(live.board()));
    EXPECT_EQ(replayed.recording(), live.recording());

    Studio::Debugger untouched(Drovask::test_card_rom());
    untouched.run_frames(live.frames());
    EXPECT_FALSE(state_of(untouched.board()) == state_of(live.board()))
        << "the keys reached the program";
}

} // namespace
