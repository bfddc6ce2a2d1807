// Looking inside a run: the trace against the board stepped directly, breakpoints, watches and
// the state file.
#include "tools/drovask-run/inspection.hpp"
#include "tools/drovask-run/runner.hpp"

#include "formats/symbols.hpp"
#include "machine/programs.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::array<std::uint8_t, Drovask::rom_size> rom_with(std::initializer_list<std::uint8_t> program) {
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    std::copy(program.begin(), program.end(), rom.begin());
    return rom;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The demo's first frames, with a coin inserted, traced; then the same ROM and key stepped on a
// bare board, instruction by instruction, each compared with the trace's line: its PC, and the
// registers after it as the line spells them.
TEST(Runner_Trace, MatchesTheBoardSteppedDirectly) {
    constexpr int frames = 8;
    const auto coin_held = [](int frame) { return frame >= 2 && frame < 4; };
    std::ostringstream trace;
    Drovask::Runner runner(Drovask::demo_rom());
    runner.trace_to(&trace);
    for (int frame = 0; frame < frames; ++frame) {
        runner.hold('C', coin_held(frame));
        runner.frame();
    }

    const auto lines = lines_of(trace.str());
    std::size_t next = 0;
    int interrupt_lines = 0;
    // The next line that is an instruction; counts the marks on the way.
    const auto instruction_line = [&]() -> std::string {
        while (next < lines.size() && lines[next].starts_with("--")) {
            interrupt_lines += lines[next].starts_with("-- interrupt") ? 1 : 0;
            ++next;
        }
        return next < lines.size() ? lines[next++] : std::string();
    };

    Drovask::Board board(Drovask::demo_rom());
    const Intel_8080& p = board.processor;
    for (int frame = 0; frame < frames; ++frame) {
        for (int half = 0; half < 2; ++half) {
            for (std::uint32_t i = 0; i < Drovask::default_instructions_per_interrupt; ++i) {
                const unsigned pc = p.pc;
                board.execute_instruction();
                const std::string line = instruction_line();
                unsigned traced_pc = 0, a = 0, bc = 0, de = 0, hl = 0, sp = 0, f = 0;
                const auto registers = line.find("A=");
                ASSERT_EQ(std::sscanf(line.c_str(), "%4X ", &traced_pc), 1) << line;
                ASSERT_NE(registers, std::string::npos) << line;
                ASSERT_EQ(std::sscanf(line.c_str() + registers, "A=%X BC=%X DE=%X HL=%X SP=%X F=%X",
                                      &a, &bc, &de, &hl, &sp, &f),
                          6)
                    << line;
                ASSERT_EQ(traced_pc, pc) << "frame " << frame << ": " << line;
                ASSERT_EQ(a, p.a) << line;
                ASSERT_EQ(bc, get_bc(p)) << line;
                ASSERT_EQ(de, get_de(p)) << line;
                ASSERT_EQ(hl, get_hl(p)) << line;
                ASSERT_EQ(sp, p.sp) << line;
                ASSERT_EQ(f, p.flags) << line;
            }
            board.fire_timer([&](char key) { return key == 'C' && coin_held(frame); });
        }
    }
    EXPECT_EQ(instruction_line(), "") << "the trace has no more instructions than the board ran";
    EXPECT_EQ(interrupt_lines, 2 * frames);
    EXPECT_EQ(board.processor.memory, runner.board.processor.memory);
    EXPECT_NE(trace.str().find("-- frame 2: press C\n"), std::string::npos);
}

// LXI SP,2402H; LXI H,1234H; SHLD 2400H; MVI A,77H; STA 1FFFH; EI; then NOPs.
const auto storing_program = rom_with(
    {0x31, 0x02, 0x24, 0x21, 0x34, 0x12, 0x22, 0x00, 0x24, 0x3E, 0x77, 0x32, 0xFF, 0x1F, 0xFB});

TEST(Runner_Watch, ReportsEachStoreWithOldAndNewByteIncludingInterruptsAndDroppedOnes) {
    std::ostringstream watch;
    const Formats::Symbols symbols({{0x2400, "SCORE"}});
    Drovask::Runner runner(Drovask::Rom{storing_program});
    runner.use_symbols(&symbols);
    runner.add_watch(0x2400, 2, watch);
    runner.add_watch(0x1FFF, 1, watch);
    runner.run(6);
    runner.interrupt();
    EXPECT_EQ(watch.str(),
              "watch: frame 0, PC 0006: 2400 (SCORE) 00 -> 34\n"
              "watch: frame 0, PC 0006: 2401 (SCORE+1) 00 -> 12\n"
              "watch: frame 0, PC 000B: 1FFF 00 -> 77 dropped (outside RAM, the byte stays 00)\n"
              "watch: frame 0, interrupt at PC 000F: 2401 (SCORE+1) 12 -> 00\n"
              "watch: frame 0, interrupt at PC 000F: 2400 (SCORE) 34 -> 0F\n");
}

TEST(Runner_Break, StopsBeforeTheInstructionAndRunsNoFurther) {
    Drovask::Runner runner(Drovask::Rom{storing_program}, {.instructions_per_interrupt = 100});
    runner.add_breakpoint(0x000B);
    runner.frame();
    runner.frame();
    EXPECT_EQ(runner.stopped_at, 0x000B);
    EXPECT_EQ(runner.board.processor.pc, 0x000B);
    EXPECT_EQ(runner.instructions(), 4u);
    EXPECT_EQ(runner.board.processor.a, 0x77) << "MVI ran, STA did not";
    EXPECT_FALSE(runner.board.processor.interrupts_enabled);

    std::ostringstream report;
    Drovask::write_break_report(report, runner);
    const auto lines = lines_of(report.str());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "stopped at breakpoint 000B in frame 0 after 4 instructions");
    EXPECT_EQ(lines[3], "> 000B 32 FF 1F  STA 1FFFH");
}

TEST(Runner_State, IsOneNameAndValueALineThenTheRam) {
    Drovask::Runner runner(Drovask::Rom{storing_program});
    runner.run(3);
    std::ostringstream state;
    Drovask::write_state(state, runner);
    const auto lines = lines_of(state.str());
    const auto value = [&](const std::string& name) {
        for (const std::string& line : lines) {
            if (line.starts_with(name + " ")) {
                return line.substr(name.size() + 1);
            }
        }
        return std::string("(missing)");
    };
    EXPECT_EQ(value("pc"), "0009");
    EXPECT_EQ(value("sp"), "2402");
    EXPECT_EQ(value("hl"), "1234");
    EXPECT_EQ(value("interrupts_enabled"), "0");
    EXPECT_EQ(value("ram"), "2000-3FFF");
    const auto dump = std::find(lines.begin(), lines.end(), "ram 2000-3FFF");
    ASSERT_EQ(lines.end() - dump, 1 + 0x2000 / 32);
    EXPECT_TRUE(dump[1].starts_with("2000: 00 ")) << dump[1];
    EXPECT_TRUE(dump[33].starts_with("2400: 34 12 00")) << dump[33];
}

} // namespace
