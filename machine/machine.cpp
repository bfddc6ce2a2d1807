#include "machine/machine.hpp"

#include "base/clock.hpp"
#include "window/window.hpp"

namespace Drovask {

Machine::Machine(Tavrin::Window* shown_in, Rom rom)
    : scale{2.0f, 2.0f}, window{shown_in}, board{rom} {
    // The image keeps a pointer to `texture`, which receives the real texture below.
    image = Tavrin::Image(window->draw_target(), &texture,
                          {static_cast<std::int32_t>(scale.x), static_cast<std::int32_t>(scale.y)});
    board.last_interrupt_time = Tavrin::steady_seconds();
    texture = Tavrin::Texture({static_cast<std::int32_t>(screen_size.width),
                               static_cast<std::int32_t>(screen_size.height)},
                              Tavrin::gl_red, screen.data());
}

void Machine::step() {
    board.step(Tavrin::steady_seconds, [this](char key) {
        return window->key_held[static_cast<std::size_t>(key)].load(std::memory_order_relaxed);
    });
}

std::uint32_t Machine::periods_due(double now, double period) {
    if (now - board.last_interrupt_time > max_catch_up) {
        board.last_interrupt_time = now - max_catch_up;
    }
    // Counted rather than added up interval by interval, which would drift by rounding.
    const auto due = static_cast<std::uint32_t>((now - board.last_interrupt_time) / period);
    board.last_interrupt_time += due * period;
    return due;
}

void Machine::run_until(double now) {
    const auto held_or_pressed = [this](char key) {
        const auto index = static_cast<std::size_t>(key);
        return window->key_held[index].load(std::memory_order_relaxed) ||
               window->key_pressed[index].load(std::memory_order_relaxed);
    };
    const std::uint32_t due = periods_due(now, interrupt_interval);
    for (std::uint32_t period = 0; period < due; ++period) {
        board.run(instructions_per_interrupt);
        board.fire_timer(held_or_pressed);
    }
}

std::uint32_t Machine::frames_due(double now) {
    return periods_due(now, frame_interval);
}

void Machine::run_frame(std::uint8_t keys) {
    const auto down = [keys](char key) {
        for (const Input_Key& k : input_keys) {
            if (k.key == key) {
                return (keys & k.bit) != 0;
            }
        }
        return false;
    };
    counted_frame(
        instructions_per_interrupt, [this](std::uint64_t n) { board.run(n); },
        [&] { board.fire_timer(down); });
}

void Machine::run_frames(std::uint32_t count) {
    for (std::uint32_t frame = 0; frame < count; ++frame) {
        std::uint8_t held = 0;
        for (const Input_Key& k : input_keys) {
            if (window->key_held[static_cast<std::size_t>(k.key)].load(std::memory_order_relaxed)) {
                held = static_cast<std::uint8_t>(held | k.bit);
            }
        }
        run_frame(held);
    }
}

void Machine::render() {
    convert_screen(board.processor, screen);
    texture.update(screen.data());
    image.draw();
}

} // namespace Drovask
