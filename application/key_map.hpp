#pragma once

// Which of the machine's keys are down, as drovask-play and the page read them from the window's
// keys: each machine key (a letter of Drovask::input_keys) is played by its own letter and by
// the keys of `aliases` (the arrows left and right, Space, a gamepad's controls, as the window
// reports them in window/messages.hpp), and is down while any of them is down. The window
// reports every key as itself and knows nothing of the machine; tavrin-mirellon's emulation
// thread reads the window's letters alone.
//
//     const std::uint8_t keys = Key_Map::held_or_pressed(window); // bits of Drovask::input_keys
//     machine.run_frame(keys);
//     Key_Map::machine_keys([&](std::uint32_t code) { return down.contains(code); }); // any source

#include "machine/board.hpp"
#include "window/messages.hpp"

#include <array>
#include <cstdint>

namespace Tavrin {
class Window;
}

namespace Key_Map {

// A key that plays one of the machine's keys besides its letter.
struct Alias {
    std::uint32_t code; // a virtual-key code, as the window reports it
    char machine_key;   // one of Drovask::input_keys
};

inline constexpr std::array<Alias, 10> aliases{{
    {Tavrin::messages::vk_left, 'A'},
    {Tavrin::messages::vk_right, 'D'},
    {Tavrin::messages::vk_space, 'S'},
    {Tavrin::messages::vk_gamepad_dpad_left, 'A'},
    {Tavrin::messages::vk_gamepad_left_thumbstick_left, 'A'},
    {Tavrin::messages::vk_gamepad_dpad_right, 'D'},
    {Tavrin::messages::vk_gamepad_left_thumbstick_right, 'D'},
    {Tavrin::messages::vk_gamepad_a, 'S'},
    {Tavrin::messages::vk_gamepad_menu, 'Q'},
    {Tavrin::messages::vk_gamepad_view, 'C'},
}};

static_assert(
    [] {
        for (const Alias& alias : aliases) {
            bool is_machine_key = false;
            for (const Drovask::Input_Key& key : Drovask::input_keys) {
                is_machine_key = is_machine_key || key.key == alias.machine_key;
                if (alias.code == static_cast<std::uint32_t>(key.key)) {
                    return false; // a letter plays its own key only
                }
            }
            if (!is_machine_key) {
                return false;
            }
        }
        return true;
    }(),
    "an alias plays one of the machine's keys and is none of their letters");

// The machine's keys (bits of Drovask::input_keys) that have their letter or an alias down, as
// `down(code)` tells for a virtual-key code.
template <class Down>
constexpr std::uint8_t machine_keys(Down down) {
    std::uint8_t keys = 0;
    for (const Drovask::Input_Key& key : Drovask::input_keys) {
        bool key_down = down(static_cast<std::uint32_t>(key.key));
        for (const Alias& alias : aliases) {
            key_down = key_down || (alias.machine_key == key.key && down(alias.code));
        }
        if (key_down) {
            keys = static_cast<std::uint8_t>(keys | key.bit);
        }
    }
    return keys;
}

// The machine's keys held in `window` now.
std::uint8_t held(const Tavrin::Window& window);

// The machine's keys held in `window` now or pressed since its last update, so that a key
// pressed and released between two frames still counts.
std::uint8_t held_or_pressed(const Tavrin::Window& window);

} // namespace Key_Map
