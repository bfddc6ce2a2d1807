#include "machine/machine.hpp"

#include "base/clock.hpp"
#include "window/window.hpp"

namespace Drovask {

Machine::Machine(Tavrin::Window* shown_in, Rom rom)
    : scale{2.0f, 2.0f}, window{shown_in}, session{rom} {
    session.board.last_interrupt_time = Tavrin::steady_seconds();
    real_time.restart(session.board.last_interrupt_time);
    if (window->gl_context == nullptr) {
        return; // the platform shows `screen` itself
    }
    // The image keeps a pointer to `texture`, which receives the real texture below.
    image = Tavrin::Image(window->draw_target(), &texture,
                          {static_cast<std::int32_t>(scale.x), static_cast<std::int32_t>(scale.y)});
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

void Machine::run_until(double now, std::uint8_t keys) {
    session.hold_keys(keys);
    for (std::uint32_t due = periods_due(now); due > 0; --due) {
        session.run_period();
    }
}

void Machine::render() {
    convert_screen(session.board.processor, screen);
    if (window->gl_context != nullptr) {
        texture.update(screen.data());
        image.draw();
    }
}

} // namespace Drovask
