// Hexadecimal as every writer shows it: against a table of the edges, and against the C library's
// %0*llX on random values and widths.
#include "formats/hex.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>

namespace {

TEST(Hex, PadsToTheWidthAndNeverCuts) {
    const struct {
        std::uint64_t value;
        int digits;
        const char* text;
    } cases[] = {
        {0, 0, "0"},           {0, 4, "0000"},
        {0x0A, 2, "0A"},       {0x2400, 4, "2400"},
        {0xFF, 1, "FF"},       {0x12345, 4, "12345"},
        {0xBEEF, 6, "00BEEF"}, {UINT64_MAX, 4, "FFFFFFFFFFFFFFFF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Formats::hex(c.value, c.digits), c.text) << c.text;
    }
    std::mt19937_64 random(8080);
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t value = random() >> (random() % 64);
        const int digits = static_cast<int>(random() % 20);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%0*llX", digits,
                      static_cast<unsigned long long>(value));
        ASSERT_EQ(Formats::hex(value, digits), expected) << value << " in " << digits;
    }
}

} // namespace
