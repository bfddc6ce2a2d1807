// The key map: which of the machine's keys its letters and aliases hold, on its own and over a
// real (hidden) window driven with Win32 key messages.

#include "application/key_map.hpp"
#include "tests/renderer/gl_test_window.hpp"
#include "window/messages.hpp"
#include "window/window.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string_view>
#include <vector>

namespace {

using namespace Tavrin::messages;

// The bits of the machine keys named by their letters.
std::uint8_t bits(std::string_view letters) {
    std::uint8_t keys = 0;
    for (const Drovask::Input_Key& key : Drovask::input_keys) {
        if (letters.find(key.key) != std::string_view::npos) {
            keys = static_cast<std::uint8_t>(keys | key.bit);
        }
    }
    return keys;
}

TEST(Key_Map, AMachineKeyIsDownWhileItsLetterOrAnyOfItsAliasesIsDown) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> down;
        std::string_view machine_keys;
    };
    const std::vector<Case> cases{
        {"nothing down", {}, ""},
        {"each letter plays its own key", {'C', 'Q', 'E', 'A', 'D', 'S'}, "CQEADS"},
        {"the arrows and Space", {vk_left, vk_right, vk_space}, "ADS"},
        {"the gamepad's d-pad and face button", {vk_gamepad_dpad_left, vk_gamepad_a}, "AS"},
        {"the gamepad's d-pad right", {vk_gamepad_dpad_right}, "D"},
        {"the left stick leaning left", {vk_gamepad_left_thumbstick_left}, "A"},
        {"the left stick leaning right", {vk_gamepad_left_thumbstick_right}, "D"},
        {"the gamepad's start and back", {vk_gamepad_menu, vk_gamepad_view}, "QC"},
        {"a letter and its alias hold one key", {'A', vk_left, vk_gamepad_dpad_left}, "A"},
        {"keys that play none", {'P', 'N', vk_up, vk_down, vk_escape, vk_control, 'B'}, ""},
    };
    for (const Case& c : cases) {
        const std::set<std::uint32_t> down(c.down.begin(), c.down.end());
        EXPECT_EQ(Key_Map::machine_keys([&](std::uint32_t code) { return down.contains(code); }),
                  bits(c.machine_keys))
            << c.name;
    }
}

// Over a window: an alias holds its machine key, which stays held while either the alias or the
// letter itself is down; a key pressed and let go before the next update still counts as pressed.
TEST(Key_Map, ReadsTheWindowsKeys) {
    const auto window = Tavrin::testing::make_window("Key map test", {300, 200});
    const auto send = [&](std::uint32_t message, std::uint32_t code) {
        window->window_procedure(message, code, 0);
    };
    for (const Key_Map::Alias& alias : Key_Map::aliases) {
        const std::uint8_t bit = bits(std::string_view(&alias.machine_key, 1));
        const auto letter = static_cast<std::uint32_t>(alias.machine_key);
        send(wm_keydown, alias.code);
        EXPECT_EQ(Key_Map::held(*window), bit) << alias.code;
        send(wm_keydown, letter);
        send(wm_keyup, alias.code);
        EXPECT_EQ(Key_Map::held(*window), bit) << alias.code; // the letter itself is still down
        send(wm_keydown, alias.code);
        send(wm_keyup, letter);
        EXPECT_EQ(Key_Map::held(*window), bit) << alias.code; // and now the alias
        send(wm_keyup, alias.code);
        EXPECT_EQ(Key_Map::held(*window), 0) << alias.code;
        EXPECT_EQ(Key_Map::held_or_pressed(*window), bit) << alias.code;
        window->update(); // clears the pressed flags
        EXPECT_EQ(Key_Map::held_or_pressed(*window), 0) << alias.code;
    }
}

} // namespace
