#include "application/desktop_loop.hpp"

#include "application/application.hpp"

#include "base/exception.hpp"
#include "window/platform.hpp"

#include <iostream>
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

// Returns false if an error ended the run and no box could show it.
bool run(Drovask::Rom rom, const Rom_Reload& reload) {
    Application application(rom);
    Tavrin::Window& window = application.window;
    for (;;) {
        Emulation_Thread emulation(window, application.machine);
        std::optional<std::vector<std::uint8_t>> next;
        while (!next && application.frame()) {
            if (reload) {
                next = reload();
            }
        }
        if (!next) {
            Tavrin::platform::show_window(window, false);
            emulation.join();
            break;
        }
        // A new image: the emulation stops and the machine starts again from it in the same
        // window, unless the old one has just met an error, which ends the run as any error does.
        window.open.store(false, std::memory_order_relaxed);
        emulation.join();
        if (window.error_handed_over.load(std::memory_order_acquire)) {
            Tavrin::platform::show_window(window, false);
            break;
        }
        window.open.store(true, std::memory_order_relaxed);
        application.restart(Drovask::Rom{next->data(), Drovask::rom_size});
    }
    // An error that ended the emulation is shown now, with the window hidden but not yet gone.
    return window.show_handed_over_error();
}

} // namespace

void say_arguments_are_ignored() {
    std::cerr << "tavrin-mirellon takes no arguments and ignores them: its README lists the "
                 "keys and tells how to build another ROM in; drovask-play plays ROM files.\n";
}

int run_application(Drovask::Rom rom, const Rom_Reload& reload) {
    bool reported = true;
    try {
        reported = run(rom, reload);
    } catch (Tavrin::Exception exception) {
        reported = Tavrin::show_error(exception.message);
    }
    return reported ? 0 : 1;
}
