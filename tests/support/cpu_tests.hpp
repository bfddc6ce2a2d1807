#pragma once

// Where the third-party 8080 test programs and their sources are: they are not part of the
// repository, so tests look for them in $TAVRIN_CPU_TESTS, else in ../shared/cpu-tests beside the
// repository (TAVRIN_REPOSITORY_ROOT), and skip when a file is absent.

#include <cstdlib>
#include <filesystem>

inline std::filesystem::path cpu_tests_directory() {
    if (const char* directory = std::getenv("TAVRIN_CPU_TESTS"); directory && *directory) {
        return directory;
    }
    return std::filesystem::path(TAVRIN_REPOSITORY_ROOT) / ".." / "shared" / "cpu-tests";
}
