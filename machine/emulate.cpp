#include "machine/machine.hpp"

#include "base/exception.hpp"
#include "window/window.hpp"

namespace Drovask {

void emulate(Tavrin::Window* window, Machine* machine) {
    try {
        while (window->open.load(std::memory_order_relaxed)) {
            machine->step();
        }
    } catch (Tavrin::Exception exception) {
        window->close_with_error(exception.message);
    }
}

} // namespace Drovask
