#include "machine/machine.hpp"

#include "base/clock.hpp"
#include "window/window.hpp"

namespace Drovask {

Machine::Machine(Tavrin::Window* shown_in, Rom rom)
    : scale{2.0f, 2.0f}, window{shown_in}, session{rom} {
    // The image keeps a pointer to `texture`, which receives the real texture below.
    image = Tavrin::Image(window->draw_target(), &texture,
                          {static_cast<std::int32_t>(scale.x), static_cast<std::int32_t>(scale.y)});
    session.board.last_interrupt_time = Tavrin::steady_seconds();
    real_time.restart(session.board.last_interrupt_time);
    texture = Tavrin::Texture({static_cast<std::int32_t>(screen_size.width),
                               static_cast<std::int32_t>(screen_size.height)},
                              Tavrin::gl_red, screen.data());
}

void Machine::power_on(Rom rom) {
    session = Session(rom);
    session.board.last_interrupt_time = Tavrin::steady_seconds();
    real_time.restart(session.board.last_interrupt_time);
}

void Machine::step() {
    session.board.step(Tavrin::steady_seconds, [this](char key) {
        return window->key_held[static_cast<std::size_t>(key)].load(std::memory_order_relaxed);
    });
}

namespace {

// The machine keys held in `window`, with those pressed since its last update if `pressed`.
std::uint8_t keys_in(const Tavrin::Window& window, bool pressed) {
    std::uint8_t keys = 0;
    for (const Input_Key& k : input_keys) {
        const auto index = static_cast<std::size_t>(k.key);
        if (window.key_held[index].load(std::memory_order_relaxed) ||
            (pressed && window.key_pressed[index].load(std::memory_order_relaxed))) {
            keys = static_cast<std::uint8_t>(keys | k.bit);
        }
    }
    return keys;
}

} // namespace

void Machine::run_until(double now) {
    for (std::uint32_t due = real_time.due(now, interrupt_interval); due > 0; --due) {
        session.hold_keys(keys_in(*window, true));
        session.run_period();
    }
}

void Machine::run_frames(std::uint32_t count) {
    for (std::uint32_t frame = 0; frame < count; ++frame) {
        session.run_frame(keys_in(*window, false));
    }
}

void Machine::render() {
    convert_screen(session.board.processor, screen);
    texture.update(screen.data());
    image.draw();
}

} // namespace Drovask
