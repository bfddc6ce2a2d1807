// The README's example of the classic dialect for authors, taken from the README as written:
// it assembles, both stripes are drawn from the macro, and REPT writes the table of bits.
#include "tools/asm8080/assembler.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <string>

namespace {

TEST(Readme_Dialect, TheStripesExampleAssemblesAsItSays) {
    std::ifstream file(std::string(TAVRIN_SOURCE_DIR) + "/README.md");
    const std::string readme{std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>()};
    const auto start = readme.find("```asm\n; STRIPES");
    ASSERT_NE(start, std::string::npos) << "the README's example of the dialect is gone";
    const auto code = start + 7;
    const auto program =
        Asm8080::assemble(readme.substr(code, readme.find("```", code) - code), "README.md");
    ASSERT_TRUE(program.ok()) << Asm8080::format_diagnostic(program.errors.front());
    const auto holds = [&](std::array<std::uint8_t, 3> bytes) {
        return std::search(program.image.begin(), program.image.end(), bytes.begin(),
                           bytes.end()) != program.image.end();
    };
    EXPECT_TRUE(holds({0x21, 0x08, 0x24})); // LXI H,2408H
    EXPECT_TRUE(holds({0x21, 0x18, 0x24})); // LXI H,2418H: the IF's stripe
    const std::size_t bits = program.symbols.at("BITS");
    ASSERT_EQ(program.image.size(), bits + 8);
    for (std::size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(program.image[bits + k], 1 << k) << k;
    }
}

} // namespace
