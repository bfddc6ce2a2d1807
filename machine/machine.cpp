#include "machine/machine.hpp"

#include "window/clock.hpp"
#include "window/window.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace Drovask {

namespace {

constexpr std::uint8_t in_opcode = 0xDB;
constexpr std::uint8_t out_opcode = 0xD3;
constexpr double interrupt_interval = 0.008333333333333333; // 1/120 s

constexpr std::uint16_t writable_start = 0x2000;
constexpr std::uint16_t video_start = 0x2400;
constexpr std::uint16_t writable_end = 0x3FFF;

// Keys sampled into the input port, in the order in which they are refreshed.
struct Input_Key {
    std::size_t key;
    std::uint8_t bit;
};
constexpr std::array<Input_Key, 6> input_keys{{
    {'C', 0x01}, // coin
    {'Q', 0x04}, // one-player start
    {'E', 0x02}, // two-player start
    {'A', 0x20}, // left
    {'D', 0x40}, // right
    {'S', 0x10}, // fire
}};

// expanded[v] holds eight pixels, byte i lit (255) when bit i of v is set.
constexpr auto expanded = [] {
    std::array<std::array<std::uint8_t, 8>, 256> table{};
    for (std::size_t value = 0; value < 256; ++value) {
        for (std::size_t bit = 0; bit < 8; ++bit) {
            table[value][bit] = (value >> bit & 1) != 0 ? 255 : 0;
        }
    }
    return table;
}();

// Transposes an 8 x 8 bit matrix held in a 64-bit word: bit j of byte i moves to bit i of
// byte j.
constexpr std::uint64_t transpose_bits(std::uint64_t x) {
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    x = x ^ t ^ (t << 28);
    return x;
}

std::uint8_t load_relaxed(const Intel_8080& processor, std::uint32_t address) {
    // The record is never const in fact; the cast only lets the atomic view read it.
    auto& byte = const_cast<std::uint8_t&>(processor.memory[address]);
    return std::atomic_ref<std::uint8_t>(byte).load(std::memory_order_relaxed);
}

} // namespace

void convert_screen(const Intel_8080& processor, Screen& screen) {
    constexpr std::uint32_t width = screen_size.width;   // raster lines
    constexpr std::uint32_t height = screen_size.height; // pixels along a line
    constexpr std::uint32_t bytes_per_line = height / 8;

    // Eight raster lines at a time: the same byte of eight neighbouring lines is an 8 x 8 block
    // of pixels which, transposed, gives eight neighbouring pixels of each of eight rows.
    for (std::uint32_t x = 0; x < width; x += 8) {
        for (std::uint32_t j = 0; j < bytes_per_line; ++j) {
            std::uint64_t block = 0;
            for (std::uint32_t i = 0; i < 8; ++i) {
                const std::uint32_t address = processor.video_start + bytes_per_line * (x + i) + j;
                block |= std::uint64_t{load_relaxed(processor, address)} << (8 * i);
            }
            const std::uint64_t rows = transpose_bits(block);
            for (std::uint32_t bit = 0; bit < 8; ++bit) {
                const std::uint32_t row = height - 1 - (8 * j + bit);
                const auto pixels = static_cast<std::uint8_t>(rows >> (8 * bit));
                std::memcpy(&screen[width * row + x], expanded[pixels].data(), 8);
            }
        }
    }
}

Machine::Machine(Tavrin::Window* shown_in, Rom rom) : scale{2.0f, 2.0f}, window{shown_in} {
    interrupt_number = 1;

    processor.writable_start = writable_start;
    processor.video_start = video_start;
    processor.writable_end = writable_end;
    processor.memory.fill(0);
    std::copy(rom.begin(), rom.end(), processor.memory.begin());

    // The image keeps a pointer to `texture`, which receives the real texture below.
    image = Tavrin::Image(window->draw_target(), &texture,
                          {static_cast<std::int32_t>(scale.x), static_cast<std::int32_t>(scale.y)});
    last_interrupt_time = Tavrin::steady_seconds();
    texture = Tavrin::Texture({static_cast<std::int32_t>(screen_size.width),
                               static_cast<std::int32_t>(screen_size.height)},
                              Tavrin::gl_red, screen.data());
}

void Machine::step() {
    Intel_8080& p = processor;
    const std::uint8_t opcode = p.memory[p.pc];
    if (opcode == in_opcode) {
        const std::uint8_t port = p.memory[static_cast<std::uint16_t>(p.pc + 1)];
        switch (port) {
        case 0:
            p.a = 1;
            break;
        case 1:
            p.a = input;
            break;
        case 3: {
            const auto value =
                static_cast<std::uint16_t>(shift_register[1] << 8 | shift_register[0]);
            p.a = static_cast<std::uint8_t>(value >> (8 - shift_amount));
            break;
        }
        default:
            break;
        }
        p.pc = static_cast<std::uint16_t>(p.pc + 2);
    } else if (opcode == out_opcode) {
        const std::uint8_t port = p.memory[static_cast<std::uint16_t>(p.pc + 1)];
        switch (port) {
        case 2:
            shift_amount = p.a & 7;
            break;
        case 4:
            shift_register[0] = shift_register[1];
            shift_register[1] = p.a;
            break;
        default:
            break;
        }
        p.pc = static_cast<std::uint16_t>(p.pc + 2);
    } else {
        execute(p);
    }

    if (Tavrin::steady_seconds() - last_interrupt_time < interrupt_interval) {
        return;
    }
    for (const auto& [key, bit] : input_keys) {
        const bool held = window->key_held[key].load(std::memory_order_relaxed);
        input = static_cast<std::uint8_t>(held ? input | bit : input & ~bit);
    }
    if (p.interrupts_enabled) {
        push(p, p.pc);
        p.pc = static_cast<std::uint16_t>(interrupt_number * 8);
        p.interrupts_enabled = false;
        interrupt_number = interrupt_number == 1 ? 2 : 1;
    }
    last_interrupt_time = Tavrin::steady_seconds();
}

void Machine::render() {
    convert_screen(processor, screen);
    texture.update(screen.data());
    image.draw();
}

} // namespace Drovask
