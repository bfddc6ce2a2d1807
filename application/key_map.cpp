#include "application/key_map.hpp"

#include "window/window.hpp"

namespace Key_Map {

std::uint8_t held(const Tavrin::Window& window) {
    return machine_keys([&window](std::uint32_t code) {
        return window.key_held[code].load(std::memory_order_relaxed);
    });
}

std::uint8_t held_or_pressed(const Tavrin::Window& window) {
    return machine_keys([&window](std::uint32_t code) {
        return window.key_held[code].load(std::memory_order_relaxed) ||
               window.key_pressed[code].load(std::memory_order_relaxed);
    });
}

} // namespace Key_Map
