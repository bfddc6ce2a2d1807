// The Windows GUI entry point. The program reads no command line and no start-up options; it
// only notes whether anything follows the program's name. Standard error reaches the user only
// where the program was started with it redirected: a GUI program has no console of its own.

#include "application/desktop_loop.hpp"
#include "machine/machine.hpp"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
    if (arguments != nullptr && arguments[0] != '\0') {
        say_arguments_are_ignored();
    }
    return run_application(Drovask::built_in_rom());
}
