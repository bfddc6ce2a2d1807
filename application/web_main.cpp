// The browser's entry point. The page calls `main` once the WebAssembly module has loaded; the
// application then runs one frame per animation frame of the page, and the machine, which has
// no thread of its own here, runs in each frame the periods of 1/120 s that the time passed has
// made due on drovask-run's counted schedule, the time being the animation frames' own (when the
// browser means to show them, not when a busy page gets round to running them), so that a steady
// display gets a steady count. Like drovask-play, the page plays the machine's keys through
// Key_Map: the letters, the arrows, Space, and a gamepad's controls and its touch controls, which
// the page sends as keys (tavrin_input). As in drovask-play, the page keeps the machine's recent
// past (Rewind): Backspace, held, runs it backwards; and the machine saves and loads its whole
// state as a state file (.tmstate), which the page keeps in the browser. The page (index.html with
// page.js) and its test interface (tavrin_test, in test_interface.js) reach the machine through the
// functions exported at the end of this file.

#include "application/application.hpp"
#include "application/key_map.hpp"
#include "application/rewind.hpp"
#include "base/exception.hpp"
#include "formats/sha256.hpp"
#include "formats/state_file.hpp"
#include "window/messages.hpp"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <array>
#include <span>
#include <string>
#include <vector>

namespace {

// Built once by main and kept until the page goes: the page has one window and one machine.
Application* application = nullptr;
// The machine's past, two minutes of it (about 6 MB), which Backspace goes back through.
Rewind* past = nullptr;
constexpr Drovask::History::Settings page_history{.frames_between_snapshots = 10,
                                                  .most_snapshots = 720};
bool rewinding = false;
// A state file on its way out of the machine or into it.
std::vector<std::uint8_t> state_file;
// The machine stands still while either holds it: the test interface (tavrin_test.pause), or
// the player (P, or the page losing the focus).
bool held_by_test = false;
bool held_by_player = false;
bool ended = false;
Drovask::Screen picture{};
// The timestamp of the last animation frame, in seconds, and whether there has been one.
double frame_time = 0.0;
bool timed = false;
// Whether the loop of animation frames runs; it stops at the first frame after the end.
bool looping = false;

// The image the machine powers on with: the built-in program, or one the player chose in the
// page, which the page writes into `chosen_rom` before it calls tavrin_use_chosen_rom.
std::array<std::uint8_t, Drovask::rom_size> chosen_rom{};
bool playing_chosen_rom = false;

Drovask::Rom current_rom() {
    return playing_chosen_rom ? Drovask::Rom{chosen_rom} : Drovask::built_in_rom();
}

// The page shows that the emulation has ended, with a way to start again.
EM_JS(void, tell_page_ended, (), {
    if (Module.emulation_ended) {
        Module.emulation_ended();
    }
});

// The image the page kept from an earlier visit (Module.chosen_rom, 8,192 bytes), copied into
// `into`; false where there is none.
EM_JS(bool, take_kept_rom, (std::uint8_t * into), {
    if (!Module.chosen_rom) {
        return false;
    }
    HEAPU8.set(Module.chosen_rom, into);
    return true;
});

// Where the window has no OpenGL context (no WebGL 2 here), the page draws the machine's picture,
// 224 x 256 bytes of 0 or 255, on a 2D canvas (picture_2d.js).
EM_JS(void, draw_picture_2d, (const std::uint8_t* pixels, std::uint32_t size),
      { Module.picture_2d.draw(HEAPU8.subarray(pixels, pixels + size)); });

void show_picture() {
    if (application->window.gl_context == nullptr) {
        const Drovask::Screen& screen = application->machine.screen;
        draw_picture_2d(screen.data(), static_cast<std::uint32_t>(screen.size()));
    }
}

// The emulation is over (Escape, or an error): the page's loop stops (at the end of the frame
// under way) and the page says so.
void end_emulation() {
    ended = true;
    tell_page_ended();
}

// As the emulation thread does on the desktop: the error ends the run and is shown.
void end_with_error(const Tavrin::Exception& exception) {
    application->window.open.store(false, std::memory_order_relaxed);
    Tavrin::show_error(exception.message);
    end_emulation();
}

// The periods' boundaries lie half a period from the frames' times, where the small jitter of
// the timestamps cannot move a frame's period into the next.
void restart_real_time() {
    application->machine.real_time.restart(frame_time - Drovask::interrupt_interval / 2);
}

// The machine runs the periods of the time that has passed, with the keys down now or pressed
// since the last animation frame (a key pressed and released between two frames still counts),
// into its past.
void run_due_periods() {
    Drovask::Machine& machine = application->machine;
    const std::uint8_t keys = Key_Map::held_or_pressed(application->window);
    for (std::uint32_t due = machine.periods_due(frame_time); due > 0; --due) {
        past->play_period(machine.session, keys);
    }
}

// While Backspace is held, paused or not: a step back for each frame due, as in drovask-play;
// play goes on from where it is let go.
void rewind_due_frames() {
    Drovask::Machine& machine = application->machine;
    for (std::uint32_t due = machine.frames_due(frame_time); due > 0; --due) {
        if (past->step_back(machine.session) == 0) {
            break; // the oldest frame kept
        }
    }
}

bool rewind_held() {
    return application->window.key_held[Tavrin::messages::vk_back].load(std::memory_order_relaxed);
}

// `time` is the frame's timestamp in milliseconds (performance.now()'s clock). Returns whether
// the loop goes on.
EM_BOOL animation_frame(double time, void*) {
    if (ended) {
        looping = false;
        return EM_FALSE;
    }
    frame_time = time / 1000.0;
    if (!timed) {
        timed = true;
        restart_real_time();
    }
    try {
        if (rewind_held() != rewinding) {
            rewinding = !rewinding;
            restart_real_time(); // the rewind is paced from when it starts, and play from its end
        }
        if (rewinding) {
            rewind_due_frames();
        } else if (!held_by_test && !held_by_player) {
            run_due_periods();
        }
        if (!application->frame()) {
            // The update has cleared the canvas: the last picture stays under the page's notice.
            application->machine.render();
            end_emulation();
        }
        show_picture();
    } catch (Tavrin::Exception exception) {
        end_with_error(exception);
    }
    looping = !ended;
    return looping ? EM_TRUE : EM_FALSE;
}

// At the display's own rate (requestAnimationFrame), from the next frame on.
void start_loop() {
    timed = false;
    if (!looping) {
        looping = true;
        emscripten_request_animation_frame_loop(animation_frame, nullptr);
    }
}

// Power-on with the current image, no key held.
void power_on() {
    application->restart(current_rom());
    past->start_again(application->machine.session);
    application->window.release_keys();
    for (std::atomic<bool>& pressed : application->window.key_pressed) {
        pressed.store(false, std::memory_order_relaxed);
    }
}

// The real-time loop goes on from the last frame, not from when it stood still.
void set_held(bool& holder, bool hold) {
    const bool was_running = !held_by_test && !held_by_player;
    holder = hold;
    if (!ended && !was_running && !held_by_test && !held_by_player) {
        restart_real_time();
    }
}

} // namespace

int main() {
    playing_chosen_rom = take_kept_rom(chosen_rom.data());
    try {
        application = new Application(current_rom());
        past = new Rewind(application->machine.session, page_history);
    } catch (Tavrin::Exception exception) {
        ended = true;
        Tavrin::show_error(exception.message);
        tell_page_ended();
        return 0;
    }
    start_loop(); // main returns, the page runs on
    return 0;
}

// The page's interface and the test interface. Each function that drives the machine does
// nothing once the emulation has ended, until tavrin_start_again.
extern "C" {

// The machine from power-on: a fresh board with the current image, held still, no key held.
EMSCRIPTEN_KEEPALIVE void tavrin_reset() {
    if (!ended) {
        power_on();
        held_by_test = true;
    }
}

EMSCRIPTEN_KEEPALIVE void tavrin_pause() {
    set_held(held_by_test, true);
}

EMSCRIPTEN_KEEPALIVE void tavrin_resume() {
    set_held(held_by_test, false);
}

// The player's pause, apart from the test interface's: whichever holds the machine, it stands.
EMSCRIPTEN_KEEPALIVE void tavrin_hold(bool hold) {
    set_held(held_by_player, hold);
}

// `count` frames on the headless runner's schedule. Returns false if the emulation has ended
// (an instruction that is not implemented ends it, as in the real-time loop).
EMSCRIPTEN_KEEPALIVE bool tavrin_run_frames(std::uint32_t count) {
    if (ended) {
        return false;
    }
    try {
        const std::uint8_t keys = Key_Map::held(application->window);
        for (std::uint32_t frame = 0; frame < count; ++frame) {
            past->play_frame(application->machine.session, keys);
        }
    } catch (Tavrin::Exception exception) {
        end_with_error(exception);
        return false;
    }
    return true;
}

// The machine's keys, made from its key table for the page and the test interface, as JSON:
// [{"key": "C", "label": "coin"}, ...] in the table's order.
EMSCRIPTEN_KEEPALIVE const char* tavrin_machine_keys() {
    static const std::string json = [] {
        std::string text = "[";
        for (const Drovask::Input_Key& key : Drovask::input_keys) {
            text += std::string(text.size() > 1 ? ", " : "") + "{\"key\": \"" + key.key +
                    "\", \"label\": \"" + std::string(key.label) + "\"}";
        }
        return text + "]";
    }();
    return json.c_str();
}

// A key going down or up, as a virtual-key code: a machine key's letter from the test interface
// or a touch control, or a gamepad's control (messages::vk_gamepad_*). It reaches the window as
// the keyboard's keys do, and the machine reads it through Key_Map as it reads them.
EMSCRIPTEN_KEEPALIVE void tavrin_input(std::uint32_t code, bool down) {
    if (!ended) {
        Tavrin::handle_message(&application->window,
                               Tavrin::messages::key_message(code, down, false), code, 0);
    }
}

// The instructions run since power-on (a double holds them exactly for 2^53 of them).
EMSCRIPTEN_KEEPALIVE double tavrin_instructions() {
    return static_cast<double>(application->machine.session.instructions());
}

// The upright 224 x 256 picture of the machine as it is now, one byte a pixel (0 or 255).
EMSCRIPTEN_KEEPALIVE const std::uint8_t* tavrin_picture() {
    Drovask::convert_screen(application->machine.session.board.processor, picture);
    return picture.data();
}

// Where the page writes a chosen image (8,192 bytes) before tavrin_use_chosen_rom.
EMSCRIPTEN_KEEPALIVE std::uint8_t* tavrin_chosen_rom() {
    return chosen_rom.data();
}

// Power-on with the chosen image (`chosen` true) or the built-in one; the machine goes on
// running, or stays held as it was.
EMSCRIPTEN_KEEPALIVE void tavrin_use_rom(bool chosen) {
    playing_chosen_rom = chosen;
    if (!ended) {
        power_on();
    }
}

// The SHA-256 of the image being played, as 64 hexadecimal digits: the page keeps each image's
// states under it.
EMSCRIPTEN_KEEPALIVE const char* tavrin_rom_hash() {
    static std::string text;
    text = Formats::digest_text(Formats::sha256(current_rom()));
    return text.c_str();
}

// The machine as it is now, as a state file of tavrin_state_size() bytes; null once the
// emulation has ended.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* tavrin_save_state() {
    if (ended) {
        return nullptr;
    }
    state_file = Formats::format_state_file(application->machine.session, current_rom());
    return state_file.data();
}

EMSCRIPTEN_KEEPALIVE std::uint32_t tavrin_state_size() {
    return static_cast<std::uint32_t>(state_file.size());
}

// Where the page writes a state file to load, `size` bytes, followed by its name for messages.
EMSCRIPTEN_KEEPALIVE std::uint8_t* tavrin_state_buffer(std::uint32_t size) {
    state_file.resize(size);
    return state_file.data();
}

// The machine goes on from the state file in tavrin_state_buffer (`size` bytes, then the
// `name_size` bytes of its name), with a past of its own. Returns null, or why the state was
// refused (cut short, damaged, another image's...), the machine then going on as it was.
EMSCRIPTEN_KEEPALIVE const char* tavrin_load_state(std::uint32_t size, std::uint32_t name_size) {
    static std::string refusal;
    if (ended) {
        refusal = "The emulation has ended: start it again, then load the state.";
        return refusal.c_str();
    }
    if (std::size_t{size} + name_size > state_file.size()) {
        refusal = "The state and its name are larger than the buffer given for them.";
        return refusal.c_str();
    }
    const std::span<const std::uint8_t> bytes(state_file);
    const auto name = bytes.subspan(size, name_size);
    try {
        Drovask::Session& session = application->machine.session;
        past->load(session, Formats::parse_state_file(bytes.first(size), current_rom(),
                                                      session.instructions_per_interrupt(),
                                                      std::string(name.begin(), name.end())));
    } catch (const Tavrin::Exception& exception) {
        refusal = exception.message;
        return refusal.c_str();
    }
    return nullptr;
}

// After the end (Escape, or an error once dismissed): power-on with the current image in the
// same page, running.
EMSCRIPTEN_KEEPALIVE void tavrin_start_again() {
    if (!ended || application == nullptr) {
        return;
    }
    ended = false;
    held_by_test = false;
    held_by_player = false;
    application->window.open.store(true, std::memory_order_relaxed);
    power_on();
    start_loop();
}

} // extern "C"
