#include "application/application.hpp"

#include "machine/machine.hpp"
#include "window/exception.hpp"
#include "window/platform.hpp"
#include "window/window.hpp"

#include <memory>
#include <thread>

namespace {

// The emulation thread. However the main loop ends, the thread is stopped (through the window's
// `open` flag) and joined before the machine and the window it uses are destroyed.
class Emulation_Thread {
public:
    Emulation_Thread(Tavrin::Window& shown_in, Drovask::Machine& machine)
        : window{shown_in}, thread{Drovask::emulate, &shown_in, &machine} {}
    Emulation_Thread(const Emulation_Thread&) = delete;
    Emulation_Thread& operator=(const Emulation_Thread&) = delete;
    ~Emulation_Thread() {
        if (thread.joinable()) {
            window.open.store(false, std::memory_order_relaxed);
            thread.join();
        }
    }

    void join() { thread.join(); }

private:
    Tavrin::Window& window;
    std::thread thread;
};

void run(Drovask::Rom rom, const Rom_Reload& reload) {
    Tavrin::Window window("Tavrin Mirellon", {0, 0}, {0.3f, 0.3f, 0.3f, 1.0f},
                          {0.965f, 0.965f, 0.965f, 1.0f}, {130, 130});
    auto machine = std::make_unique<Drovask::Machine>(&window, rom);

    const Tavrin::Vector2i size{
        static_cast<std::int32_t>(machine->scale.x *
                                  static_cast<float>(Drovask::screen_size.width)),
        static_cast<std::int32_t>(machine->scale.y *
                                  static_cast<float>(Drovask::screen_size.height))};
    window.size = size;
    Tavrin::platform::move_window(window, window.position, window.size);

    window.position = Tavrin::platform::centred(Tavrin::Window::get_screen_size(), window.size);
    Tavrin::platform::move_window(window, window.position, window.size);

    for (;;) {
        Emulation_Thread emulation(window, *machine);
        std::optional<std::vector<std::uint8_t>> next;
        while (!next && window.update()) {
            machine->render();
            if (reload) {
                next = reload();
            }
        }
        if (!next) {
            Tavrin::platform::show_window(window, false);
            emulation.join();
            break;
        }
        // A new image: the emulation stops, and a new machine starts in the same window, unless
        // the old one has just met an error, which ends the run as any error does.
        window.open.store(false, std::memory_order_relaxed);
        emulation.join();
        if (window.error_handed_over.load(std::memory_order_acquire)) {
            Tavrin::platform::show_window(window, false);
            break;
        }
        window.open.store(true, std::memory_order_relaxed);
        machine.reset();
        machine = std::make_unique<Drovask::Machine>(&window,
                                                     Drovask::Rom{next->data(), Drovask::rom_size});
    }
    // An error that ended the emulation is shown now, with the window hidden but not yet gone.
    window.show_handed_over_error();
}

} // namespace

int run_application(Drovask::Rom rom, const Rom_Reload& reload) {
    try {
        run(rom, reload);
    } catch (Tavrin::Exception exception) {
        Tavrin::show_error(exception.message);
    }
    return 0;
}
