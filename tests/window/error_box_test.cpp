// The error box: shown from the main thread, also for an error handed over from another thread,
// found on the X server, centred, dismissed with the keyboard.

#include "window/platform.hpp"
#include "window/window.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <thread>

namespace Tavrin {
namespace {

// Runs a command and returns what it printed. The output goes through a file, not a pipe: the
// box's process may be forked off while a pipe is open and would hold its end forever.
std::string run(const std::string& command) {
    const std::string file = ::testing::TempDir() + "error_box_command_output";
    if (std::system((command + " > " + file + " 2>/dev/null").c_str()) == -1) {
        return {};
    }
    std::ifstream stream(file);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

struct Box {
    std::string id;
    int width;
    int height;
    int x;
    int y;
};

// The box as the X server lists it (its title is a UTF-8 property, which xwininfo reads).
std::optional<Box> find_box() {
    const std::string tree = run("xwininfo -root -tree");
    static const std::regex line(
        R"re((0x[0-9a-f]+) "Tavrin Mirellon Error": \(.*\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
    std::smatch match;
    if (!std::regex_search(tree, match, line)) {
        return std::nullopt;
    }
    return Box{match[1], std::stoi(match[2]), std::stoi(match[3]), std::stoi(match[4]),
               std::stoi(match[5])};
}

bool centred(const Box& box) {
    const Vector2i screen = Window::get_screen_size();
    return box.x == screen.x / 2 - box.width / 2 && box.y == screen.y / 2 - box.height / 2;
}

// Runs `show`, which shows an error box and blocks until it is dismissed, on this thread, as the
// program's main thread does. Meanwhile another thread waits until the box is centred and
// presses Return in it. Returns the box as that thread saw it.
template <typename Show>
std::optional<Box> show_and_dismiss(Show show) {
    // The program reads the screen size when it builds the window, before any box.
    Window::get_screen_size();
    std::optional<Box> box;
    std::atomic<bool> dismissed{false};
    std::thread user([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            box = find_box();
            if (box && centred(*box)) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // A key that arrives before the box has taken the focus is lost: press until it goes.
        for (int attempt = 0; box && attempt < 50 && !dismissed.load(); ++attempt) {
            run("xdotool windowfocus " + box->id + " key Return");
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    show();
    dismissed.store(true);
    user.join();
    return box;
}

TEST(Error_Box, IsCentredOnTheScreenShowsItsLinesAndBlocksUntilDismissed) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "no X display: run under scripts/with-display";
    }
    const std::optional<Box> one_line = show_and_dismiss([] { show_error("One line."); });
    ASSERT_TRUE(one_line.has_value()) << "no box titled \"Tavrin Mirellon Error\" appeared";
    EXPECT_TRUE(centred(*one_line))
        << one_line->width << "x" << one_line->height << "+" << one_line->x << "+" << one_line->y;
    EXPECT_FALSE(find_box().has_value());

    const std::optional<Box> three_lines = show_and_dismiss(
        [] { show_error("Could not compile an OpenGL shader.\n\n0:4(2): error: no function"); });
    ASSERT_TRUE(three_lines.has_value());
    EXPECT_TRUE(centred(*three_lines));
    EXPECT_GT(three_lines->height, one_line->height); // the line breaks are kept
}

// The emulation thread's way out: where the box belongs to the main thread, the thread only hands
// the message over and ends; the main thread shows it after the join, and only once.
TEST(Error_Box, AnErrorFromAnotherThreadIsShownByTheMainThreadAfterTheJoin) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "no X display: run under scripts/with-display";
    }
    if (!platform::error_box_on_main_thread()) {
        GTEST_SKIP() << "this window system shows the box on the thread that met the error";
    }
    Window window("Tavrin Mirellon", {0, 0}, {0.3f, 0.3f, 0.3f, 1.0f},
                  {0.965f, 0.965f, 0.965f, 1.0f}, {130, 130});
    const std::string message =
        "Could not execute instruction \"08\" because it has not been implemented.";
    std::thread emulation([&] { window.close_with_error(message); });
    emulation.join(); // returns without a box: nobody could dismiss one
    EXPECT_FALSE(window.open.load());
    EXPECT_FALSE(find_box().has_value());

    const std::optional<Box> box = show_and_dismiss([&] { window.show_handed_over_error(); });
    ASSERT_TRUE(box.has_value()) << "the main thread showed no box";
    EXPECT_TRUE(centred(*box));

    std::optional<Box> again;
    std::thread watcher([&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        again = find_box();
        if (again) {
            run("xdotool windowfocus " + again->id + " key Return");
        }
    });
    window.show_handed_over_error();
    watcher.join();
    EXPECT_FALSE(again.has_value()) << "the message was shown twice";
}

TEST(Error_Box_Death, WithoutADisplayTheMessageGoesToStandardError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            show_error("Could not execute instruction \"08\" because it has not been implemented.");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "Could not execute instruction \"08\" because");
}

} // namespace
} // namespace Tavrin
