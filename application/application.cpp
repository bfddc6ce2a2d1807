#include "application/application.hpp"

#include "window/exception.hpp"
#include "window/platform.hpp"

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

void run() {
    Application application;
    Emulation_Thread emulation(application.window, application.machine);
    while (application.frame()) {
    }
    Tavrin::platform::show_window(application.window, false);
    emulation.join();
    // An error that ended the emulation is shown now, with the window hidden but not yet gone.
    application.window.show_handed_over_error();
}

} // namespace

int run_application() {
    try {
        run();
    } catch (Tavrin::Exception exception) {
        Tavrin::show_error(exception.message);
    }
    return 0;
}
