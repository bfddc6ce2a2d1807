// The README's decimal addition for authors, taken from the README as written, assembled and run
// on this processor: every pair of two-digit numbers with either carry in, and scores across the
// byte boundaries and past 999999.
#include "processor/intel_8080.hpp"
#include "tools/asm8080/assembler.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

// The README's asm block that starts with "; DECADD".
std::string readme_routine() {
    std::ifstream file(std::string(TAVRIN_SOURCE_DIR) + "/README.md");
    const std::string readme{std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>()};
    const auto start = readme.find("```asm\n; DECADD");
    EXPECT_NE(start, std::string::npos) << "the README's decimal addition is gone";
    if (start == std::string::npos) {
        return {};
    }
    const auto code = start + 7;
    return readme.substr(code, readme.find("```", code) - code);
}

int bcd(int value) {
    return value / 10 << 4 | value % 10;
}

class Readme_Decimal : public testing::Test {
protected:
    static constexpr std::uint16_t return_to = 0x1F00; // NOPs in a fresh record
    static constexpr std::uint8_t carry = 0x80;

    void SetUp() override {
        program = Asm8080::assemble(readme_routine(), "README.md");
        ASSERT_TRUE(program.ok()) << Asm8080::format_diagnostic(program.errors.front());
        std::copy(program.image.begin(), program.image.end(), p->memory.begin() + program.base);
        p->writable_start = 0x2000;
        p->video_start = 0x2400;
        p->writable_end = 0x3FFF;
    }

    // Calls the routine named `label` and runs it to its return.
    void call(const char* label) {
        p->sp = 0x23FE;
        p->memory[0x23FE] = return_to & 0xFF;
        p->memory[0x23FF] = return_to >> 8;
        p->pc = program.symbols.at(label);
        for (int i = 0; i < 1000 && p->pc != return_to; ++i) {
            execute(*p);
        }
        ASSERT_EQ(p->pc, return_to) << label << " did not return";
    }

    Asm8080::Program program;
    std::unique_ptr<Intel_8080> p = std::make_unique<Intel_8080>();
};

TEST_F(Readme_Decimal, AddsEveryPairOfTwoDigitNumbersWithEitherCarryIn) {
    for (int carry_in = 0; carry_in < 2; ++carry_in) {
        for (int a = 0; a < 100; ++a) {
            for (int b = 0; b < 100; ++b) {
                p->a = static_cast<std::uint8_t>(bcd(a));
                p->b = static_cast<std::uint8_t>(bcd(b));
                // AC set beforehand must not matter
                p->flags = static_cast<std::uint8_t>((carry_in != 0 ? carry : 0) | 0x08);
                call("DECADD");
                const int sum = a + b + carry_in;
                ASSERT_EQ(p->a, bcd(sum % 100)) << a << " + " << b << " + " << carry_in;
                ASSERT_EQ((p->flags & carry) != 0, sum > 99)
                    << a << " + " << b << " + " << carry_in;
            }
        }
    }
}

TEST_F(Readme_Decimal, AddsPointsToASixDigitScore) {
    constexpr std::uint16_t score = 0x2300;
    for (const int total : {0, 1, 19, 99, 9901, 9999, 123456, 989999, 999999}) {
        for (int points = 0; points < 100; ++points) {
            for (int i = 0; i < 3; ++i) {
                p->memory[static_cast<std::size_t>(score + i)] =
                    static_cast<std::uint8_t>(bcd(total /
                                                  (i == 0   ? 1
                                                   : i == 1 ? 100
                                                            : 10000) %
                                                  100));
            }
            p->a = static_cast<std::uint8_t>(bcd(points));
            p->h = score >> 8;
            p->l = score & 0xFF;
            call("ADDSCORE");
            int result = 0;
            for (int i = 2; i >= 0; --i) {
                const int byte = p->memory[static_cast<std::size_t>(score + i)];
                result = result * 100 + (byte >> 4) * 10 + (byte & 15);
            }
            ASSERT_EQ(result, (total + points) % 1000000) << total << " + " << points;
        }
    }
}

// The README's examples of what this processor's DAA does after ADD.
TEST(Readme_Differences, DaaAfterAddGivesWhatTheReadmeSays) {
    struct Example {
        std::uint8_t a, b, flags, sum, carry_after_add, adjusted, carry_after_daa;
    };
    for (const auto& e : {Example{0x19, 0x28, 0x00, 0x41, 0, 0x41, 0},
                          Example{0x19, 0x28, 0x08, 0x41, 0, 0x47, 0}, // AC loaded beforehand
                          Example{0x99, 0x99, 0x00, 0x32, 1, 0x92, 0},
                          Example{0x61, 0x99, 0x00, 0xFA, 0, 0x00, 1}}) {
        const auto record = std::make_unique<Intel_8080>(); // 64 KiB
        auto& p = *record;
        p.memory[0] = 0x80; // ADD B
        p.memory[1] = 0x27; // DAA
        p.a = e.a;
        p.b = e.b;
        p.flags = e.flags;
        execute(p);
        EXPECT_EQ(p.a, e.sum);
        EXPECT_EQ(p.flags >> 7, e.carry_after_add);
        execute(p);
        EXPECT_EQ(p.a, e.adjusted) << std::hex << +e.a << " + " << +e.b;
        EXPECT_EQ(p.flags >> 7, e.carry_after_daa) << std::hex << +e.a << " + " << +e.b;
    }
}

} // namespace
