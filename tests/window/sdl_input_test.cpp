// The native layer's events reach the message function as Win32 messages: real X input through
// XTest, into a shown window.

#include "tests/renderer/gl_test_window.hpp"
#include "window/messages.hpp"
#include "window/platform.hpp"
#include "window/window.hpp"

#include <SDL.h>
#include <gtest/gtest.h>

#include "tests/window/x_server.hpp"

namespace Tavrin::testing {
namespace {

class Native_Input : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(x.display, nullptr) << "no X display";
        x.move_pointer(200, 200); // over the window
        window = make_window(title, {300, 200}, {100, 100});
        window->update(); // shows the window and gives it the focus
        ASSERT_TRUE(repeat_until([&] { platform::pump_messages(*window); },
                                 [&] { return x.geometry(title).viewable; }));
    }

    bool held(std::size_t index) const { return window->key_held[index].load(); }

    // Pumps until the flag reaches `value`.
    bool wait_for_held(std::size_t index, bool value) {
        return repeat_until([&] { platform::pump_messages(*window); },
                            [&] { return held(index) == value; });
    }

    int held_count() const {
        int count = 0;
        for (const auto& flag : window->key_held) {
            count += int{flag.load()};
        }
        return count;
    }

    // Some time for events that should not arrive.
    void pump_a_while() {
        for (int i = 0; i < 20; ++i) {
            platform::pump_messages(*window);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    const std::string title = "Native input test";
    X_Server x;
    std::unique_ptr<Window> window;
};

TEST_F(Native_Input, KeysArriveAsVirtualKeyCodes) {
    const std::vector<std::pair<KeySym, std::size_t>> keys{
        {XK_c, 'C'},          {XK_z, 'Z'},          {XK_0, '0'},        {XK_9, '9'},
        {XK_Control_L, 0x11}, {XK_Control_R, 0x11}, {XK_Shift_L, 0x10}, {XK_Shift_R, 0x10},
        {XK_Escape, 0x1B},    {XK_space, 0x20},     {XK_Return, 0x0D},  {XK_Left, 0x25},
        {XK_Up, 0x26},        {XK_Right, 0x27},     {XK_Down, 0x28},    {XK_F1, 0x70},
        {XK_F12, 0x7B}};
    for (const auto& [key, code] : keys) {
        x.key(key, true);
        EXPECT_TRUE(wait_for_held(code, true)) << "key " << XKeysymToString(key);
        EXPECT_TRUE(window->key_pressed[code].load());
        x.key(key, false);
        EXPECT_TRUE(wait_for_held(code, false)) << "key " << XKeysymToString(key);
    }
}

TEST_F(Native_Input, KeysWithoutACodeAndSystemKeysSetNoFlag) {
    x.tap(XK_Home);
    x.tap(XK_F10); // a system key, as on Win32
    x.key(XK_Alt_L, true);
    x.tap(XK_a); // with Alt: a system key
    x.key(XK_Alt_L, false);
    pump_a_while();
    EXPECT_EQ(held_count(), 0);
    for (const auto& flag : window->key_pressed) {
        EXPECT_FALSE(flag.load());
    }
    // Input still arrives afterwards.
    x.key(XK_a, true);
    EXPECT_TRUE(wait_for_held('A', true));
}

TEST_F(Native_Input, MouseButtonsAndWheelArrive) {
    for (const auto& [button, index] :
         std::vector<std::pair<unsigned, std::size_t>>{{1, messages::left_button},
                                                       {3, messages::right_button},
                                                       {2, messages::middle_button}}) {
        x.button(button, true);
        EXPECT_TRUE(wait_for_held(index, true)) << "button " << button;
        x.button(button, false);
        EXPECT_TRUE(wait_for_held(index, false)) << "button " << button;
    }
    x.button(4, true); // one notch away from the user
    x.button(4, false);
    EXPECT_TRUE(repeat_until([&] { platform::pump_messages(*window); },
                             [&] { return window->scroll == 1; }));
    x.button(5, true);
    x.button(5, false);
    x.button(5, true);
    x.button(5, false);
    EXPECT_TRUE(repeat_until([&] { platform::pump_messages(*window); },
                             [&] { return window->scroll == -1; }));
}

TEST_F(Native_Input, ButtonReleasedOutsideTheWindowStillReachesIt) {
    x.button(1, true);
    ASSERT_TRUE(wait_for_held(messages::left_button, true));
    x.move_pointer(900, 700); // far outside the window
    x.button(1, false);
    EXPECT_TRUE(wait_for_held(messages::left_button, false));
}

TEST_F(Native_Input, CloseRequestEndsTheUpdateThatReceivesIt) {
    x.request_close(title);
    bool open = true;
    ASSERT_TRUE(repeat_until([&] { open = window->update(); }, [&] { return !open; }));
    EXPECT_FALSE(window->open.load());
    EXPECT_TRUE(x.geometry(title).viewable); // the window stays until it is hidden or destroyed
}

TEST_F(Native_Input, HidingAndDestroyingTakeTheWindowOffTheScreen) {
    platform::show_window(*window, false);
    EXPECT_TRUE(repeat_until([] {}, [&] { return !x.geometry(title).viewable; }));
    window.reset();
    EXPECT_TRUE(repeat_until([] {}, [&] { return !x.geometry(title).found; }));
}

// A window with gamepads reports a game controller's controls as the Windows names of the
// gamepad's keys (which Key_Map turns into the machine's keys): SDL's virtual controller, whose
// buttons and axes are numbered as SDL's controller buttons and axes.
TEST(Native_Gamepad, ButtonsAndTheLeftStickHoldTheirKeys) {
    X_Server x;
    ASSERT_NE(x.display, nullptr) << "no X display";
    turn_on_gamepads();
    const std::string title = "Gamepad test";
    x.move_pointer(200, 200);
    const auto window = make_window(title, {300, 200}, {100, 100});
    window->update(); // shows the window and gives it the focus, which controllers report to
    ASSERT_TRUE(repeat_until([&] { platform::pump_messages(*window); },
                             [&] { return x.geometry(title).viewable; }));
    const int index = SDL_JoystickAttachVirtual(
        SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX, SDL_CONTROLLER_BUTTON_MAX, 0);
    ASSERT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* const pad = SDL_JoystickOpen(index);
    ASSERT_NE(pad, nullptr) << SDL_GetError();
    // The window opens a controller when it hears of its arrival.
    ASSERT_TRUE(repeat_until(
        [&] { platform::pump_messages(*window); },
        [&] { return SDL_GameControllerFromInstanceID(SDL_JoystickInstanceID(pad)) != nullptr; }));
    const auto wait_for_held = [&](std::uint32_t key, bool value) {
        return repeat_until([&] { platform::pump_messages(*window); },
                            [&] { return window->key_held[key].load() == value; });
    };
    using namespace messages;
    const std::vector<std::pair<int, std::uint32_t>> buttons{
        {SDL_CONTROLLER_BUTTON_A, vk_gamepad_a},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, vk_gamepad_dpad_left},
        {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, vk_gamepad_dpad_right},
        {SDL_CONTROLLER_BUTTON_START, vk_gamepad_menu},
        {SDL_CONTROLLER_BUTTON_BACK, vk_gamepad_view}};
    for (const auto& [button, key] : buttons) {
        SDL_JoystickSetVirtualButton(pad, button, SDL_PRESSED);
        EXPECT_TRUE(wait_for_held(key, true)) << "button " << button;
        SDL_JoystickSetVirtualButton(pad, button, SDL_RELEASED);
        EXPECT_TRUE(wait_for_held(key, false)) << "button " << button;
    }
    const std::vector<std::pair<std::int16_t, std::uint32_t>> leans{
        {-32768, vk_gamepad_left_thumbstick_left}, {32767, vk_gamepad_left_thumbstick_right}};
    for (const auto& [value, key] : leans) {
        SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, value);
        EXPECT_TRUE(wait_for_held(key, true)) << "stick at " << value;
        SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, 8000); // within half way
        EXPECT_TRUE(wait_for_held(key, false)) << "stick back from " << value;
    }
    SDL_JoystickClose(pad);
    SDL_JoystickDetachVirtual(index);
}

} // namespace
} // namespace Tavrin::testing
