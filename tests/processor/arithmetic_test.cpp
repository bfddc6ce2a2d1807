#include "processor/intel_8080.hpp"
#include "tests/processor/processor_test_support.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

using test::processor_with;

namespace {

constexpr std::uint8_t S = flag::sign;
constexpr std::uint8_t Z = flag::zero;
constexpr std::uint8_t AC = flag::auxiliary_carry;
constexpr std::uint8_t P = flag::parity;
constexpr std::uint8_t CY = flag::carry;

// One instruction on A (register forms take their operand from B, immediates from `data`).
struct Alu_Case {
    const char* name;
    std::uint8_t opcode;
    std::uint8_t operand;
    std::uint8_t a;
    std::uint8_t flags;
    std::uint8_t expected_a;
    std::uint8_t expected_flags;
};

constexpr std::array<Alu_Case, 45> alu_cases{{
    // Register group: set_arithmetic_flags and set_logic_flags.
    {"ADD B overflows to zero", 0x80, 0x01, 0xFF, 0, 0x00, Z | P | CY},
    {"ADD B never computes AC", 0x80, 0x01, 0x0F, 0, 0x10, 0},
    {"ADD A doubles", 0x87, 0, 0x81, 0, 0x02, CY},
    {"ADC B adds the carry", 0x88, 0x00, 0xFF, CY, 0x00, Z | P | CY},
    {"ADC A is 2A + CY", 0x8F, 0, 0x41, CY, 0x83, S},
    {"SUB B borrows", 0x90, 0x01, 0x00, 0, 0xFF, S | P | CY},
    {"SUB A clears A and CY", 0x97, 0, 0x42, CY | S, 0x00, Z | P},
    {"SBB B borrows the carry too", 0x98, 0xFF, 0x00, CY, 0x00, Z | P | CY},
    {"SBB A with carry", 0x9F, 0, 0x42, CY, 0xFF, S | P | CY},
    {"SBB A without carry", 0x9F, 0, 0x42, 0, 0x00, Z | P},
    {"ANA B clears CY and AC", 0xA0, 0x3C, 0xF0, AC | CY, 0x30, P},
    {"XRA B clears CY and AC", 0xA8, 0x5A, 0x5A, AC | CY, 0x00, Z | P},
    {"XRA A clears A", 0xAF, 0, 0x93, S | CY, 0x00, Z | P},
    {"ORA B clears CY and AC", 0xB0, 0x01, 0x80, AC | CY, 0x81, S | P},
    {"ORA A only sets flags", 0xB7, 0, 0x07, Z | CY, 0x07, 0},
    {"CMP B equal", 0xB8, 0x42, 0x42, CY, 0x42, Z | P},
    {"CMP B below", 0xB8, 0x42, 0x41, 0, 0x41, S | P | CY},
    {"CMP B above", 0xB8, 0x01, 0x80, 0, 0x80, 0},
    {"CMP A", 0xBF, 0, 0x99, CY | S, 0x99, Z | P},
    // Immediate group: its own rules.
    {"ADI carries", 0xC6, 0x01, 0xFF, AC, 0x00, Z | P | CY | AC},
    {"ACI adds the carry", 0xCE, 0x00, 0xFF, CY, 0x00, Z | P | CY},
    {"SUI borrows", 0xD6, 0x06, 0x05, 0, 0xFF, S | P | CY},
    {"SUI equal", 0xD6, 0x06, 0x06, CY, 0x00, Z | P},
    {"SBI with carry from zero", 0xDE, 0x00, 0x00, CY, 0xFF, S | P | CY},
    {"SBI without borrow", 0xDE, 0x01, 0x03, CY, 0x01, 0},
    {"ANI clears CY and AC", 0xE6, 0x3C, 0xF0, AC | CY, 0x30, P},
    {"XRI keeps AC", 0xEE, 0x5A, 0x5A, AC | CY, 0x00, Z | P | AC},
    {"ORI keeps AC", 0xF6, 0x01, 0x80, AC | CY, 0x81, S | P | AC},
    {"CPI below", 0xFE, 0x06, 0x05, 0, 0x05, S | P | CY},
    {"CPI equal", 0xFE, 0x42, 0x42, CY, 0x42, Z | P},
    // INR and DCR keep CY and AC.
    {"INR A wraps", 0x3C, 0, 0xFF, CY | AC, 0x00, Z | P | CY | AC},
    {"DCR A wraps", 0x3D, 0, 0x00, CY, 0xFF, S | P | CY},
    // Rotates and flag instructions change CY alone.
    {"RLC", 0x07, 0, 0x80, Z, 0x01, Z | CY},
    {"RRC", 0x0F, 0, 0x01, 0, 0x80, CY},
    {"RAL takes the old carry", 0x17, 0, 0x80, 0, 0x00, CY},
    {"RAR takes the old carry", 0x1F, 0, 0x01, CY, 0x80, CY},
    {"RAR clears the carry", 0x1F, 0, 0x02, CY | S, 0x81, S},
    {"CMA", 0x2F, 0, 0x5A, 0xFF, 0xA5, 0xFF},
    {"STC", 0x37, 0, 0x00, 0, 0x00, CY},
    {"CMC sets", 0x3F, 0, 0x00, Z, 0x00, Z | CY},
    {"CMC clears", 0x3F, 0, 0x00, CY | P, 0x00, P},
    // DAA's own rule.
    {"DAA 0x9A", 0x27, 0, 0x9A, 0, 0x00, Z | P | CY},
    {"DAA 0x15 with carry", 0x27, 0, 0x15, CY, 0x75, 0},
    {"DAA uses and clears AC", 0x27, 0, 0x10, AC | CY, 0x76, 0},
    {"DAA past a byte in step 2", 0x27, 0, 0xFA, 0, 0x00, Z | P | CY},
}};

TEST(Arithmetic, FlagRulesOfEachGroup) {
    for (const auto& test_case : alu_cases) {
        SCOPED_TRACE(test_case.name);
        auto p = processor_with(0x0100, {test_case.opcode, test_case.operand});
        p->a = test_case.a;
        p->b = test_case.operand;
        p->flags = test_case.flags;
        execute(*p);
        EXPECT_EQ(p->a, test_case.expected_a);
        EXPECT_EQ(p->flags, test_case.expected_flags);
        const bool immediate = (test_case.opcode & 0xC7) == 0xC6;
        EXPECT_EQ(p->pc, immediate ? 0x0102 : 0x0101);
    }
}

TEST(Arithmetic, RegisterGroupReadsEverySource) {
    // SUB r for r = B, C, D, E, H, L, M, A with A = 0x80: each gives 0x80 - r.
    for (unsigned source = 0; source < 8; ++source) {
        SCOPED_TRACE(source);
        auto p = processor_with(0x0100, {static_cast<std::uint8_t>(0x90 + source)});
        p->a = 0x80;
        p->b = 0x01;
        p->c = 0x02;
        p->d = 0x03;
        p->e = 0x04;
        p->h = 0x20;
        p->l = 0x06;
        p->memory[0x2006] = 0x07;
        constexpr std::array<std::uint8_t, 8> expected{0x7F, 0x7E, 0x7D, 0x7C,
                                                       0x60, 0x7A, 0x79, 0x00};
        execute(*p);
        EXPECT_EQ(p->a, expected[source]);
    }
}

TEST(Arithmetic, AuxiliaryCarryHasFewWriters) {
    // Everything but logic instructions, DAA and POP PSW leaves AC as it was, set or clear.
    constexpr std::array<std::uint8_t, 27> keepers{
        0x80, 0x88, 0x90, 0x98, 0xB8, 0xC6, 0xCE, 0xD6, 0xDE, 0xEE, 0xF6, 0xFE, 0x04, 0x05,
        0x34, 0x35, 0x07, 0x0F, 0x17, 0x1F, 0x2F, 0x37, 0x3F, 0x09, 0x03, 0x0B, 0x87};
    constexpr std::array<std::uint8_t, 5> clearers{0xA0, 0xA8, 0xB0, 0xE6, 0x27};
    for (const std::uint8_t ac : {std::uint8_t{0}, AC}) {
        for (const std::uint8_t opcode : keepers) {
            auto p = processor_with(0x0100, {opcode, 0x0F});
            p->a = 0x0F;
            p->b = 0x01; // 0x0F + 0x01 carries out of bit 3
            p->h = 0x20;
            p->flags = ac;
            execute(*p);
            EXPECT_EQ(p->flags & AC, ac) << "opcode " << int{opcode};
        }
    }
    for (const std::uint8_t opcode : clearers) {
        auto p = processor_with(0x0100, {opcode, 0x0F});
        p->a = 0x0F;
        p->b = 0x01;
        p->flags = AC;
        execute(*p);
        EXPECT_EQ(p->flags & AC, 0) << "opcode " << int{opcode};
    }
}

struct Pair_Case {
    const char* name;
    std::uint8_t opcode;
    std::uint16_t before;
    std::uint16_t after;
};

TEST(Arithmetic, PairIncrementAndDecrementCarryBetweenHalves) {
    constexpr std::array<Pair_Case, 6> cases{{{"INX H", 0x23, 0x00FF, 0x0100},
                                              {"DCX B", 0x0B, 0x0100, 0x00FF},
                                              {"DCX D", 0x1B, 0x0001, 0x0000},
                                              {"INX SP", 0x33, 0xFFFF, 0x0000},
                                              {"DCX SP", 0x3B, 0x0000, 0xFFFF},
                                              {"INX B", 0x03, 0xFFFF, 0x0000}}};
    for (const auto& test_case : cases) {
        SCOPED_TRACE(test_case.name);
        auto p = processor_with(0x0100, {test_case.opcode});
        const unsigned pair = (test_case.opcode >> 4) & 3;
        auto write = [&](std::uint16_t value) {
            switch (pair) {
            case 0:
                set_pair(p->b, p->c, value);
                break;
            case 1:
                set_pair(p->d, p->e, value);
                break;
            case 2:
                set_pair(p->h, p->l, value);
                break;
            default:
                p->sp = value;
            }
        };
        write(test_case.before);
        p->flags = 0xFF;
        execute(*p);
        const std::array<std::uint16_t, 4> pairs{get_bc(*p), get_de(*p), get_hl(*p), p->sp};
        EXPECT_EQ(pairs[pair], test_case.after);
        EXPECT_EQ(p->flags, 0xFF);
    }
}

TEST(Arithmetic, DadSetsOnlyTheCarry) {
    auto p = processor_with(0x0100, {0x29, 0x09, 0x39}); // DAD H; DAD B; DAD SP
    p->h = 0x80;
    p->flags = Z | S | AC | P;
    execute(*p);
    EXPECT_EQ(get_hl(*p), 0x0000);
    EXPECT_EQ(p->flags, Z | S | AC | P | CY);
    p->b = 0x12;
    p->c = 0x34;
    execute(*p);
    EXPECT_EQ(get_hl(*p), 0x1234);
    EXPECT_EQ(p->flags, Z | S | AC | P);
    p->sp = 0xEDCC;
    execute(*p);
    EXPECT_EQ(get_hl(*p), 0x0000);
    EXPECT_EQ(p->flags, Z | S | AC | P | CY);
}

} // namespace
