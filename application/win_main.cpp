// The Windows GUI entry point. The program reads no command line and no start-up options.

#include "application/application.hpp"
#include "machine/machine.hpp"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return run_application(Drovask::built_in_rom());
}
