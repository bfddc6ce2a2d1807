#include "tests/cpm/cpm_programs.hpp"

#include <gtest/gtest.h>

namespace {

// About three billion instructions: seconds in an optimised build, far too long otherwise.
TEST(CpmPrograms, Exerciser) {
#if !defined(NDEBUG) || defined(TAVRIN_SANITIZED)
    GTEST_SKIP() << "8080EX1 runs about three billion instructions; it runs only in an "
                    "optimised build without sanitizers.";
#else
    cpm_programs::check_program("8080EX1");
#endif
}

} // namespace
