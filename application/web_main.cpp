// The browser's entry point. The page calls `main` once the WebAssembly module has loaded; the
// application then runs one frame per animation frame of the page, and the machine, which has
// no thread of its own here, runs in each frame for the real time that has passed. The page's
// test interface (tavrin_test, in test_interface.js) reaches the machine through the functions
// exported at the end of this file.

#include "application/application.hpp"
#include "base/clock.hpp"
#include "base/exception.hpp"

#include <emscripten/emscripten.h>

#include <memory>

namespace {

// Built once by main and kept until the page goes: the page has one run.
Application* application = nullptr;
bool paused = false;
bool ended = false;
Drovask::Screen picture{};

// The page shows that the emulation has ended, with a way to start again.
EM_JS(void, tell_page_ended, (), {
    if (Module.emulation_ended) {
        Module.emulation_ended();
    }
});

// The emulation is over (Escape, or an error): the page's loop stops and the page says so.
void end_emulation() {
    ended = true;
    emscripten_cancel_main_loop();
    tell_page_ended();
}

// As the emulation thread does on the desktop: the error ends the run and is shown.
void end_with_error(const Tavrin::Exception& exception) {
    application->window.open.store(false, std::memory_order_relaxed);
    Tavrin::show_error(exception.message);
    end_emulation();
}

void animation_frame() {
    try {
        if (!paused) {
            application->machine.run_until(Tavrin::steady_seconds());
        }
        if (!application->frame()) {
            end_emulation();
        }
    } catch (Tavrin::Exception exception) {
        end_with_error(exception);
    }
}

} // namespace

int main() {
    try {
        application = new Application(Drovask::built_in_rom());
    } catch (Tavrin::Exception exception) {
        Tavrin::show_error(exception.message);
        tell_page_ended();
        return 0;
    }
    // At the display's own rate (requestAnimationFrame); main returns, the page runs on.
    emscripten_set_main_loop(animation_frame, 0, false);
    return 0;
}

// The test interface. Each function does nothing once the emulation has ended.
extern "C" {

// The machine from power-on: a fresh board with the same ROM, paused, no key held.
EMSCRIPTEN_KEEPALIVE void tavrin_reset() {
    if (ended) {
        return;
    }
    application->restart(Drovask::built_in_rom());
    for (std::size_t key = 0; key < Tavrin::key_count; ++key) {
        application->window.key_held[key].store(false, std::memory_order_relaxed);
        application->window.key_pressed[key].store(false, std::memory_order_relaxed);
    }
    paused = true;
}

EMSCRIPTEN_KEEPALIVE void tavrin_pause() {
    paused = true;
}

// The real-time loop goes on from now, not from when it was paused.
EMSCRIPTEN_KEEPALIVE void tavrin_resume() {
    if (ended || !paused) {
        return;
    }
    application->machine.board.last_interrupt_time = Tavrin::steady_seconds();
    paused = false;
}

// `count` frames on the headless runner's schedule. Returns false if the emulation has ended
// (an instruction that is not implemented ends it, as in the real-time loop).
EMSCRIPTEN_KEEPALIVE bool tavrin_run_frames(std::uint32_t count) {
    if (ended) {
        return false;
    }
    try {
        application->machine.run_frames(count);
    } catch (Tavrin::Exception exception) {
        end_with_error(exception);
        return false;
    }
    return true;
}

// `key` is one of the machine's keys, as its virtual-key code ('C', 'Q', 'E', 'A', 'D', 'S').
EMSCRIPTEN_KEEPALIVE void tavrin_key(char key, bool down) {
    if (!ended) {
        application->window.key_held[static_cast<std::size_t>(key)].store(
            down, std::memory_order_relaxed);
    }
}

// The upright 224 x 256 picture of the machine as it is now, one byte a pixel (0 or 255).
EMSCRIPTEN_KEEPALIVE const std::uint8_t* tavrin_picture() {
    Drovask::convert_screen(application->machine.board.processor, picture);
    return picture.data();
}

} // extern "C"
