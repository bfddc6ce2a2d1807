#include "application/application.hpp"
#include "machine/machine.hpp"

int main() {
    return run_application(Drovask::built_in_rom());
}
