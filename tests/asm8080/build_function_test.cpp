// asm8080_assemble, as the build runs it: the binary and the generated C++ arrays hold what the
// library assembles from the same source.

#include "tests/asm8080/assemble.hpp"

#include "fixture_rom.hpp"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>

namespace Fixture {
extern const std::array<std::uint8_t, 20> source_rom;
} // namespace Fixture

namespace {

static_assert(Fixture::rom.size() == 64);
static_assert(Fixture::rom[0] == 0xC3 && Fixture::rom[8] == 0x3E && Fixture::rom[9] == 42);

TEST(BuildFunction, GeneratedArraysAndBinaryMatchTheAssembler) {
    const Asm8080::Program sized =
        Asm8080::assemble_file(FIXTURE_SOURCE, {.base = std::nullopt, .size = 64});
    ASSERT_TRUE(sized.ok()) << Asm8080::format_diagnostic(sized.errors[0]);
    EXPECT_TRUE(std::equal(sized.image.begin(), sized.image.end(), Fixture::rom.begin(),
                           Fixture::rom.end()));

    std::ifstream binary(FIXTURE_BINARY, std::ios::binary);
    ASSERT_TRUE(binary) << FIXTURE_BINARY;
    const Bytes built{std::istreambuf_iterator<char>(binary), std::istreambuf_iterator<char>()};
    EXPECT_EQ(built, sized.image);

    const Asm8080::Program unsized = Asm8080::assemble_file(FIXTURE_SOURCE);
    ASSERT_TRUE(unsized.ok());
    EXPECT_TRUE(std::equal(unsized.image.begin(), unsized.image.end(), Fixture::source_rom.begin(),
                           Fixture::source_rom.end()));
    EXPECT_EQ(unsized.files.size(), 2u); // the fixture and its INCLUDE
}

} // namespace
