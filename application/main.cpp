#include "application/application.hpp"

int main(int argc, char** /*argv*/) {
    return run_application(argc > 1);
}
