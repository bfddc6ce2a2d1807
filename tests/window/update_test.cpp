// The frame update on a real window: cursor sampling and fade, the drawn cursor, the drag and
// resize gestures, Escape, and showing the window.

#include "renderer/rectangle.hpp"
#include "tests/renderer/gl_test_window.hpp"
#include "window/messages.hpp"
#include "window/platform.hpp"
#include "window/window.hpp"

#include <gtest/gtest.h>

#include "tests/window/x_server.hpp"

namespace Tavrin::testing {
namespace {

class Update : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(x.display, nullptr) << "no X display";
        x.move_pointer(700, 300);
        window = make_window(title, {448, 512}, {100, 100});
    }

    // Updates until the flag is held (input from the X server takes a moment to arrive).
    bool update_until_held(std::size_t index) {
        return repeat_until([&] { window->update(); },
                            [&] { return window->key_held[index].load(); });
    }

    const std::string title = "Update test";
    X_Server x;
    std::unique_ptr<Window> window;
};

TEST_F(Update, FirstCallSamplesTheCursorAndShowsTheWindowAfterItsFrame) {
    EXPECT_FALSE(x.geometry(title).viewable);
    window->cursor_color.alpha = 0.0f;
    EXPECT_TRUE(window->update());
    EXPECT_EQ(window->cursor_position, (Vector2i{700, 300}));
    EXPECT_EQ(window->cursor_delta, (Vector2i{700, 300}));
    EXPECT_EQ(window->relative_cursor_position, (Vector2i{600, 200}));
    EXPECT_EQ(window->previous_cursor_position, (Vector2i{700, 300}));
    EXPECT_EQ(window->cursor_color.alpha, 1.0f);
    EXPECT_TRUE(window->shown);
    EXPECT_TRUE(repeat_until([] {}, [&] { return x.geometry(title).viewable; }));
    EXPECT_GT(window->delta_time, 0.0f);

    x.move_pointer(710, 295);
    window->update();
    EXPECT_EQ(window->cursor_delta, (Vector2i{10, -5}));
    EXPECT_EQ(window->relative_cursor_position, (Vector2i{610, 195}));
}

TEST_F(Update, CursorFadesWhileTheMouseIsStillAndReturnsOnMovementOrAButton) {
    window->update();
    for (int i = 0; i < 3; ++i) {
        const float alpha = window->cursor_color.alpha;
        const float delta_time = window->delta_time;
        window->update();
        EXPECT_EQ(window->cursor_delta, (Vector2i{0, 0}));
        EXPECT_FLOAT_EQ(window->cursor_color.alpha, alpha - delta_time * 0.5f);
        EXPECT_LT(window->cursor_color.alpha, alpha);
    }

    // It may fall below 0 for one call; the next idle call makes it 0.
    window->cursor_color.alpha = 1e-6f;
    window->update();
    EXPECT_LT(window->cursor_color.alpha, 0.0f);
    window->update();
    EXPECT_EQ(window->cursor_color.alpha, 0.0f);
    window->update();
    EXPECT_EQ(window->cursor_color.alpha, 0.0f);

    window->window_procedure(messages::wm_mbuttondown, 0, 0); // the middle button does not count
    window->update();
    EXPECT_EQ(window->cursor_color.alpha, 0.0f);
    window->window_procedure(messages::wm_rbuttondown, 0, 0);
    window->update();
    EXPECT_EQ(window->cursor_color.alpha, 1.0f);
    window->window_procedure(messages::wm_rbuttonup, 0, 0);

    window->cursor_color.alpha = 0.0f;
    x.move_pointer(701, 300);
    window->update();
    EXPECT_EQ(window->cursor_color.alpha, 1.0f);
}

TEST_F(Update, CursorIsDrawnAtThePointerAsAThreeByThreeSquare) {
    x.move_pointer(140, 150); // (40, 50) in the window
    // A held button keeps the cursor opaque while the mouse is still.
    window->window_procedure(messages::wm_lbuttondown, 0, 0);
    window->update();
    window->update(); // the second frame is the first one on the screen
    ASSERT_TRUE(repeat_until([] {}, [&] { return x.geometry(title).viewable; }));
    const std::uint32_t cursor = 0xF6F6F6;     // 0.965 grey
    const std::uint32_t background = 0x4C4C4C; // 0.3 grey
    EXPECT_TRUE(repeat_until([&] { window->update(); },
                             [&] { return x.screen_pixel(140, 150) == cursor; }));
    for (int dy = -1; dy <= 3; ++dy) {
        for (int dx = -1; dx <= 3; ++dx) {
            const bool inside = dx >= 0 && dx < 3 && dy >= 0 && dy < 3;
            EXPECT_EQ(x.screen_pixel(140 + dx, 150 + dy), inside ? cursor : background)
                << dx << ", " << dy;
        }
    }
}

TEST_F(Update, ControlAndLeftButtonDragTheWindowByTheCursorsMovement) {
    x.move_pointer(150, 150);
    window->update();
    x.key(XK_Control_L, true);
    x.button(1, true);
    ASSERT_TRUE(update_until_held(messages::left_button));
    ASSERT_TRUE(update_until_held(messages::vk_control));
    ASSERT_EQ(window->position, (Vector2i{100, 100}));
    const Vector2i relative = window->relative_cursor_position;

    x.move_pointer(155, 147);
    window->update();
    EXPECT_EQ(window->position, (Vector2i{105, 97}));
    const X_Geometry geometry = x.geometry(title);
    EXPECT_EQ(geometry.x, 105);
    EXPECT_EQ(geometry.y, 97);
    EXPECT_EQ(geometry.width, 448);
    EXPECT_EQ(geometry.height, 512);
    window->update();
    EXPECT_EQ(window->relative_cursor_position, relative); // still over the same point

    // Many small steps add up.
    for (int step = 1; step <= 10; ++step) {
        x.move_pointer(155 + 3 * step, 147 + 2 * step);
        window->update();
    }
    EXPECT_EQ(window->position, (Vector2i{135, 117}));
    EXPECT_EQ(x.geometry(title).x, 135);
}

TEST_F(Update, LeftButtonWithoutControlMovesNothing) {
    x.move_pointer(150, 150);
    window->update();
    x.button(1, true);
    ASSERT_TRUE(update_until_held(messages::left_button));
    x.move_pointer(180, 190);
    window->update();
    window->update();
    EXPECT_EQ(window->position, (Vector2i{100, 100}));
    EXPECT_EQ(x.geometry(title).x, 100);
    EXPECT_EQ(x.geometry(title).y, 100);
}

TEST_F(Update, ControlAndRightButtonResizeWithinTheMinimumAndTheScreen) {
    window->resizable = true;
    x.move_pointer(500, 150);
    window->update();
    x.key(XK_Control_L, true);
    x.button(3, true);
    ASSERT_TRUE(update_until_held(messages::right_button));
    ASSERT_TRUE(update_until_held(messages::vk_control));

    x.move_pointer(100, 150); // (-400, 0)
    window->update();
    EXPECT_EQ(window->size, (Vector2i{130, 512}));
    EXPECT_EQ(x.geometry(title).width, 130);
    EXPECT_EQ(window->position, (Vector2i{100, 100}));

    const Vector2i screen = Window::get_screen_size();
    x.move_pointer(screen.x - 1, screen.y - 1); // more than the screen
    window->update();
    EXPECT_EQ(window->size, screen);
    EXPECT_EQ(window->projection,
              Matrix4::orthographic(static_cast<float>(screen.x), static_cast<float>(screen.y)));
}

TEST_F(Update, EscapeGivesExactlyOneMoreFrame) {
    window->update();
    x.key(XK_Escape, true);
    ASSERT_TRUE(update_until_held(messages::vk_escape)); // these calls all return true
    EXPECT_TRUE(window->key_pressed[messages::vk_escape].load());
    EXPECT_TRUE(window->open.load());
    EXPECT_FALSE(window->update());
    EXPECT_FALSE(window->key_pressed[messages::vk_escape].load());
    EXPECT_FALSE(window->update());
}

TEST_F(Update, AClearedOpenFlagEndsTheLoopAtTheNextCall) {
    EXPECT_TRUE(window->update());
    window->open.store(false); // as the emulation thread does after an error
    EXPECT_FALSE(window->update());
}

TEST(Window_Lifetime, WindowReleasesTheSharedCursorObjectsAndASecondWindowWorks) {
    X_Server x;
    ASSERT_NE(x.display, nullptr) << "no X display";
    for (int round = 0; round < 2; ++round) {
        auto window = make_window("Lifetime test", {200, 200}, {300, 300});
        x.move_pointer(350, 350);
        window->window_procedure(messages::wm_lbuttondown, 0, 0); // keeps the cursor opaque
        window->update();
        window->update();
        EXPECT_NE(*Rectangle::program().id, 0u);
        EXPECT_EQ(Rectangle::shared_context(), window->gl_context);
        EXPECT_TRUE(repeat_until([&] { window->update(); },
                                 [&] { return x.screen_pixel(350, 350) == 0xF6F6F6; }))
            << "round " << round;
        window.reset();
        EXPECT_EQ(*Rectangle::program().id, 0u);
        EXPECT_EQ(Rectangle::shared_context(), nullptr);
    }
}

} // namespace
} // namespace Tavrin::testing
