// The studio's debugger: however it is driven (frames, single steps, a mix), the machine goes
// through the same states as drovask-run's runner; it stops where it says; keys and key scripts
// take effect between frames, so a session replays exactly; going back lands on the states a
// straight run passes through, and the searches backwards find what a run forwards stops at.
#include "studio/debugger.hpp"

#include "base/exception.hpp"
#include "formats/key_script.hpp"

#include "faults_rom.hpp"
#include "machine/programs.hpp"
#include "tests/machine/rom_with.hpp"
#include "tools/asm8080/assembler.hpp"
#include "tools/drovask-run/runner.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>
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

struct Assembled {
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    Asm8080::Program program;
    std::uint16_t at(const char* name) const { return program.symbols.at(name); }
};

Assembled assembled(const char* source) {
    Assembled result;
    result.program =
        Asm8080::assemble(source, "program.asm", {.base = 0, .size = Drovask::rom_size});
    EXPECT_TRUE(result.program.ok()) << Asm8080::format_diagnostic(result.program.errors.front());
    std::copy(result.program.image.begin(), result.program.image.end(), result.rom.begin());
    return result;
}

void step_to(Studio::Debugger& d, std::uint16_t pc) {
    while (d.board().processor.pc != pc) {
        d.step();
    }
}

TEST(Debugger_Stops, StopWhereTheySay) {
    const Assembled program = assembled(stops_program);
    const auto at = [&](const char* name) { return program.at(name); };
    const auto& rom = program.rom;

    using Studio::Stop_Reason;
    const auto steps_to = [&](Studio::Debugger& d, const char* name) { step_to(d, at(name)); };
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

// drovask-run's faults program (each fault of the audit once) and an interrupt pushed outside
// RAM (LXI SP,2001H; EI; then NOPs): the debugger's audit is the runner's, and with faults
// stopping the run each step that made one stops it, the fault named.
TEST(Debugger_Faults, AreTheRunnersAuditsAndStopTheRunWhenAsked) {
    const auto faults_of = [](const Drovask::Audit& audit) {
        std::vector<Drovask::Fault> faults;
        for (const auto& entry : audit.entries()) {
            faults.push_back(entry.fault);
        }
        return faults;
    };
    const auto pushed_outside = rom_with({0x31, 0x01, 0x20, 0xFB});
    for (const Drovask::Rom rom : {Drovask::Rom{Faults::rom}, Drovask::Rom{pushed_outside}}) {
        Drovask::Runner runner(rom, {.audit = true});
        for (int i = 0; i < 3; ++i) {
            runner.frame();
        }
        const std::vector<Drovask::Fault> expected = faults_of(runner.audit);
        ASSERT_FALSE(expected.empty());
        Studio::Debugger debugger(rom);
        debugger.run_frames(3);
        EXPECT_EQ(faults_of(debugger.audit()), expected);

        Studio::Debugger stopping(rom);
        stopping.stop_on_faults(true);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (i > 0 && expected[i].pc == expected[i - 1].pc) {
                continue; // the same step's second fault: one stop
            }
            EXPECT_EQ(stopping.run_frames(3),
                      (Studio::Stop{Studio::Stop_Reason::fault, expected[i].pc}));
            EXPECT_EQ(stopping.last_fault(), expected[i]);
        }
        EXPECT_EQ(stopping.run_frames(3).reason, Studio::Stop_Reason::done) << "no other fault";
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

// The runner after `count` instructions with the coin script's keys: whole frames, then the
// rest of the last one (the timer fires when a period completes, as after a debugger's step).
Machine_State runner_after(std::uint64_t count) {
    Drovask::Runner runner(Drovask::test_card_rom());
    const auto keys = [&] {
        for (const Formats::Key_Event& change : coin_script) {
            if (change.frame == runner.frames()) {
                runner.hold(change.key, change.press);
            }
        }
    };
    for (; count >= instructions_per_frame; count -= instructions_per_frame) {
        keys();
        runner.frame();
    }
    keys();
    const std::uint64_t period = Drovask::default_instructions_per_interrupt;
    runner.run(std::min(count, period));
    if (count >= period) {
        runner.interrupt();
        runner.run(count - period);
    }
    return state_of(runner.board);
}

TEST(Debugger_History, GoingBackLandsOnTheStatesOfAStraightRunAndForwardAgainOnTheSame) {
    const auto step_back = [](std::uint64_t count) {
        return [count](Studio::Debugger& d) {
            for (std::uint64_t i = 0; i < count; ++i) {
                ASSERT_EQ(d.step_back().reason, Studio::Stop_Reason::done);
            }
        };
    };
    const struct {
        const char* name;
        std::uint64_t forward, back;
        std::function<void(Studio::Debugger&)> go_back;
    } cases[] = {
        {"one instruction", 100, 1, step_back(1)},
        {"steps back over the timer", Drovask::default_instructions_per_interrupt + 5, 10,
         step_back(10)},
        {"steps back to the start of a frame", 3 * instructions_per_frame + 2, 2, step_back(2)},
        {"back over snapshots and key changes", 70 * instructions_per_frame + 123,
         65 * instructions_per_frame + 7,
         [](Studio::Debugger& d) { d.seek(5 * instructions_per_frame + 116); }},
        {"to a frame's start", 40 * instructions_per_frame + 9, 21 * instructions_per_frame + 9,
         [](Studio::Debugger& d) { d.seek_frame(19); }},
    };
    for (const auto& c : cases) {
        Studio::Debugger debugger(Drovask::test_card_rom());
        debugger.replay(coin_script);
        debugger.run_frames(c.forward / instructions_per_frame);
        for (std::uint64_t i = 0; i < c.forward % instructions_per_frame; ++i) {
            debugger.step();
        }
        const Drovask::Session::State ahead = debugger.session().save();
        const std::string recorded = debugger.recording();
        c.go_back(debugger);
        ASSERT_EQ(debugger.instructions(), c.forward - c.back) << c.name;
        EXPECT_TRUE(state_of(debugger.board()) == runner_after(c.forward - c.back)) << c.name;
        // Forward again, by frames and steps: the states of never having gone back.
        debugger.run_frames(c.back / instructions_per_frame);
        while (debugger.instructions() < c.forward) {
            debugger.step();
        }
        EXPECT_TRUE(debugger.session().save() == ahead) << c.name;
        EXPECT_EQ(debugger.recording(), recorded) << c.name;
    }
}

TEST(Debugger_History, StepBackOverGoesBackFromAReturnToItsCall) {
    const Assembled program = assembled(stops_program);
    const struct {
        const char* name;
        const char* from;
        const char* to;
    } cases[] = {
        {"from after a CALL's return to the CALL", "SKIPS", "CALLS"},
        {"from after an RST's return to the RST", "BACK", "RESTART"},
        {"after a conditional call not taken, one instruction", "RESTART", "SKIPS"},
        {"inside the callee, one instruction", "SUBR", "CALLS"},
    };
    for (const auto& c : cases) {
        Studio::Debugger forward(program.rom);
        step_to(forward, program.at(c.to));
        const Drovask::Session::State expected = forward.session().save();
        step_to(forward, program.at(c.from));
        EXPECT_EQ(forward.step_back_over().reason, Studio::Stop_Reason::done) << c.name;
        EXPECT_TRUE(forward.session().save() == expected) << c.name;
    }
    Studio::Debugger at_power_on(program.rom);
    EXPECT_EQ(at_power_on.step_back_over().reason, Studio::Stop_Reason::limit);
}

// Calls nested, through RST, one that drops its return address, one that rewrites it, a
// recursion deeper than the call stack's room, and interrupts.
constexpr const char* calls_program = R"(
        ORG 0
        LXI SP,2400H
        JMP main
        ORG 8
        RET
        ORG 38H
rst7:   RET
main:   CALL outer
c_drop: CALL dropper
c_rw:   CALL rewriter
        JMP elsewhere
moved:  MVI C,70            ; a recursion deeper than the call stack's room
c_deep: CALL deep
deep:   DCR C
        JNZ c_deep
        LXI SP,2400H
        EI
spin:   JMP spin
outer:  CALL inner
o_next: RST 7
        RET
inner:  NOP
        RET
dropper: POP H              ; drops its return address, then goes back by PCHL
dropped: PCHL
rewriter: LXI H,moved
        XTHL
        RET
elsewhere: HLT
)";

TEST(Debugger_Calls, TheCallStackHoldsTheCallsPCIsInside) {
    const Assembled program = assembled(calls_program);
    const auto at = [&](const char* name) { return program.at(name); };
    struct Frame {
        const char* call;
        const char* target;
    };
    const struct {
        const char* name;
        const char* stop;          // stepped to
        std::vector<Frame> frames; // outermost first
    } cases[] = {
        {"a call", "INNER", {{"MAIN", "OUTER"}, {"OUTER", "INNER"}}},
        {"after a return", "O_NEXT", {{"MAIN", "OUTER"}}},
        {"an RST", "RST7", {{"MAIN", "OUTER"}, {"O_NEXT", "RST7"}}},
        {"all returned", "C_DROP", {}},
        {"a dropped return address", "DROPPED", {}},
        {"a rewritten return address", "MOVED", {}},
    };
    for (const auto& c : cases) {
        Studio::Debugger debugger(program.rom);
        step_to(debugger, at(c.stop));
        const auto frames = debugger.call_stack();
        ASSERT_EQ(frames.size(), c.frames.size()) << c.name;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].call, at(c.frames[i].call)) << c.name << " " << i;
            EXPECT_EQ(frames[i].target, at(c.frames[i].target)) << c.name << " " << i;
            EXPECT_FALSE(frames[i].interrupt) << c.name;
        }
    }

    Studio::Debugger recursion(program.rom);
    step_to(recursion, at("MOVED"));
    for (int i = 0; i < 70; ++i) {
        recursion.step(); // the first CALL DEEP, then around the loop
        step_to(recursion, at("DEEP"));
    }
    const auto frames = recursion.call_stack();
    ASSERT_EQ(frames.size(), Drovask::Call_Stack::capacity) << "the innermost calls stay";
    EXPECT_EQ(frames.back().sp, recursion.board().processor.sp);
    step_to(recursion, at("SPIN"));
    EXPECT_TRUE(recursion.call_stack().empty()) << "LXI SP left the recursion behind";

    Studio::Debugger interrupted(program.rom);
    step_to(interrupted, at("SPIN"));
    step_to(interrupted, 0x0008);
    ASSERT_EQ(interrupted.call_stack().size(), 1u);
    EXPECT_TRUE(interrupted.call_stack()[0].interrupt);
    EXPECT_EQ(interrupted.call_stack()[0].return_address, at("SPIN"));
}

TEST(Debugger_Calls, StepOutReturnsToTheCallersNextInstruction) {
    const Assembled program = assembled(calls_program);
    Studio::Debugger debugger(program.rom);
    step_to(debugger, program.at("INNER"));
    EXPECT_EQ(debugger.step_out(1).reason, Studio::Stop_Reason::done);
    EXPECT_EQ(debugger.board().processor.pc, program.at("O_NEXT"));
    EXPECT_EQ(debugger.call_stack().size(), 1u);
    EXPECT_EQ(debugger.run_to(program.at("C_RW"), 1).reason, Studio::Stop_Reason::done);
    EXPECT_EQ(debugger.board().processor.pc, program.at("C_RW"));
}

TEST(Debugger_Calls, GoingBackGivesTheCallStackOfAStraightRun) {
    Studio::Debugger debugger(Drovask::demo_rom());
    debugger.replay({{30, 'C', true}, {31, 'C', false}, {40, 'S', true}, {41, 'S', false}});
    struct Point {
        std::uint64_t instructions;
        std::vector<Drovask::Call_Frame> frames;
    };
    std::vector<Point> points;
    for (const std::uint64_t frame : {3u, 35u, 61u, 90u}) {
        debugger.run_frames(frame - debugger.frames());
        for (int i = 0; i < 777 || debugger.call_stack().size() < 2; ++i) {
            debugger.step();
        }
        const auto frames = debugger.call_stack();
        points.push_back({debugger.instructions(), {frames.begin(), frames.end()}});
    }
    debugger.run_frames(10);
    for (auto point = points.rbegin(); point != points.rend(); ++point) {
        for (const std::uint64_t back : {0u, 1u}) { // a seek, and a step back after one forwards
            ASSERT_TRUE(debugger.seek(point->instructions - back));
            if (back) {
                debugger.step();
                debugger.step_back();
                debugger.step();
            }
            const auto frames = debugger.call_stack();
            EXPECT_TRUE(std::equal(frames.begin(), frames.end(), point->frames.begin(),
                                   point->frames.end()))
                << point->instructions << " back " << back;
        }
    }
}

// A count stored at 2100H, then a call that takes about 68 frames: its hits lie in different
// windows of the history.
constexpr const char* slow_loop_program = R"(
        ORG 0
        LXI SP,2400H
again:  INR E
        MOV A,E
        STA 2100H
        CALL subr
        JMP again
subr:   LXI B,0
wait:   DCX B
        MOV A,B
        ORA C
        JNZ wait
        RET
)";

TEST(Debugger_History, ReverseContinueLandsOnThePreviousStopOfARunForwards) {
    const Assembled program = assembled(slow_loop_program);
    const struct {
        const char* name;
        std::function<void(Studio::Debugger&)> arm;
        Studio::Stop stop;
        bool resumed_stays; // resumed at a hit, the search stops there (it was not looked at)
    } cases[] = {
        {"a breakpoint",
         [&](Studio::Debugger& d) { d.set_breakpoint(program.at("SUBR"), true); },
         {Studio::Stop_Reason::breakpoint, program.at("SUBR")},
         false},
        {"a watch",
         [](Studio::Debugger& d) { d.add_watch(0x2100, 1); },
         {Studio::Stop_Reason::watch, 0x2100},
         true},
    };
    for (const auto& c : cases) {
        Studio::Debugger debugger(program.rom);
        c.arm(debugger);
        std::vector<Drovask::Session::State> hits;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(debugger.run_frames(200), c.stop) << c.name;
            hits.push_back(debugger.session().save());
        }
        debugger.run_frames(20); // from a point past the last hit
        for (auto hit = hits.rbegin(); hit != hits.rend(); ++hit) {
            EXPECT_EQ(debugger.reverse_continue(200), c.stop) << c.name;
            EXPECT_TRUE(debugger.session().save() == *hit) << c.name;
        }
        EXPECT_EQ(debugger.reverse_continue(200).reason, Studio::Stop_Reason::limit) << c.name;
        EXPECT_EQ(debugger.instructions(), 0u) << c.name << ": as far back as it looked";

        // A search in slices that reached its limit just after a watch's store goes on from there
        // (a breakpoint there was looked at by the slice before).
        ASSERT_TRUE(debugger.seek(hits.back().counters.instructions)) << c.name;
        EXPECT_EQ(debugger.reverse_continue(200, true), c.stop) << c.name;
        EXPECT_EQ(debugger.session().save() == hits.back(), c.resumed_stays) << c.name;
    }
}

// The runner's watch report for `address` after `frames` frames of the demo with a coin and a
// start: the last store that wrote it, as a writer.
std::optional<Studio::Writer> runner_writer(std::uint16_t address, std::uint64_t frames) {
    Drovask::Runner runner(Drovask::demo_rom());
    std::ostringstream report;
    runner.add_watch(address, 1, report);
    for (std::uint64_t frame = 0; frame < frames; ++frame) {
        runner.hold('C', frame == 30);
        runner.hold('S', frame == 40);
        runner.frame();
    }
    std::optional<Studio::Writer> writer;
    std::istringstream lines(report.str());
    for (std::string line; std::getline(lines, line);) {
        unsigned frame = 0;
        unsigned pc = 0;
        if (line.find("dropped") != std::string::npos) {
            continue;
        }
        const bool interrupt = line.find("interrupt at PC") != std::string::npos;
        const char* format =
            interrupt ? "watch: frame %u, interrupt at PC %x" : "watch: frame %u, PC %x";
        EXPECT_EQ(std::sscanf(line.c_str(), format, &frame, &pc), 2) << line;
        writer = Studio::Writer{frame, 0, static_cast<std::uint16_t>(pc), interrupt};
    }
    return writer;
}

TEST(Debugger_History, WhoWroteAByteAgreesWithTheRunnersWatch) {
    constexpr std::uint64_t frames = 150;
    Studio::Debugger debugger(Drovask::demo_rom());
    debugger.replay({{30, 'C', true}, {31, 'C', false}, {40, 'S', true}, {41, 'S', false}});
    debugger.run_frames(frames);
    const Drovask::Session::State now = debugger.session().save();
    // Working RAM, the stack (an interrupt's push among its writers), video memory, the top of
    // RAM and a ROM byte that nothing writes.
    const std::uint16_t addresses[] = {
        0x2000, 0x2001, 0x2010, 0x23FE, 0x23FF, 0x2400, Studio::picture_address(100, 128),
        0x3FFF, 0x0000};
    int written = 0;
    for (const std::uint16_t address : addresses) {
        const std::optional<Studio::Writer> expected = runner_writer(address, frames);
        std::optional<Studio::Writer> writer = debugger.who_wrote(address);
        EXPECT_TRUE(debugger.session().save() == now) << "who wrote leaves the machine as it is";
        ASSERT_EQ(writer.has_value(), expected.has_value()) << address;
        if (!writer) {
            continue;
        }
        ++written;
        EXPECT_EQ(writer->frame, expected->frame) << address;
        EXPECT_EQ(writer->pc, expected->pc) << address;
        EXPECT_EQ(writer->interrupt, expected->interrupt) << address;
        // Going there shows the instruction about to store (an interrupt's push just made).
        ASSERT_TRUE(debugger.seek(writer->instruction)) << address;
        const bool frame_ended = writer->interrupt && debugger.session().at_frame_start();
        EXPECT_EQ(debugger.frames() - (frame_ended ? 1 : 0), writer->frame) << address;
        if (!writer->interrupt) {
            EXPECT_EQ(debugger.board().processor.pc, writer->pc) << address;
            debugger.step();
            EXPECT_EQ(debugger.board().processor.memory[address],
                      now.board.processor.memory[address])
                << address;
        }
        debugger.seek(now.counters.instructions);
    }
    EXPECT_GE(written, 5) << "the bytes chosen are written by the demo";
}

// The table of last writers kept while stepping against the replay of the past, at the present
// and after a step back and steps on from there (which leave part of the table unknown): a
// debugger that has jumped forward past its table answers by replay only.
TEST(Debugger_History, WhoWroteFromTheTableAgreesWithTheReplay) {
    const std::vector<Formats::Key_Event> keys{
        {30, 'C', true}, {31, 'C', false}, {40, 'Q', true}, {41, 'Q', false}, {45, 'S', true}};
    Studio::Debugger table(Drovask::demo_rom());
    Studio::Debugger replay(Drovask::demo_rom());
    std::vector<std::uint16_t> addresses{0x0000, 0x23FE, 0x23FF, 0x3FFF};
    for (std::uint32_t address = 0x2000; address < 0x4000; address += 97) {
        addresses.push_back(static_cast<std::uint16_t>(address));
    }
    for (Studio::Debugger* debugger : {&table, &replay}) {
        debugger->replay(keys);
        debugger->run_frames(60);
    }
    const auto agree = [&](const char* where) {
        const std::uint64_t now = table.instructions();
        replay.seek(now - 2);
        replay.step();
        replay.seek(now); // past what its table followed
        for (const std::uint16_t address : addresses) {
            EXPECT_EQ(table.who_wrote(address), replay.who_wrote(address)) << where << address;
        }
    };
    agree("at the present, ");
    table.seek_frame(55);
    for (int step = 0; step < 5000; ++step) {
        table.step();
    }
    agree("stepped on from frame 55, ");
}

TEST(Debugger_Picture, EachPixelIsABitOfItsByte) {
    const struct {
        std::uint32_t x, y;
    } pixels[] = {{0, 0}, {223, 255}, {0, 255}, {223, 0}, {100, 128}, {17, 9}};
    for (const auto& pixel : pixels) {
        Drovask::Board board(Drovask::test_card_rom());
        board.processor.memory[Studio::picture_address(pixel.x, pixel.y)] = 0xFF;
        Drovask::Screen screen{};
        Drovask::convert_screen(board.processor, screen);
        EXPECT_EQ(screen[pixel.y * Drovask::screen_size.width + pixel.x], 255)
            << pixel.x << "," << pixel.y;
        EXPECT_EQ(std::count(screen.begin(), screen.end(), 255), 8) << pixel.x << "," << pixel.y;
    }
}

} // namespace
