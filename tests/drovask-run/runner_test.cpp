// The runner: its clock of instructions, its audit and its repeatability.
#include "tools/drovask-run/runner.hpp"

#include "faults_rom.hpp"
#include "machine/programs.hpp"
#include "tests/machine/rom_with.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

using Drovask::Fault;
using Drovask::Fault_Kind;

std::vector<Fault> faults_of(const Drovask::Audit& audit) {
    std::vector<Fault> faults;
    for (const auto& entry : audit.entries()) {
        faults.push_back(entry.fault);
    }
    return faults;
}

TEST(Runner_Audit, ReportsEachFaultOfTheFaultsProgramOnceWithItsPc) {
    Drovask::Runner runner(Drovask::Rom{Faults::rom}, {.audit = true});
    for (int i = 0; i < 3; ++i) {
        runner.frame();
    }
    EXPECT_EQ(faults_of(runner.audit), (std::vector<Fault>{
                                           {Fault_Kind::dropped_store, 0x0100, 0x1000},
                                           {Fault_Kind::rom_store, 0x0110, 0x0100},
                                           {Fault_Kind::store_above_ram, 0x0120, 0x4000},
                                           {Fault_Kind::ignored_input_port, 0x0130, 2},
                                           {Fault_Kind::ignored_output_port, 0x0134, 5},
                                           {Fault_Kind::stack_outside_ram, 0x0143, 0x4002},
                                       }));
    EXPECT_EQ(runner.audit.total(), 6u);
    for (const auto& entry : runner.audit.entries()) {
        EXPECT_EQ(runner.audit.count(entry.fault.kind), 1u);
    }
    EXPECT_EQ(runner.board.processor.pc, 0x0160) << "the program ran to its end";
}

TEST(Runner_Audit, ReportsAnInterruptPushedOutsideRam) {
    // LXI SP,2001H; EI; then NOPs: the interrupt's push goes to 2000H (kept) and 1FFFH (dropped),
    // and SP to 1FFFH.
    const auto rom = rom_with({0x31, 0x01, 0x20, 0xFB});
    Drovask::Runner runner(Drovask::Rom{rom}, {.instructions_per_interrupt = 10, .audit = true});
    runner.run(10);
    runner.interrupt();
    EXPECT_EQ(faults_of(runner.audit),
              (std::vector<Fault>{{Fault_Kind::dropped_store, 0x000C, 0x1FFF, true},
                                  {Fault_Kind::stack_outside_ram, 0x000C, 0x1FFF, true}}));
    EXPECT_EQ(Drovask::describe(runner.audit.entries()[0].fault),
              "interrupt at PC 000C: store to 1FFF dropped (outside RAM, 2000-3FFF)");
}

TEST(Runner_Audit, IsOffUnlessAskedFor) {
    Drovask::Runner runner(Drovask::Rom{Faults::rom});
    runner.frame();
    EXPECT_EQ(runner.board.processor.pc, 0x0160);
    EXPECT_EQ(runner.audit.total(), 0u);
}

TEST(Runner_Audit, ReportGroupsRepeatsAndCountsEachKind) {
    Drovask::Audit audit;
    for (int i = 0; i < 3; ++i) {
        audit.record({Fault_Kind::ignored_output_port, 0x0200, 6});
    }
    audit.record({Fault_Kind::rom_store, 0x0210, 0x0005});
    std::ostringstream report;
    audit.report(report);
    EXPECT_EQ(report.str(), "PC 0200: OUT to port 6, which the machine ignores (3 times)\n"
                            "PC 0210: store through HL into the ROM at 0005\n"
                            "audit: 4 faults: 1 stores through HL into the ROM, 3 OUTs to "
                            "ignored ports\n");
}

// A frame is two interrupts, each after `instructions_per_interrupt` instructions, delivered at
// 0008H and 0010H in turn.
TEST(Runner, InterruptsComeAfterTheGivenNumberOfInstructions) {
    // LXI SP,2400H; EI; JMP 0004H, and at each vector: EI; RET.
    auto rom = rom_with({0x31, 0x00, 0x24, 0xFB, 0xC3, 0x04, 0x00});
    for (const std::size_t vector : {std::size_t{0x08}, std::size_t{0x10}}) {
        rom[vector] = 0xFB;
        rom[vector + 1] = 0xC9;
    }
    Drovask::Runner runner(Drovask::Rom{rom}, {.instructions_per_interrupt = 5});
    runner.run(4);
    std::vector<std::uint16_t> entries;
    for (int i = 0; i < 2; ++i) {
        runner.run(1);
        runner.interrupt();
        entries.push_back(runner.board.processor.pc);
        runner.run(2); // EI; RET
    }
    EXPECT_EQ(entries, (std::vector<std::uint16_t>{0x0008, 0x0010}));
    runner.frame();
    EXPECT_EQ(runner.instructions(), 4u + 2 * 3 + 10);
    EXPECT_EQ(runner.board.processor.pc, 0x0010);
}

TEST(Runner, SameRomAndKeysGiveTheSameRun) {
    const auto play = [] {
        Drovask::Runner runner(Drovask::demo_rom());
        for (int frame = 0; frame < 400; ++frame) {
            runner.hold('C', frame >= 100 && frame < 104);
            runner.hold('Q', frame >= 120 && frame < 124);
            runner.hold('S', frame >= 200);
            runner.hold('D', frame % 50 < 25);
            runner.frame();
        }
        return runner.board;
    };
    const Drovask::Board first = play();
    const Drovask::Board second = play();
    EXPECT_EQ(first.processor.memory, second.processor.memory);
    EXPECT_EQ(first.processor.pc, second.processor.pc);
    EXPECT_EQ(first.input, second.input);
    EXPECT_EQ(first.processor.memory[0x2003], 2) << "the game was started";
}

} // namespace
