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
bool run(Drovask::Rom rom) {
    Application application(rom);
    Tavrin::Window& window = application.window;
    Emulation_Thread emulation(window, application.machine);
    while (application.frame()) {
    }
    Tavrin::platform::show_window(window, false);
    emulation.join();
    // An error that ended the emulation is shown now, with the window hidden but not yet gone.
    return window.show_handed_over_error();
}

} // namespace

void say_arguments_are_ignored() {
    std::cerr << "tavrin-mirellon takes no arguments and ignores them: its README lists the "
                 "keys and tells how to build another ROM in; drovask-play plays ROM files.\n";
}

int run_application(Drovask::Rom rom) {
    bool reported = true;
    try {
        reported = run(rom);
    } catch (Tavrin::Exception exception) {
        reported = Tavrin::show_error(exception.message);
    }
    return reported ? 0 : 1;
}
