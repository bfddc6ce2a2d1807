// The message function, driven with Win32 message values on a real (hidden) window.

#include "tests/renderer/gl_test_window.hpp"
#include "window/messages.hpp"
#include "window/platform.hpp"
#include "window/window.hpp"

#include <gtest/gtest.h>

#include <GL/glew.h>

#include <array>

namespace Tavrin::testing {
namespace {

using namespace messages;

class Window_Procedure : public ::testing::Test {
protected:
    void SetUp() override { window = make_window("Window procedure test", {300, 200}); }

    std::optional<std::intptr_t> send(std::uint32_t message, std::uintptr_t w_param = 0) {
        return window->window_procedure(message, w_param, 0);
    }

    bool pressed(std::size_t index) const { return window->key_pressed[index].load(); }
    bool held(std::size_t index) const { return window->key_held[index].load(); }
    void clear_pressed() {
        for (auto& flag : window->key_pressed) {
            flag.store(false);
        }
    }
    int flags_set() const {
        int count = 0;
        for (std::size_t i = 0; i < key_count; ++i) {
            count += int{pressed(i)} + int{held(i)};
        }
        return count;
    }

    std::unique_ptr<Window> window;
};

TEST_F(Window_Procedure, KeyIsPressedOnlyByItsFirstKeyDownAndHeldUntilItsKeyUp) {
    EXPECT_EQ(send(wm_keydown, 'C'), 0);
    EXPECT_TRUE(pressed('C'));
    EXPECT_TRUE(held('C'));

    clear_pressed();       // as the next update does
    send(wm_keydown, 'C'); // auto-repeat
    EXPECT_FALSE(pressed('C'));
    EXPECT_TRUE(held('C'));

    send(wm_keydown, vk_escape);
    EXPECT_EQ(send(wm_keyup, 'C'), 0);
    EXPECT_FALSE(held('C'));
    EXPECT_TRUE(held(vk_escape));
    EXPECT_TRUE(pressed(vk_escape));

    send(wm_keydown, 'C');
    EXPECT_TRUE(pressed('C'));
}

TEST_F(Window_Procedure, ButtonDownIsPressedAgainEvenWhileHeld) {
    const std::array<std::pair<std::uint32_t, std::size_t>, 3> buttons{
        {{wm_lbuttondown, 513}, {wm_rbuttondown, 516}, {wm_mbuttondown, 519}}};
    for (const auto& [down, index] : buttons) {
        EXPECT_EQ(send(down), 0);
        EXPECT_TRUE(pressed(index));
        EXPECT_TRUE(held(index));
        clear_pressed();
        send(down);
        EXPECT_TRUE(pressed(index)) << index;
        EXPECT_EQ(send(down + 1), 0);
        EXPECT_FALSE(held(index)) << index;
        EXPECT_TRUE(pressed(index));
    }
    clear_pressed();
    EXPECT_EQ(flags_set(), 0);
}

TEST_F(Window_Procedure, WheelCountsWholeNotches) {
    const auto wheel = [](std::int16_t delta) {
        return static_cast<std::uintptr_t>(static_cast<std::uint16_t>(delta)) << 16;
    };
    send(wm_mousewheel, wheel(240));
    EXPECT_EQ(window->scroll, 2);
    send(wm_mousewheel, wheel(-120));
    EXPECT_EQ(window->scroll, 1);
    send(wm_mousewheel, wheel(60));
    EXPECT_EQ(window->scroll, 1);
    send(wm_mousewheel, wheel(-60));
    EXPECT_EQ(window->scroll, 1);
    send(wm_mousewheel, wheel(-360) | 0x1234); // the low word holds key states only
    EXPECT_EQ(window->scroll, -2);
}

TEST_F(Window_Procedure, KeyCodesBeyondTheKeysWriteNoFlag) {
    for (const std::uintptr_t code :
         {std::uintptr_t{256}, std::uintptr_t{513}, std::uintptr_t{519}, std::uintptr_t{520},
          std::uintptr_t{1000}, ~std::uintptr_t{0}}) {
        EXPECT_EQ(send(wm_keydown, code), 0);
        EXPECT_EQ(send(wm_keyup, code), 0);
    }
    EXPECT_EQ(flags_set(), 0);
    send(wm_lbuttondown);
    send(wm_keyup, 513);
    EXPECT_TRUE(held(513)); // a key message never reaches the buttons' flags
}

TEST_F(Window_Procedure, CloseOnlyClearsOpen) {
    EXPECT_EQ(send(wm_close), 0);
    EXPECT_FALSE(window->open.load());
    ASSERT_NE(*window->native_window, nullptr);
    EXPECT_EQ(platform::window_rectangle(*window).right, 400);
}

TEST_F(Window_Procedure, FocusMessagesFollowTheFocus) {
    send(wm_killfocus);
    EXPECT_FALSE(window->focused);
    send(wm_capturechanged);
    EXPECT_FALSE(window->focused);
    send(wm_setfocus);
    EXPECT_TRUE(window->focused);
}

// The key-ups of keys held while the focus leaves go to another window, so none may stay held;
// a button's release still comes to the window it was pressed in.
TEST_F(Window_Procedure, LosingTheFocusReleasesEveryKeyButNotTheButtons) {
    for (const std::uintptr_t code : {std::uintptr_t{'D'}, std::uintptr_t{vk_control},
                                      std::uintptr_t{vk_left}, std::uintptr_t{vk_gamepad_a}}) {
        send(wm_keydown, code);
    }
    send(wm_lbuttondown);
    clear_pressed();
    send(wm_killfocus);
    EXPECT_TRUE(held(left_button));
    EXPECT_EQ(flags_set(), 1);
    send(wm_setfocus);
    send(wm_keydown, 'D'); // a new press, not an auto-repeat of the one before
    EXPECT_TRUE(pressed('D'));
    EXPECT_TRUE(held('D'));
}

// The window knows nothing of the machine's keys: the arrows, Space and a gamepad's controls
// hold their own flags and no other (the hosts read the machine's keys through Key_Map).
TEST_F(Window_Procedure, EveryKeyHoldsItsOwnFlagOnly) {
    for (const std::uint32_t code :
         {vk_left, vk_right, vk_space, vk_gamepad_dpad_left, vk_gamepad_left_thumbstick_left,
          vk_gamepad_dpad_right, vk_gamepad_left_thumbstick_right, vk_gamepad_a, vk_gamepad_menu,
          vk_gamepad_view}) {
        send(wm_keydown, code);
        EXPECT_TRUE(pressed(code));
        EXPECT_TRUE(held(code));
        EXPECT_EQ(flags_set(), 2) << code;
        send(wm_keyup, code);
        clear_pressed();
        EXPECT_EQ(flags_set(), 0) << code;
    }
}

TEST_F(Window_Procedure, MoveAndSizeComeFromTheWindowRectangle) {
    platform::move_window(*window, {123, 45}, {320, 240});
    EXPECT_EQ(window->position, (Vector2i{123, 45}));
    EXPECT_EQ(window->size, (Vector2i{320, 240}));
    EXPECT_EQ(window->projection, Matrix4::orthographic(320.0f, 240.0f));
    std::array<GLint, 4> viewport{};
    glGetIntegerv(GL_VIEWPORT, viewport.data());
    EXPECT_EQ(viewport, (std::array<GLint, 4>{0, 0, 320, 240}));

    // The message parameters mean nothing: the rectangle is read again.
    window->position = {};
    window->size = {};
    EXPECT_EQ(send(wm_move, 0xFFFFFFFF), 0);
    EXPECT_EQ(send(wm_size, 0xFFFFFFFF), 0);
    EXPECT_EQ(window->position, (Vector2i{123, 45}));
    EXPECT_EQ(window->size, (Vector2i{320, 240}));
}

TEST_F(Window_Procedure, SizeOfAWindowOffTheScreenIsIgnored) {
    // A minimised window's rectangle lies far up and to the left.
    platform::move_window(*window, {-32000, -32000}, {160, 120});
    EXPECT_EQ(window->position, (Vector2i{-32000, -32000}));
    EXPECT_EQ(window->size, (Vector2i{300, 200}));
    EXPECT_EQ(window->projection, Matrix4::orthographic(300.0f, 200.0f));
    std::array<GLint, 4> viewport{};
    glGetIntegerv(GL_VIEWPORT, viewport.data());
    EXPECT_EQ(viewport, (std::array<GLint, 4>{0, 0, 300, 200}));
}

TEST_F(Window_Procedure, OtherMessagesAndUnknownWindowsGetTheDefaultHandling) {
    EXPECT_EQ(send(0x000F), std::nullopt); // WM_PAINT
    EXPECT_EQ(send(wm_mousemove), std::nullopt);
    EXPECT_EQ(send(wm_syskeydown, 'A'), std::nullopt);
    EXPECT_EQ(handle_message(nullptr, wm_close, 0, 0), std::nullopt);
    EXPECT_EQ(handle_message(nullptr, wm_keydown, 'C', 0), std::nullopt);
    EXPECT_TRUE(window->open.load());
    EXPECT_EQ(flags_set(), 0);
    EXPECT_EQ(handle_message(window.get(), wm_close, 0, 0), 0);
    EXPECT_FALSE(window->open.load());
}

TEST_F(Window_Procedure, CommandAnswersOneOnlyForThreeSystemCommands) {
    EXPECT_EQ(send(wm_command, sc_maximize), 1);
    EXPECT_EQ(send(wm_command, sc_close), 1);
    EXPECT_EQ(send(wm_command, sc_restore), 1);
    EXPECT_EQ(send(wm_command, (1u << 16) | sc_close), 0);
    EXPECT_EQ(send(wm_command, 0xF020), 0);
    EXPECT_TRUE(window->open.load());
}

TEST(Window_Construction, StartsAtTheScreenCentreWithItsSizeAndState) {
    const Vector2i screen = Window::get_screen_size();
    EXPECT_GT(screen.x, 0);
    Window window("Construction test", {448, 512}, test_clear_color, test_cursor_color, {130, 130});
    EXPECT_EQ(window.position, (Vector2i{screen.x / 2 - 224, screen.y / 2 - 256}));
    EXPECT_EQ(window.size, (Vector2i{448, 512}));
    EXPECT_EQ(window.minimum_size, (Vector2i{130, 130}));
    EXPECT_EQ(window.projection, Matrix4::orthographic(448.0f, 512.0f));
    EXPECT_TRUE(window.open.load());
    EXPECT_TRUE(window.focused);
    EXPECT_FALSE(window.shown);
    EXPECT_FALSE(window.resizable);
    EXPECT_EQ(window.clear_color, test_clear_color);
    EXPECT_NE(window.gl_context, nullptr);
    // The context compiles the renderer's shaders and GLEW has its entry points.
    EXPECT_NE(glCreateProgram, nullptr);
    EXPECT_EQ(Window::get_screen_size(), screen);
}

} // namespace
} // namespace Tavrin::testing
