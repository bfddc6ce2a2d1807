#pragma once

// The arcade machine's board without its screen: the processor with the ROM in its memory map,
// the input and output ports, the shift register, the interrupt timer and the key sampling. It
// needs no window and no OpenGL; the caller supplies the clock and the keys.
//
//     Drovask::Board board(rom);
//     board.step(read_clock, key_held); // read_clock() -> seconds, key_held('C') -> bool
//
// `step` is what the windowed machine runs. A caller with a clock of its own (a deterministic
// runner, a fuzzer) can instead call `execute_instruction` and, whenever its timer fires,
// `fire_timer`: `step` is exactly those two.

#include "processor/intel_8080.hpp"
#include "processor/opcodes.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace Drovask {

// Size in pixels of the upright picture: video memory holds 224 lines of 256 pixels, and each
// line becomes one column.
struct Screen_Size {
    std::uint32_t width;
    std::uint32_t height;
};
inline constexpr Screen_Size screen_size{224, 256};

inline constexpr std::size_t rom_size = 8192;
using Rom = std::span<const std::uint8_t, rom_size>;

using Screen = std::array<std::uint8_t, screen_size.width * screen_size.height>;

// Turns the video memory of `processor` (224 lines of 256 one-bit pixels from video_start) a
// quarter turn counter-clockwise into the upright picture: line x becomes column x, pixel p of a
// line becomes row 255 - p; lit pixels are 255, dark ones 0. Every byte of `screen` is written.
// Reads the video bytes with relaxed atomic loads, so it may run while another thread executes.
void convert_screen(const Intel_8080& processor, Screen& screen);

// The memory map: the ROM below RAM, working RAM, then video memory up to the end of RAM.
inline constexpr std::uint16_t writable_start = 0x2000;
inline constexpr std::uint16_t video_start = 0x2400;
inline constexpr std::uint16_t writable_end = 0x3FFF;

inline constexpr double interrupt_interval = 0.008333333333333333; // 1/120 s

// The machine's keys: each is sampled into one bit of input port 1 (virtual-key codes, which
// for letters are the capitals), in the order in which they are refreshed. This table is the
// one list of the keys: the fuzzer's mask and drovask-run's help are made from it, and tests
// hold the README's controls and the soak test's keys to it.
struct Input_Key {
    char key;
    std::uint8_t bit;
    std::string_view label; // what the key does, as the help and the README name it
};
inline constexpr std::array<Input_Key, 6> input_keys{{
    {'C', 0x01, "coin"},
    {'Q', 0x04, "one-player start"},
    {'E', 0x02, "two-player start"},
    {'A', 0x20, "left"},
    {'D', 0x40, "right"},
    {'S', 0x10, "fire"},
}};

// The machine's keys as the help and the messages name them, "C (coin), Q (one-player start),
// ...", broken after a comma into lines of at most `width` characters, each starting with
// `indent`.
std::string machine_keys_text(std::size_t width = std::string::npos, std::string_view indent = {});

// The bits of input port 1 that keys set; the others stay as they are.
inline constexpr std::uint8_t input_key_bits = [] {
    std::uint8_t bits = 0;
    for (const Input_Key& key : input_keys) {
        bits = static_cast<std::uint8_t>(bits | key.bit);
    }
    return bits;
}();
static_assert(
    [] {
        for (const Input_Key& key : input_keys) {
            if (!std::has_single_bit(key.bit)) {
                return false;
            }
        }
        return true;
    }(),
    "a key sets one bit");
static_assert(static_cast<std::size_t>(std::popcount(input_key_bits)) == input_keys.size(),
              "each key has a bit of its own");

// The machine's ports, each named once here: what IN from a port or OUT to it does. IN or OUT on
// any other port does nothing; the board's IN and OUT and the checks below both read these.
enum class Input_Port : std::uint8_t {
    none,
    one,          // IN 0: always 1
    keys,         // IN 1: the keys' bits, `input`
    shift_result, // IN 3: bits 15-n to 8-n of the shift register
};
enum class Output_Port : std::uint8_t {
    none,
    shift_amount, // OUT 2: n = A AND 7
    shift_data,   // OUT 4: shifts A in from the top
};

constexpr Input_Port input_port(std::uint8_t port) {
    switch (port) {
    case 0:
        return Input_Port::one;
    case 1:
        return Input_Port::keys;
    case 3:
        return Input_Port::shift_result;
    default:
        return Input_Port::none;
    }
}

constexpr Output_Port output_port(std::uint8_t port) {
    switch (port) {
    case 2:
        return Output_Port::shift_amount;
    case 4:
        return Output_Port::shift_data;
    default:
        return Output_Port::none;
    }
}

// The ports that the machine answers.
constexpr bool is_input_port(std::uint8_t port) {
    return input_port(port) != Input_Port::none;
}
constexpr bool is_output_port(std::uint8_t port) {
    return output_port(port) != Output_Port::none;
}

// The clock that counts instructions, on which the headless runner and the browser's test
// interface run the machine, so that a ROM and a sequence of keys give the same pictures on
// every computer: the timer fires after every `instructions_per_interrupt` instructions, twice a
// frame (1/60 s). An 8080 at 2 MHz runs 2,000,000 / 120 = 16,667 cycles between two interrupts;
// the demo game averages 8.6 cycles an instruction (its instruction mix measured over attract
// mode and a played game), so 16,667 / 8.6 = 1,938 instructions.
inline constexpr std::uint32_t default_instructions_per_interrupt = 1938;
inline constexpr int interrupts_per_frame = 2;

// One frame on that clock: twice, `run(instructions_per_interrupt)` and then `interrupt()`,
// ending early once `stopped()` (a breakpoint met, for one) says so.
struct Never_Stopped {
    constexpr bool operator()() const { return false; }
};
template <typename Run, typename Interrupt, typename Stopped = Never_Stopped>
void counted_frame(std::uint32_t instructions_per_interrupt, Run&& run, Interrupt&& interrupt,
                   Stopped&& stopped = {}) {
    for (int i = 0; i < interrupts_per_frame && !stopped(); ++i) {
        run(instructions_per_interrupt);
        interrupt();
    }
}

class Board {
public:
    // The ROM at 0000H, every other byte 0, the processor at its start-up state.
    explicit Board(Rom rom);

    // One instruction: IN and OUT here, every other one through the processor's `execute`.
    // Throws Tavrin::Exception for an instruction that is not implemented. `observe` hears of
    // each store (see Store_Observer); a caller that passes one of its own includes
    // processor/execute.hpp.
    template <Store_Observer Observer = No_Store_Observer>
    void execute_instruction(Observer observe = {});

    // `count` instructions with no timer between them.
    void run(std::uint64_t count) {
        for (std::uint64_t i = 0; i < count; ++i) {
            execute_instruction();
        }
    }

    // One firing of the interrupt timer: `input` is refreshed from `key_held(key)` for each of
    // `input_keys`, then, if the program has interrupts enabled, the next interrupt is
    // delivered (0008H and 0010H alternately), its two pushed bytes told to `observe`. A firing
    // with interrupts disabled is dropped.
    template <typename Key_Held, Store_Observer Observer = No_Store_Observer>
    void fire_timer(Key_Held&& key_held, Observer observe = {});

    // One instruction, then the timer: fires once `read_clock()` (seconds) is at least 1/120 s
    // past `last_interrupt_time`, which then becomes a fresh reading. The clock is read once per
    // call, twice when the timer fires.
    template <typename Clock, typename Key_Held>
    void step(Clock&& read_clock, Key_Held&& key_held);

    Intel_8080 processor;
    std::array<std::uint8_t, 2> shift_register{}; // low byte, then high byte
    std::uint8_t shift_amount = 0;
    std::uint8_t input = 0;
    double last_interrupt_time = 0.0;
    std::uint32_t interrupt_number = 1;
};

template <Store_Observer Observer>
void Board::execute_instruction(Observer observe) {
    Intel_8080& p = processor;
    const std::uint8_t opcode = p.memory[p.pc];
    if (opcode == opcodes::in) {
        const std::uint8_t port = p.memory[static_cast<std::uint16_t>(p.pc + 1)];
        switch (input_port(port)) {
        case Input_Port::one:
            p.a = 1;
            break;
        case Input_Port::keys:
            p.a = input;
            break;
        case Input_Port::shift_result: {
            const auto value =
                static_cast<std::uint16_t>(shift_register[1] << 8 | shift_register[0]);
            p.a = static_cast<std::uint8_t>(value >> (8 - shift_amount));
            break;
        }
        case Input_Port::none:
            break;
        }
        p.pc = static_cast<std::uint16_t>(p.pc + 2);
    } else if (opcode == opcodes::out) {
        const std::uint8_t port = p.memory[static_cast<std::uint16_t>(p.pc + 1)];
        switch (output_port(port)) {
        case Output_Port::shift_amount:
            shift_amount = static_cast<std::uint8_t>(p.a & 7);
            break;
        case Output_Port::shift_data:
            shift_register[0] = shift_register[1];
            shift_register[1] = p.a;
            break;
        case Output_Port::none:
            break;
        }
        p.pc = static_cast<std::uint16_t>(p.pc + 2);
    } else if constexpr (std::is_same_v<Observer, No_Store_Observer>) {
        execute(p);
    } else {
        execute(p, observe);
    }
}

template <typename Key_Held, Store_Observer Observer>
void Board::fire_timer(Key_Held&& key_held, Observer observe) {
    for (const Input_Key& k : input_keys) {
        input = static_cast<std::uint8_t>(key_held(k.key) ? input | k.bit : input & ~k.bit);
    }
    Intel_8080& p = processor;
    if (p.interrupts_enabled) {
        push(p, p.sp, p.pc, observe);
        p.pc = static_cast<std::uint16_t>(interrupt_number * 8);
        p.interrupts_enabled = false;
        interrupt_number = interrupt_number == 1 ? 2 : 1;
    }
}

template <typename Clock, typename Key_Held>
void Board::step(Clock&& read_clock, Key_Held&& key_held) {
    execute_instruction();
    if (read_clock() - last_interrupt_time < interrupt_interval) {
        return;
    }
    fire_timer(key_held);
    last_interrupt_time = read_clock();
}

} // namespace Drovask
