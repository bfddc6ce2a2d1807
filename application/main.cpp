#include "application/application.hpp"

int main() {
    return run_application();
}
