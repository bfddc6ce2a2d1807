// Fuzzes the machine's step on its window-free board: a random ROM image, random keys held at
// each timer firing and a clock that fires the timer every so many instructions. No window and
// no OpenGL are involved. A run must not crash and must throw nothing but the processor's
// "not implemented" exception, which ends it as it ends the real machine; along the way the
// input port holds only key bits, the shift amount stays below 8, the memory map never moves and
// an interrupt lands on 0008H or 0010H alternately. At the end the screen conversion runs over
// the memory the program left, and gives only dark and lit pixels.
//
// Input: one byte for the firing interval, 16 bytes of key states (one per firing, in turn),
// then the ROM image, padded with zeros to 8 KiB.

#include "base/exception.hpp"
#include "machine/board.hpp"
#include "processor/opcodes.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr int steps_per_input = 20000;
constexpr std::size_t key_states = 16;
static_assert(Drovask::input_keys.size() <= 8, "a key state is one byte, a bit per key");

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "machine invariant broken: %s\n", what);
        std::abort();
    }
}

bool is_unimplemented_message(std::string_view message) {
    constexpr std::string_view start = "Could not execute instruction \"";
    constexpr std::string_view end = "\" because it has not been implemented.";
    return message.size() == start.size() + 2 + end.size() && message.starts_with(start) &&
           message.ends_with(end);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t header = 1 + key_states;
    std::array<std::uint8_t, header> settings{};
    std::memcpy(settings.data(), data, std::min(size, header));
    static std::array<std::uint8_t, Drovask::rom_size> rom;
    rom.fill(0);
    if (size > header) {
        std::memcpy(rom.data(), data + header, std::min(size - header, rom.size()));
    }

    static Drovask::Board* board = nullptr; // 64 KiB of memory: kept off the stack
    delete board;
    board = new Drovask::Board(Drovask::Rom{rom});

    // The timer fires every `interval` steps: the clock advances a fraction of 1/120 s a step.
    const int interval = 1 + settings[0] * 8;
    double now = 0.0;
    std::size_t firing = 0;
    const auto clock = [&] { return now; };
    const auto key_held = [&](char key) {
        const std::uint8_t keys = settings[1 + firing % key_states];
        for (std::size_t k = 0; k < Drovask::input_keys.size(); ++k) {
            if (Drovask::input_keys[k].key == key) {
                return (keys >> k & 1) != 0;
            }
        }
        return false;
    };

    Intel_8080& p = board->processor;
    std::uint16_t expected_vector = 0x0008;
    for (int step = 0; step < steps_per_input; ++step) {
        now += Drovask::interrupt_interval / interval;
        const double last_firing = board->last_interrupt_time;
        const bool enabled = p.interrupts_enabled;
        const std::uint8_t opcode = p.memory[p.pc];
        try {
            board->step(clock, key_held);
        } catch (const Tavrin::Exception& error) {
            check(is_unimplemented_message(error.message), "an unexpected exception");
            break;
        }
        if (board->last_interrupt_time != last_firing) {
            ++firing;
            // EI and DI take effect at once, so the instruction just run decides.
            const bool delivered = opcode == opcodes::ei || (enabled && opcode != opcodes::di);
            if (delivered) {
                check(p.pc == expected_vector && !p.interrupts_enabled,
                      "an interrupt did not land on its vector");
                expected_vector = expected_vector == 0x0008 ? 0x0010 : 0x0008;
            }
        }
        check((board->input & ~Drovask::input_key_bits) == 0,
              "the input port holds a bit of no key");
        check(board->shift_amount < 8, "a shift amount of 8 or more");
        check(p.writable_start == Drovask::writable_start &&
                  p.writable_end == Drovask::writable_end && p.video_start == Drovask::video_start,
              "the memory map moved");
    }

    static Drovask::Screen screen;
    Drovask::convert_screen(p, screen);
    check(std::all_of(screen.begin(), screen.end(),
                      [](std::uint8_t v) { return v == 0 || v == 255; }),
          "a pixel neither dark nor lit");
    return 0;
}
