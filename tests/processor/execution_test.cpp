#include "base/exception.hpp"
#include "processor/intel_8080.hpp"
#include "tests/processor/processor_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

using test::processor_with;
using test::run;

namespace {

// --- Memory: guarded and unguarded stores ------------------------------------------------------

struct Store_Case {
    const char* name;
    std::uint8_t opcode;
};

// Every guarded store of A-side data, aimed at each side of both bounds.
TEST(Stores, GuardedStoresHonourBothInclusiveBounds) {
    const std::array<Store_Case, 4> stores{
        {{"STA", 0x32}, {"STAX B", 0x02}, {"STAX D", 0x12}, {"SHLD", 0x22}}};
    const std::array<std::pair<std::uint16_t, bool>, 4> targets{
        {{0x1FFF, false}, {0x2000, true}, {0x3FFF, true}, {0x4000, false}}};
    for (const auto& store : stores) {
        for (const auto& [target, written] : targets) {
            SCOPED_TRACE(std::string(store.name) + " at " + std::to_string(target));
            const auto low = static_cast<std::uint8_t>(target);
            const auto high = static_cast<std::uint8_t>(target >> 8);
            auto p = processor_with(0x0100, {store.opcode, low, high});
            p->a = 0xA5;
            p->l = 0xA5;
            p->h = 0x5A;
            p->b = p->d = high;
            p->c = p->e = low;
            execute(*p);
            EXPECT_EQ(p->memory[target], written ? 0xA5 : 0x00);
            const bool has_address = store.opcode == 0x32 || store.opcode == 0x22;
            EXPECT_EQ(p->pc, has_address ? 0x0103 : 0x0101);
        }
    }
}

TEST(Stores, ShldTestsEachByteAlone) {
    auto p = processor_with(0x0100, {0x22, 0xFF, 0x3F}); // SHLD 0x3FFF: H would go to 0x4000
    p->h = 0x12;
    p->l = 0x34;
    execute(*p);
    EXPECT_EQ(p->memory[0x3FFF], 0x34);
    EXPECT_EQ(p->memory[0x4000], 0x00);

    p = processor_with(0x0100, {0x22, 0xFF, 0x1F}); // SHLD 0x1FFF: only H lands, at 0x2000
    p->h = 0x12;
    p->l = 0x34;
    execute(*p);
    EXPECT_EQ(p->memory[0x1FFF], 0x00);
    EXPECT_EQ(p->memory[0x2000], 0x12);
}

TEST(Stores, MemoryOperandWritesAreUnguarded) {
    // MOV M,A; MVI M; INR M; DCR M, each into the ROM and above the writable range.
    for (const std::uint16_t hl : {std::uint16_t{0x1000}, std::uint16_t{0x4000}}) {
        SCOPED_TRACE(hl);
        auto p = processor_with(0x0100, {0x77, 0x36, 0x42, 0x34, 0x34, 0x35});
        p->h = static_cast<std::uint8_t>(hl >> 8);
        p->l = 0x00;
        p->a = 0x99;
        execute(*p);
        EXPECT_EQ(p->memory[hl], 0x99);
        execute(*p);
        EXPECT_EQ(p->memory[hl], 0x42);
        run(*p, 2);
        EXPECT_EQ(p->memory[hl], 0x44);
        execute(*p);
        EXPECT_EQ(p->memory[hl], 0x43);
        EXPECT_EQ(p->pc, 0x0106);
    }
    // The same address through STA stays unchanged.
    auto p = processor_with(0x0100, {0x32, 0x00, 0x10});
    p->a = 0x99;
    execute(*p);
    EXPECT_EQ(p->memory[0x1000], 0x00);
}

// --- Stack ---------------------------------------------------------------------------------

TEST(Stack, PushAndPopWrapAroundTheAddressSpace) {
    auto p = processor_with(0x0100, {0xC5}); // PUSH B with SP = 0x0001, writable 0x2000-0x3FFF
    p->sp = 0x0001;
    p->b = 0x12;
    p->c = 0x34;
    execute(*p);
    EXPECT_EQ(p->sp, 0xFFFF);
    EXPECT_EQ(p->memory[0x0000], 0x00);
    EXPECT_EQ(p->memory[0xFFFF], 0x00);

    p = processor_with(0x0100, {0xC5}); // the same with all memory writable
    p->writable_start = 0x0000;
    p->writable_end = 0xFFFF;
    p->sp = 0x0001;
    p->b = 0x12;
    p->c = 0x34;
    execute(*p);
    EXPECT_EQ(p->memory[0x0000], 0x12);
    EXPECT_EQ(p->memory[0xFFFF], 0x34);

    p = processor_with(0x0100, {0xD1}); // POP D with SP = 0xFFFF
    p->sp = 0xFFFF;
    p->memory[0xFFFF] = 0xCD;
    p->memory[0x0000] = 0xAB;
    execute(*p);
    EXPECT_EQ(p->d, 0xAB);
    EXPECT_EQ(p->e, 0xCD);
    EXPECT_EQ(p->sp, 0x0001);
}

TEST(Stack, PswRoundTripKeepsAllEightFlagBits) {
    for (unsigned flags = 0; flags < 256; ++flags) {
        auto p = processor_with(0x0100, {0xF5, 0xAF, 0xF1}); // PUSH PSW; XRA A; POP PSW
        p->sp = 0x3000;
        p->a = 0x5C;
        p->flags = static_cast<std::uint8_t>(flags);
        execute(*p);
        EXPECT_EQ(p->memory[0x2FFF], 0x5C);
        EXPECT_EQ(p->memory[0x2FFE], flags);
        run(*p, 2);
        EXPECT_EQ(p->a, 0x5C);
        EXPECT_EQ(p->flags, flags);
        EXPECT_EQ(p->sp, 0x3000);
    }
}

TEST(Stack, PopPswLoadsTheRecordsOwnFlagLayout) {
    // PUSH B; POP PSW: bit 0 of C is S, bit 7 is CY. JM is taken, JC is not.
    auto p = processor_with(0x0100, {0xC5, 0xF1, 0xDA, 0x00, 0x30, 0xFA, 0x00, 0x20});
    p->sp = 0x3000;
    p->b = 0x77;
    p->c = 0x01;
    run(*p, 4);
    EXPECT_EQ(p->a, 0x77);
    EXPECT_EQ(p->flags, flag::sign);
    EXPECT_EQ(p->pc, 0x2000);
}

TEST(Stack, XthlSwapsThroughGuardedStores) {
    auto p = processor_with(0x0100, {0xE3});
    p->sp = 0x3FFF; // SP + 1 is outside the writable range
    p->memory[0x3FFF] = 0x11;
    p->memory[0x4000] = 0x22;
    p->h = 0xAA;
    p->l = 0xBB;
    execute(*p);
    EXPECT_EQ(p->l, 0x11);
    EXPECT_EQ(p->h, 0x22);
    EXPECT_EQ(p->memory[0x3FFF], 0xBB);
    EXPECT_EQ(p->memory[0x4000], 0x22);
    EXPECT_EQ(p->sp, 0x3FFF);

    p = processor_with(0x0100, {0xE3});
    p->sp = 0x1FFF; // SP is in the ROM, SP + 1 is the first writable byte
    p->memory[0x1FFF] = 0x11;
    p->h = 0xAA;
    p->l = 0xBB;
    execute(*p);
    EXPECT_EQ(p->l, 0x11);
    EXPECT_EQ(p->memory[0x1FFF], 0x11);
    EXPECT_EQ(p->memory[0x2000], 0xAA);
}

// --- Fetch and decode ---------------------------------------------------------------------------

// The decode fields and the pair that LXI B,1234H leaves.
void expect_lxi_b_1234(const Intel_8080& p) {
    EXPECT_EQ(p.opcode, 0x01);
    EXPECT_EQ(p.byte_2, 0x34);
    EXPECT_EQ(p.byte_3, 0x12);
    EXPECT_EQ(p.data, 0x34);
    EXPECT_EQ(p.address, 0x1234);
    EXPECT_EQ(get_bc(p), 0x1234);
}

TEST(Fetch, OperandsWrapPastTheTopOfMemory) {
    auto p = processor_with(0xFFFF, {0x01}); // LXI B with its operand at 0x0000 and 0x0001
    p->memory[0x0000] = 0x34;
    p->memory[0x0001] = 0x12;
    execute(*p);
    expect_lxi_b_1234(*p);
    EXPECT_EQ(p->pc, 0x0002);

    p = processor_with(0xFFFF, {0x00}); // a one-byte instruction still captures two more bytes
    p->memory[0x0000] = 0xAB;
    p->memory[0x0001] = 0xCD;
    execute(*p);
    EXPECT_EQ(p->pc, 0x0000);
    EXPECT_EQ(p->address, 0xCDAB);
}

// The two operand bytes are read with one load where they lie side by side and one by one near the
// top of memory: the same fields either way, at each origin around the boundary, and never the
// byte after the instruction.
TEST(Fetch, EveryOriginNearTheTopDecodesTheSameFields) {
    for (const unsigned origin : {0x0000U, 0x1234U, 0xFFFBU, 0xFFFCU, 0xFFFDU, 0xFFFEU, 0xFFFFU}) {
        SCOPED_TRACE(origin);
        auto p = processor_with(0x0000, {});
        const std::array<std::uint8_t, 4> bytes{0x01, 0x34, 0x12, 0xEE}; // LXI B,1234H; then 0xEE
        for (unsigned i = 0; i < bytes.size(); ++i) {
            p->memory[static_cast<std::uint16_t>(origin + i)] = bytes[i];
        }
        p->pc = static_cast<std::uint16_t>(origin);
        execute(*p);
        expect_lxi_b_1234(*p);
        EXPECT_EQ(p->pc, static_cast<std::uint16_t>(origin + 3));
    }
}

TEST(Fetch, LoadsAndStoresWrapTheirSecondByte) {
    auto p = processor_with(0x0100, {0x2A, 0xFF, 0xFF}); // LHLD 0xFFFF
    p->memory[0xFFFF] = 0x34;
    p->memory[0x0000] = 0x12;
    execute(*p);
    EXPECT_EQ(get_hl(*p), 0x1234);
}

// --- Branches -----------------------------------------------------------------------------------

struct Condition_Case {
    const char* name;
    std::uint8_t holds; // flags under which the condition holds
    std::uint8_t fails; // flags under which it does not
};

// In code order 0 to 7: NZ, Z, NC, C, PO, PE, P, M.
constexpr std::array<Condition_Case, 8> conditions{{
    {"NZ", 0, flag::zero},
    {"Z", flag::zero, 0},
    {"NC", flag::zero | flag::sign, flag::carry},
    {"C", flag::carry, flag::zero | flag::sign | flag::parity},
    {"PO", flag::carry, flag::parity},
    {"PE", flag::parity, flag::sign | flag::zero | flag::carry},
    {"P", flag::zero, flag::sign},
    {"M", flag::sign, flag::parity | flag::carry | flag::zero},
}};

TEST(Branches, ConditionalJumpsCallsAndReturns) {
    for (unsigned code = 0; code < 8; ++code) {
        for (const bool taken : {true, false}) {
            const auto& condition = conditions[code];
            SCOPED_TRACE(std::string(condition.name) + (taken ? " taken" : " not taken"));
            const std::uint8_t flags = taken ? condition.holds : condition.fails;
            const auto jump = static_cast<std::uint8_t>(0xC2 + 8 * code);
            const auto call = static_cast<std::uint8_t>(0xC4 + 8 * code);
            const auto ret = static_cast<std::uint8_t>(0xC0 + 8 * code);

            auto p = processor_with(0x0200, {jump, 0x34, 0x12});
            p->flags = flags;
            execute(*p);
            EXPECT_EQ(p->pc, taken ? 0x1234 : 0x0203);
            EXPECT_EQ(p->flags, flags);

            p = processor_with(0x0200, {call, 0x34, 0x12});
            p->flags = flags;
            p->sp = 0x2400;
            execute(*p);
            EXPECT_EQ(p->pc, taken ? 0x1234 : 0x0203);
            EXPECT_EQ(p->sp, taken ? 0x23FE : 0x2400);
            EXPECT_EQ(p->memory[0x23FF], taken ? 0x02 : 0x00);
            EXPECT_EQ(p->memory[0x23FE], taken ? 0x03 : 0x00);

            p = processor_with(0x0200, {ret});
            p->flags = flags;
            p->sp = 0x23FE;
            p->memory[0x23FE] = 0x78;
            p->memory[0x23FF] = 0x56;
            execute(*p);
            EXPECT_EQ(p->pc, taken ? 0x5678 : 0x0201);
            EXPECT_EQ(p->sp, taken ? 0x2400 : 0x23FE);
        }
    }
}

TEST(Branches, UnconditionalTransfers) {
    auto p = processor_with(0x0200, {0xCD, 0x00, 0x10}); // CALL pushes the next address
    p->sp = 0x2400;
    execute(*p);
    EXPECT_EQ(p->pc, 0x1000);
    EXPECT_EQ(p->sp, 0x23FE);
    EXPECT_EQ(p->memory[0x23FF], 0x02);
    EXPECT_EQ(p->memory[0x23FE], 0x03);

    p->memory[0x1000] = 0xC9; // RET
    execute(*p);
    EXPECT_EQ(p->pc, 0x0203);
    EXPECT_EQ(p->sp, 0x2400);

    for (unsigned n = 0; n < 8; ++n) {
        p = processor_with(0x0345, {static_cast<std::uint8_t>(0xC7 + 8 * n)});
        p->sp = 0x2400;
        execute(*p);
        EXPECT_EQ(p->pc, 8 * n);
        EXPECT_EQ(p->memory[0x23FF], 0x03);
        EXPECT_EQ(p->memory[0x23FE], 0x46);
    }

    p = processor_with(0x0200, {0xE9}); // PCHL
    p->h = 0xBE;
    p->l = 0xEF;
    execute(*p);
    EXPECT_EQ(p->pc, 0xBEEF);

    p = processor_with(0x0200, {0xC3, 0xFF, 0xFF}); // JMP ignores the writable range
    execute(*p);
    EXPECT_EQ(p->pc, 0xFFFF);
}

TEST(Branches, CallWithTheStackInRomDropsTheReturnAddressButStillJumps) {
    auto p = processor_with(0x0200, {0xCD, 0x00, 0x30});
    p->sp = 0x1000;
    execute(*p);
    EXPECT_EQ(p->pc, 0x3000);
    EXPECT_EQ(p->sp, 0x0FFE);
    EXPECT_EQ(p->memory[0x0FFF], 0x00);
    EXPECT_EQ(p->memory[0x0FFE], 0x00);
}

// --- Data transfer and machine control ----------------------------------------------------------

TEST(Transfers, MovCopiesEverySourceToEveryDestination) {
    // H and L point M at 0x2010; a MOV into H or L moves M's address, so M is read there.
    constexpr std::array<std::uint8_t, 8> values{0x11, 0x22, 0x33, 0x44, 0x20, 0x10, 0x77, 0x88};
    auto registers = [](Intel_8080& p) {
        return std::array<std::uint8_t*, 8>{&p.b, &p.c, &p.d, &p.e, &p.h, &p.l, &p.memory[0x2010],
                                            &p.a};
    };
    for (unsigned opcode = 0x40; opcode < 0x80; ++opcode) {
        if (opcode == 0x76) {
            continue;
        }
        SCOPED_TRACE(opcode);
        auto p = processor_with(0x0100, {static_cast<std::uint8_t>(opcode)});
        const auto before = registers(*p);
        for (unsigned code = 0; code < 8; ++code) {
            *before[code] = values[code];
        }
        execute(*p);
        const unsigned destination = (opcode >> 3) & 7;
        const unsigned source = opcode & 7;
        const auto after = registers(*p);
        for (unsigned code = 0; code < 8; ++code) {
            EXPECT_EQ(*after[code], code == destination ? values[source] : values[code]) << code;
        }
    }
}

TEST(Transfers, ImmediateLoadsAndExchanges) {
    auto p = processor_with(0x0100, {0x01, 0x02, 0x01, 0x11, 0x04, 0x03, 0x21, 0x06, 0x05, 0x31,
                                     0x08, 0x07, 0x06, 0x09, 0x3E, 0x0A, 0xEB, 0xF9});
    run(*p, 4);
    EXPECT_EQ(get_bc(*p), 0x0102);
    EXPECT_EQ(get_de(*p), 0x0304);
    EXPECT_EQ(get_hl(*p), 0x0506);
    EXPECT_EQ(p->sp, 0x0708);
    run(*p, 2);
    EXPECT_EQ(get_bc(*p), 0x0902);
    EXPECT_EQ(p->a, 0x0A);
    execute(*p); // XCHG
    EXPECT_EQ(get_de(*p), 0x0506);
    EXPECT_EQ(get_hl(*p), 0x0304);
    execute(*p); // SPHL
    EXPECT_EQ(p->sp, 0x0304);
    EXPECT_EQ(p->pc, 0x0112);
}

TEST(Control, InterruptFlagHaltAndNop) {
    auto p = processor_with(0x0100, {0xFB, 0xF3});
    execute(*p);
    EXPECT_TRUE(p->interrupts_enabled); // at once, no one-instruction delay
    execute(*p);
    EXPECT_FALSE(p->interrupts_enabled);

    for (const std::uint8_t opcode : {std::uint8_t{0x76}, std::uint8_t{0x00}}) {
        p = processor_with(0x0100, {opcode, 0x12, 0x34});
        p->a = 1;
        p->flags = 0xFF;
        p->sp = 0x2400;
        auto expected = std::make_unique<Intel_8080>(*p);
        execute(*p);
        expected->pc = 0x0101;
        expected->opcode = opcode;
        expected->byte_2 = expected->data = 0x12;
        expected->byte_3 = 0x34;
        expected->address = 0x3412;
        EXPECT_EQ(std::memcmp(p.get(), expected.get(), sizeof(Intel_8080)), 0) << int{opcode};
    }
}

// --- Unimplemented opcodes ----------------------------------------------------------------------

constexpr std::array<std::uint8_t, 14> unimplemented{0x08, 0x10, 0x18, 0x20, 0x28, 0x30, 0x38,
                                                     0xCB, 0xD3, 0xD9, 0xDB, 0xDD, 0xED, 0xFD};

TEST(Unimplemented, EachThrowsItsExactMessageAndChangesOnlyTheFetch) {
    constexpr std::array<const char*, 14> digits{"08", "10", "18", "20", "28", "30", "38",
                                                 "CB", "D3", "D9", "DB", "DD", "ED", "FD"};
    for (std::size_t i = 0; i < unimplemented.size(); ++i) {
        const std::uint8_t opcode = unimplemented[i];
        SCOPED_TRACE(digits[i]);
        auto p = processor_with(0x2FFF, {opcode, 0xAB, 0xCD});
        p->a = 0x12;
        p->flags = 0xA9;
        p->sp = 0x2400;
        p->interrupts_enabled = true;
        Intel_8080 expected_state = *p;
        try {
            execute(*p);
            ADD_FAILURE() << "no exception";
        } catch (const Tavrin::Exception& error) {
            EXPECT_EQ(error.message, std::string("Could not execute instruction \"") + digits[i] +
                                         "\" because it has not been implemented.");
        }
        expected_state.pc = 0x3000;
        expected_state.opcode = opcode;
        expected_state.byte_2 = expected_state.data = 0xAB;
        expected_state.byte_3 = 0xCD;
        expected_state.address = 0xCDAB;
        EXPECT_EQ(std::memcmp(p.get(), &expected_state, sizeof(Intel_8080)), 0);
    }
}

// The flags and the decode fields reach the record together when an instruction ends: every
// opcode leaves the bytes it fetched, whatever it did to the flags on the way.
TEST(Fetch, EveryOpcodeLeavesItsOwnDecodeFieldsBesideTheFlags) {
    for (unsigned opcode = 0; opcode < 256; ++opcode) {
        if (std::find(unimplemented.begin(), unimplemented.end(), opcode) != unimplemented.end()) {
            continue;
        }
        SCOPED_TRACE(opcode);
        auto p = processor_with(0x2000, {static_cast<std::uint8_t>(opcode), 0x5A, 0x30});
        p->sp = 0x3000;
        p->memory[0x3000] = 0x7E; // what POP PSW loads into the flags
        p->flags = 0xFF;
        execute(*p);
        EXPECT_EQ(p->opcode, opcode);
        EXPECT_EQ(p->byte_2, 0x5A);
        EXPECT_EQ(p->byte_3, 0x30);
        EXPECT_EQ(p->data, 0x5A);
        EXPECT_EQ(p->address, 0x305A);
        if (opcode == 0xF1) {
            EXPECT_EQ(p->flags, 0x7E);
        }
    }
}

TEST(Unimplemented, NoOtherOpcodeThrowsAndNoneTouchesTheFlaglessBits) {
    for (unsigned opcode = 0; opcode < 256; ++opcode) {
        const bool throws =
            std::find(unimplemented.begin(), unimplemented.end(), opcode) != unimplemented.end();
        if (throws || opcode == 0xF1) { // POP PSW loads all eight bits by design
            continue;
        }
        for (const std::uint8_t flagless : {std::uint8_t{0x00}, std::uint8_t{0x54}}) {
            auto p = processor_with(0x2000, {static_cast<std::uint8_t>(opcode), 0x01, 0x30});
            p->sp = 0x3000;
            p->flags = flagless;
            p->a = 0x9B;
            EXPECT_NO_THROW(execute(*p)) << opcode;
            EXPECT_EQ(p->flags & 0x54, flagless) << opcode;
        }
    }
}

// --- A whole program ----------------------------------------------------------------------------

TEST(Programs, CopiesAStringWithACallAndALoop) {
    // 0100: LXI SP,2400; LXI H,0120; LXI D,2100; CALL 0110; HLT
    // 0110: MOV A,M; STAX D; INX H; INX D; ORA A; JNZ 0110; RET
    // 0120: "HI!",0
    auto p = processor_with(
        0x0100, {0x31, 0x00, 0x24, 0x21, 0x20, 0x01, 0x11, 0x00, 0x21, 0xCD, 0x10, 0x01, 0x76});
    const std::array<std::uint8_t, 9> routine{0x7E, 0x12, 0x23, 0x13, 0xB7, 0xC2, 0x10, 0x01, 0xC9};
    std::copy(routine.begin(), routine.end(), p->memory.begin() + 0x0110);
    std::memcpy(&p->memory[0x0120], "HI!", 4);
    int instructions = 0;
    for (; p->pc != 0x010D && instructions < 100; ++instructions) {
        execute(*p);
    }
    EXPECT_EQ(instructions, 4 + 4 * 6 + 1 + 1); // set-up and call, four rounds, RET, HLT
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p->memory[0x2100])), "HI!");
    EXPECT_EQ(p->sp, 0x2400);
    EXPECT_EQ(get_de(*p), 0x2104);
}

} // namespace
