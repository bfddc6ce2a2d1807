#include "machine/machine.hpp"

#include "window/clock.hpp"
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

void Machine::render() {
    convert_screen(board.processor, screen);
    texture.update(screen.data());
    image.draw();
}

} // namespace Drovask
