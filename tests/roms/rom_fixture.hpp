#pragma once

#include "machine/programs.hpp"
#include "tools/drovask-run/runner.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// Runs the project's own programs on the machine's board with the headless runner, one step at
// a time on the test's thread: interrupts come only when a test asks, so every run is
// repeatable. Every step is audited (stores dropped outside RAM, stores through HL outside it,
// IN or OUT on a port that the machine ignores, SP leaving RAM): each is a fault of the program.
class Rom_Test : public ::testing::Test {
protected:
    void start(Drovask::Rom program) {
        std::copy(program.begin(), program.end(), rom.begin());
        runner = std::make_unique<Drovask::Runner>(Drovask::Rom{rom},
                                                   Drovask::Run_Options{.audit = true});
    }

    void hold(char key, bool held = true) { runner->hold(key, held); }
    void release_all() { runner->release_all(); }

    void run(int steps) { runner->run(static_cast<std::uint64_t>(steps)); }

    // A step in which the timer fires: one instruction, then the input byte is refreshed from
    // the keys and, if the program has interrupts enabled, the next interrupt is delivered.
    void interrupt() {
        run(1);
        runner->interrupt();
    }

    // A picture frame: two interrupts (one at each vector), each followed by `steps`
    // instructions, enough for its handler and the main loop's work.
    void frames(int count, int steps = steps_per_interrupt) {
        for (int i = 0; i < count; ++i) {
            interrupt();
            run(steps);
            interrupt();
            run(steps);
        }
    }

    template <typename Condition>
    bool frames_until(Condition done, int limit) {
        for (int i = 0; i < limit; ++i) {
            if (done()) {
                return true;
            }
            frames(1);
        }
        return done();
    }

    // Interrupts the program at `count` different points and checks that each handler gives the
    // program back every register and flag as they were when it was interrupted.
    void expect_handlers_preserve_registers(int count) {
        auto& p = processor();
        int checked = 0;
        for (int i = 0; i < count; ++i) {
            run(500 + 317 * i % 3000);
            interrupt();
            if (p.pc != 0x0008 && p.pc != 0x0010) {
                continue; // the program had interrupts off at that moment
            }
            const std::array<std::uint8_t, 8> registers{p.a, p.b, p.c, p.d, p.e, p.h, p.l, p.flags};
            const auto sp = static_cast<std::uint16_t>(p.sp + 2);
            const auto resume = static_cast<std::uint16_t>(
                p.memory[p.sp] | p.memory[static_cast<std::uint16_t>(p.sp + 1)] << 8);
            for (int step = 0; step < 20000 && !(p.pc == resume && p.sp == sp); ++step) {
                run(1);
            }
            ASSERT_EQ(p.pc, resume) << "the handler did not return";
            EXPECT_EQ(p.sp, sp);
            EXPECT_TRUE(p.interrupts_enabled);
            EXPECT_EQ((std::array<std::uint8_t, 8>{p.a, p.b, p.c, p.d, p.e, p.h, p.l, p.flags}),
                      registers)
                << "interrupted at " << resume;
            ++checked;
        }
        EXPECT_GE(checked, count / 2);
    }

    Intel_8080& processor() { return runner->board.processor; }
    std::uint8_t ram(std::uint16_t address) const {
        return runner->board.processor.memory[address];
    }
    void poke(std::uint16_t address, std::uint8_t value) { processor().memory[address] = value; }

    const Drovask::Screen& picture() {
        Drovask::convert_screen(processor(), shown);
        return shown;
    }
    static bool lit(const Drovask::Screen& screen, int column, int row) {
        return screen[static_cast<std::size_t>(row * 224 + column)] != 0;
    }

    // The audit found nothing; its first fault otherwise.
    void expect_no_faults() const {
        const auto& audit = runner->audit;
        EXPECT_EQ(audit.total(), 0u)
            << (audit.entries().empty() ? "" : Drovask::describe(audit.entries()[0].fault));
    }

    // The ROM and the unmapped memory above video memory are exactly as loaded.
    void expect_memory_outside_ram_untouched() const {
        const auto& memory = runner->board.processor.memory;
        EXPECT_TRUE(std::equal(rom.begin(), rom.end(), memory.begin())) << "the ROM was written";
        EXPECT_TRUE(std::all_of(memory.begin() + 0x4000, memory.end(), [](std::uint8_t b) {
            return b == 0;
        })) << "memory above 3FFFH was written";
    }

    static std::uint64_t picture_hash(const Drovask::Screen& screen) {
        std::uint64_t hash = 0xcbf29ce484222325ULL; // FNV-1a
        for (const std::uint8_t pixel : screen) {
            hash = (hash ^ pixel) * 0x100000001b3ULL;
        }
        return hash;
    }

    static constexpr int steps_per_interrupt = 4000;

    std::array<std::uint8_t, Drovask::rom_size> rom{};
    std::unique_ptr<Drovask::Runner> runner;
    Drovask::Screen shown{}; // the latest picture()
};
