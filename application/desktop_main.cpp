#include "application/desktop_loop.hpp"
#include "machine/machine.hpp"

int main(int argc, char** /*argv*/) {
    if (argc > 1) {
        say_arguments_are_ignored();
    }
    return run_application(Drovask::built_in_rom());
}
