// Every documented 8080 instruction form against the processor's opcode map, and the operand
// forms the assembler must refuse.

#include "tests/asm8080/assemble.hpp"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

namespace {

// The opcode map, by opcode. "#" stands for a byte operand, "##" for a word; "" marks the
// twelve opcodes without a documented instruction.
// clang-format off
constexpr std::array<const char*, 256> opcode_map{
    /* 00 */ "NOP", "LXI B,##", "STAX B", "INX B", "INR B", "DCR B", "MVI B,#", "RLC",
    /* 08 */ "", "DAD B", "LDAX B", "DCX B", "INR C", "DCR C", "MVI C,#", "RRC",
    /* 10 */ "", "LXI D,##", "STAX D", "INX D", "INR D", "DCR D", "MVI D,#", "RAL",
    /* 18 */ "", "DAD D", "LDAX D", "DCX D", "INR E", "DCR E", "MVI E,#", "RAR",
    /* 20 */ "", "LXI H,##", "SHLD ##", "INX H", "INR H", "DCR H", "MVI H,#", "DAA",
    /* 28 */ "", "DAD H", "LHLD ##", "DCX H", "INR L", "DCR L", "MVI L,#", "CMA",
    /* 30 */ "", "LXI SP,##", "STA ##", "INX SP", "INR M", "DCR M", "MVI M,#", "STC",
    /* 38 */ "", "DAD SP", "LDA ##", "DCX SP", "INR A", "DCR A", "MVI A,#", "CMC",
    /* 40 */ "MOV B,B", "MOV B,C", "MOV B,D", "MOV B,E", "MOV B,H", "MOV B,L", "MOV B,M", "MOV B,A",
    /* 48 */ "MOV C,B", "MOV C,C", "MOV C,D", "MOV C,E", "MOV C,H", "MOV C,L", "MOV C,M", "MOV C,A",
    /* 50 */ "MOV D,B", "MOV D,C", "MOV D,D", "MOV D,E", "MOV D,H", "MOV D,L", "MOV D,M", "MOV D,A",
    /* 58 */ "MOV E,B", "MOV E,C", "MOV E,D", "MOV E,E", "MOV E,H", "MOV E,L", "MOV E,M", "MOV E,A",
    /* 60 */ "MOV H,B", "MOV H,C", "MOV H,D", "MOV H,E", "MOV H,H", "MOV H,L", "MOV H,M", "MOV H,A",
    /* 68 */ "MOV L,B", "MOV L,C", "MOV L,D", "MOV L,E", "MOV L,H", "MOV L,L", "MOV L,M", "MOV L,A",
    /* 70 */ "MOV M,B", "MOV M,C", "MOV M,D", "MOV M,E", "MOV M,H", "MOV M,L", "HLT", "MOV M,A",
    /* 78 */ "MOV A,B", "MOV A,C", "MOV A,D", "MOV A,E", "MOV A,H", "MOV A,L", "MOV A,M", "MOV A,A",
    /* 80 */ "ADD B", "ADD C", "ADD D", "ADD E", "ADD H", "ADD L", "ADD M", "ADD A",
    /* 88 */ "ADC B", "ADC C", "ADC D", "ADC E", "ADC H", "ADC L", "ADC M", "ADC A",
    /* 90 */ "SUB B", "SUB C", "SUB D", "SUB E", "SUB H", "SUB L", "SUB M", "SUB A",
    /* 98 */ "SBB B", "SBB C", "SBB D", "SBB E", "SBB H", "SBB L", "SBB M", "SBB A",
    /* A0 */ "ANA B", "ANA C", "ANA D", "ANA E", "ANA H", "ANA L", "ANA M", "ANA A",
    /* A8 */ "XRA B", "XRA C", "XRA D", "XRA E", "XRA H", "XRA L", "XRA M", "XRA A",
    /* B0 */ "ORA B", "ORA C", "ORA D", "ORA E", "ORA H", "ORA L", "ORA M", "ORA A",
    /* B8 */ "CMP B", "CMP C", "CMP D", "CMP E", "CMP H", "CMP L", "CMP M", "CMP A",
    /* C0 */ "RNZ", "POP B", "JNZ ##", "JMP ##", "CNZ ##", "PUSH B", "ADI #", "RST 0",
    /* C8 */ "RZ", "RET", "JZ ##", "", "CZ ##", "CALL ##", "ACI #", "RST 1",
    /* D0 */ "RNC", "POP D", "JNC ##", "OUT #", "CNC ##", "PUSH D", "SUI #", "RST 2",
    /* D8 */ "RC", "", "JC ##", "IN #", "CC ##", "", "SBI #", "RST 3",
    /* E0 */ "RPO", "POP H", "JPO ##", "XTHL", "CPO ##", "PUSH H", "ANI #", "RST 4",
    /* E8 */ "RPE", "PCHL", "JPE ##", "XCHG", "CPE ##", "", "XRI #", "RST 5",
    /* F0 */ "RP", "POP PSW", "JP ##", "DI", "CP ##", "PUSH PSW", "ORI #", "RST 6",
    /* F8 */ "RM", "SPHL", "JM ##", "EI", "CM ##", "", "CPI #", "RST 7",
};
// clang-format on

std::string with_operand(std::string form) {
    if (const auto word = form.find("##"); word != std::string::npos) {
        return form.replace(word, 2, "1234H");
    }
    if (const auto byte = form.find('#'); byte != std::string::npos) {
        return form.replace(byte, 1, "0A5H");
    }
    return form;
}

TEST(Encoding, EveryDocumentedFormMatchesTheOpcodeMap) {
    int forms = 0;
    for (std::size_t opcode = 0; opcode < opcode_map.size(); ++opcode) {
        const std::string form = opcode_map[opcode];
        if (form.empty()) {
            continue;
        }
        ++forms;
        std::vector<std::uint8_t> expected{static_cast<std::uint8_t>(opcode)};
        if (form.find("##") != std::string::npos) {
            expected.insert(expected.end(), {0x34, 0x12});
        } else if (form.find('#') != std::string::npos) {
            expected.push_back(0xA5);
        }
        const std::string line = "  " + with_operand(form);
        EXPECT_EQ(assemble_ok(line), expected) << line;
    }
    EXPECT_EQ(forms, 244);
}

TEST(Encoding, MnemonicsAndRegistersIgnoreCase) {
    EXPECT_EQ(assemble_ok(" mov a,m\n Mov B,c\n lxi sp,0\n push psw\n rst 7"),
              (std::vector<std::uint8_t>{0x7E, 0x41, 0x31, 0x00, 0x00, 0xF5, 0xFF}));
}

TEST(Encoding, ByteOperandsTakeNegativeValuesAsTwosComplement) {
    EXPECT_EQ(assemble_ok(" MVI A,-1\n ADI -128\n LXI H,-2"),
              (std::vector<std::uint8_t>{0x3E, 0xFF, 0xC6, 0x80, 0x21, 0xFE, 0xFF}));
}

struct Refused {
    const char* line;
    const char* message;
};

class Refusal : public testing::TestWithParam<Refused> {};

TEST_P(Refusal, IsReportedOnItsLine) {
    const Refused& refused = GetParam();
    const auto program = assemble_text(std::string(" NOP\n ") + refused.line + "\n NOP");
    ASSERT_EQ(program.errors.size(), 1u) << refused.line;
    EXPECT_EQ(program.errors[0].line, 2);
    EXPECT_EQ(program.errors[0].message, refused.message);
    EXPECT_TRUE(program.image.empty());
}

INSTANTIATE_TEST_SUITE_P(
    OperandKinds, Refusal,
    testing::Values(Refused{"MOV M,M", "MOV M,M is not an instruction"},
                    Refused{"mov m,m", "MOV M,M is not an instruction"},
                    Refused{"MOV A", "MOV takes 2 operands, found 1"},
                    Refused{"MOV A,B,C", "MOV takes 2 operands, found 3"},
                    Refused{"NOP A", "NOP takes no operands"},
                    Refused{"JMP", "JMP takes 1 operand, found 0"},
                    Refused{"MOV A,5", "MOV expects B, C, D, E, H, L, M or A, found '5'"},
                    Refused{"INR SP", "INR expects B, C, D, E, H, L, M or A, found 'SP'"},
                    Refused{"MVI X,1", "MVI expects B, C, D, E, H, L, M or A, found 'X'"},
                    Refused{"LXI PSW,1", "LXI expects B, D, H or SP, found 'PSW'"},
                    Refused{"DAD C", "DAD expects B, D, H or SP, found 'C'"},
                    Refused{"PUSH SP", "PUSH expects B, D, H or PSW, found 'SP'"},
                    Refused{"POP A", "POP expects B, D, H or PSW, found 'A'"},
                    Refused{"LDAX H", "LDAX expects B or D, found 'H'"},
                    Refused{"STAX SP", "STAX expects B or D, found 'SP'"},
                    Refused{"MVI A,B", "'B' cannot be used as a value"},
                    Refused{"JMP PSW", "'PSW' cannot be used as a value"},
                    Refused{"MVI A,", "missing operand"},
                    Refused{"RST 8", "value 8 is out of range for RST (0 to 7)"},
                    Refused{"RST -1", "value -1 is out of range for RST (0 to 7)"},
                    Refused{"MVI A,256", "value 256 is out of range for a byte"},
                    Refused{"IN -129", "value -129 is out of range for a byte"},
                    Refused{"LXI H,65536", "value 65536 is out of range for a word"},
                    Refused{"JMP -32769", "value -32769 is out of range for a word"},
                    Refused{"LDIR", "unknown mnemonic 'LDIR'"}));

} // namespace
