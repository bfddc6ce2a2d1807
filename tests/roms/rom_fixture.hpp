#pragma once

#include "machine/programs.hpp"
#include "tests/machine/machine_fixture.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

// Runs the project's own programs on the real machine, one step at a time on the test's thread:
// the interrupt timer is held off and fired only when a test asks, so every run is repeatable.
// Each step is audited first: a store that the machine would drop (outside 2000H..3FFFH), an
// unguarded store outside that range, or IN or OUT on a port that the machine ignores is
// counted as a fault of the program.
class Rom_Test : public Machine_Test {
protected:
    void start(Drovask::Rom program) {
        std::copy(program.begin(), program.end(), rom.begin());
        machine = std::make_unique<Drovask::Machine>(window.get(), rom);
        hold_timer(*machine);
    }

    void hold(char key, bool held = true) {
        window->key_held[static_cast<std::size_t>(key)] = held;
    }
    void release_all() {
        for (auto& key : window->key_held) {
            key = false;
        }
    }

    void run(int steps) {
        for (int i = 0; i < steps; ++i) {
            audit_store();
            machine->step();
        }
    }

    // One timer firing: the input byte is refreshed from the keys and, if the program has
    // interrupts enabled, the next interrupt is delivered.
    void interrupt() {
        auto& p = machine->board.processor;
        if (p.interrupts_enabled) {
            check_store(static_cast<std::uint16_t>(p.sp - 1), "interrupt push");
            check_store(static_cast<std::uint16_t>(p.sp - 2), "interrupt push");
        }
        audit_store();
        force_timer(*machine);
        machine->step();
        hold_timer(*machine);
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
        auto& p = machine->board.processor;
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

    std::uint8_t ram(std::uint16_t address) const {
        return machine->board.processor.memory[address];
    }
    void poke(std::uint16_t address, std::uint8_t value) {
        machine->board.processor.memory[address] = value;
    }

    const Drovask::Screen& picture() {
        machine->render();
        return machine->screen;
    }
    static bool lit(const Drovask::Screen& screen, int column, int row) {
        return screen[static_cast<std::size_t>(row * 224 + column)] != 0;
    }

    // The ROM and the unmapped memory above video memory are exactly as loaded.
    void expect_memory_outside_ram_untouched() const {
        const auto& memory = machine->board.processor.memory;
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

    std::unique_ptr<Drovask::Machine> machine;
    int faults = 0;
    std::string first_fault;

private:
    void check_store(std::uint16_t address, const char* what) {
        if (address < 0x2000 || address > 0x3FFF) {
            fault(what, address);
        }
    }
    void fault(const char* what, std::uint16_t where) {
        if (faults++ == 0) {
            char text[96];
            std::snprintf(text, sizeof text, "%s (%04X) at PC %04X", what, where,
                          machine->board.processor.pc);
            first_fault = text;
        }
    }

    // Checks where the instruction at PC is about to store.
    void audit_store() {
        const auto& p = machine->board.processor;
        const auto at = [&](int offset) {
            return p.memory[static_cast<std::uint16_t>(p.pc + offset)];
        };
        const std::uint8_t opcode = at(0);
        const auto operand = static_cast<std::uint16_t>(at(1) | at(2) << 8);
        const auto hl = static_cast<std::uint16_t>(p.h << 8 | p.l);
        const auto sp_minus = [&](int n) { return static_cast<std::uint16_t>(p.sp - n); };
        if (opcode == 0xDB && at(1) != 0 && at(1) != 1 && at(1) != 3) {
            fault("IN from an ignored port", at(1));
        } else if (opcode == 0xD3 && at(1) != 2 && at(1) != 4) {
            fault("OUT to an ignored port", at(1));
        } else if (opcode == 0x32) {
            check_store(operand, "STA");
        } else if (opcode == 0x22) {
            check_store(operand, "SHLD");
            check_store(static_cast<std::uint16_t>(operand + 1), "SHLD");
        } else if (opcode == 0x02) {
            check_store(static_cast<std::uint16_t>(p.b << 8 | p.c), "STAX B");
        } else if (opcode == 0x12) {
            check_store(static_cast<std::uint16_t>(p.d << 8 | p.e), "STAX D");
        } else if ((opcode >= 0x70 && opcode <= 0x77 && opcode != 0x76) || opcode == 0x36 ||
                   opcode == 0x34 || opcode == 0x35) {
            check_store(hl, "store at HL");
        } else if ((opcode & 0xCF) == 0xC5 || opcode == 0xCD || (opcode & 0xC7) == 0xC4 ||
                   (opcode & 0xC7) == 0xC7) {
            check_store(sp_minus(1), "push");
            check_store(sp_minus(2), "push");
        } else if (opcode == 0xE3) {
            check_store(p.sp, "XTHL");
            check_store(static_cast<std::uint16_t>(p.sp + 1), "XTHL");
        }
    }
};
