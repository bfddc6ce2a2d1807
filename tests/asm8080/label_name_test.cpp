// Labels named like instructions, registers and directives ("daa:"), as the classic CPU tests'
// sources name their tests: a symbol where a value stands, and only there.

#include "formats/symbols.hpp"
#include "tests/asm8080/assemble.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct Refusal {
    int line;
    std::string message;
};

struct Case {
    const char* name;
    std::string source;
    Bytes image;                    // when it assembles
    std::optional<Refusal> refusal; // when it does not: its first error
};

const std::vector<Case> cases{
    {"LabelAndInstructionOnOneLine",
     "daa: daa\nlda: LDA lda\n DW daa, lda+1",
     {0x27, 0x3A, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00},
     {}},
    {"ForwardReferencesInOperands",
     " CALL daa\n JMP lda\n DW daa\ndaa: DAA\nlda: LDA 0",
     {0xCD, 0x08, 0x00, 0xC3, 0x09, 0x00, 0x08, 0x00, 0x27, 0x3A, 0x00, 0x00},
     {}},
    // The classic exercisers' shape: a table of tests, each test named like what it tests.
    {"ATableOfTests",
     "        LXI H,tests\n"
     "        CALL run\n"
     "        HLT\n"
     "run:    RET\n"
     "tests:  DW daa\n"
     "        DW lda\n"
     "        DW cma\n"
     "        DW 0\n"
     "daa:    DB 0FFH         ; flag mask\n"
     "        DAA\n"
     "lda:    DB 0D7H\n"
     "        LDA tests\n"
     "cma:    DB 0\n"
     "        CMA\n",
     {0x21, 0x08, 0x00, 0xCD, 0x07, 0x00, 0x76, 0xC9, 0x10, 0x00, 0x12, 0x00,
      0x16, 0x00, 0x00, 0x00, 0xFF, 0x27, 0xD7, 0x3A, 0x08, 0x00, 0x00, 0x2F},
     {}},
    // Where an instruction takes a register the register wins; where it takes a value, the label.
    {"RegistersStayRegisters",
     "a: MOV A,B\nb: MVI B,A+1\n LXI H,A\n DW a, b\n INR A\n PUSH PSW\npsw: LDAX B\n DW psw",
     {0x78, 0x06, 0x01, 0x21, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x3C, 0xF5, 0x0A, 0x0C, 0x00},
     {}},
    {"ARegisterWhereAValueStandsIsTheLabel", " MVI A,b\nb: NOP", {0x3E, 0x02, 0x00}, {}},
    // Directives' names, with values that the first pass needs from the lines above.
    {"DirectivesNamesAndFirstPassValues",
     "ds: DS 1\nif: IF ds EQ 0\n DB if+1\n ENDIF\ndb: DB db+1",
     {0x00, 0x02, 0x03},
     {}},
    {"SetAndIfdef",
     "lda:\nb: SET 1\nb: SET b+1\n IFDEF lda\n DB b\n ENDIF\n IFDEF cma\n DB 9\n ENDIF\ncma:",
     {0x02},
     {}},
    {"MacroWritesTheLabels",
     "test MACRO name,op\nname: op\n ENDM\n test daa,DAA\n test cma,CMA\n DW cma, daa",
     {0x27, 0x2F, 0x01, 0x00, 0x00, 0x00},
     {}},
    // Real misuse keeps its errors.
    {"NoColonNoLabel",
     "lda EQU 5",
     {},
     Refusal{1, "'lda' is a reserved word and cannot be a label"}},
    {"NoColonNoSet", "b SET 1", {}, Refusal{1, "'b' is a reserved word and cannot be a label"}},
    {"FirstColumnIsTheInstruction",
     "daa\n DW daa",
     {},
     Refusal{2, "'daa' cannot be used as a value"}},
    {"OperatorWordsNeverLabels",
     "high: NOP",
     {},
     Refusal{1, "'high' is a reserved word and cannot be a label"}},
    {"NoLabelNamedLikeADefinition",
     "equ: EQU 1",
     {},
     Refusal{1, "'equ' is a reserved word and cannot be a label"}},
    {"NoMacroNamedLikeAnInstruction",
     "mov: MACRO\n ENDM",
     {},
     Refusal{1, "'mov' is a reserved word and cannot be a label"}},
    {"ARegisterWithoutItsLabel", " MVI A,B", {}, Refusal{1, "'B' cannot be used as a value"}},
    {"FirstPassNeedsItAbove",
     " ORG lda\nlda: NOP",
     {},
     Refusal{1, "'lda' cannot be used as a value"}},
    {"RestartTakesAValue",
     "a: NOP\n RST a+8",
     {},
     Refusal{2, "value 8 is out of range for RST (0 to 7)"}},
};

class Label_Name : public testing::TestWithParam<Case> {};

TEST_P(Label_Name, AssemblesOrIsRefused) {
    const Case& c = GetParam();
    const auto program = assemble_text(c.source);
    if (!c.refusal) {
        for (const Asm8080::Diagnostic& error : program.errors) {
            ADD_FAILURE() << Asm8080::format_diagnostic(error);
        }
        EXPECT_EQ(program.image, c.image) << c.source;
        return;
    }
    ASSERT_FALSE(program.errors.empty()) << c.source;
    EXPECT_EQ(program.errors[0].line, c.refusal->line) << c.source;
    EXPECT_EQ(program.errors[0].message, c.refusal->message) << c.source;
    EXPECT_TRUE(program.image.empty()) << c.source;
}

INSTANTIATE_TEST_SUITE_P(Asm8080, Label_Name, testing::ValuesIn(cases),
                         [](const auto& test) { return std::string(test.param.name); });

// The names reach the listing and the symbol file as any label's, and read back.
TEST(Label_Names, AreListedAndWrittenToTheSymbolFile) {
    const auto named = assemble_text(" NOP\ndaa: DAA\nb: EQU 6");
    ASSERT_TRUE(named.ok());
    EXPECT_NE(Asm8080::format_listing(named).find("\nSymbols:\n0006  B\n0001  DAA\n"),
              std::string::npos)
        << Asm8080::format_listing(named);
    const std::string file = Formats::format_symbol_file(named.symbols, named.values);
    EXPECT_EQ(file, "0001 DAA\n0006 B EQU\n");
    const Formats::Symbols read = Formats::parse_symbol_file(file, "test.sym");
    EXPECT_EQ(read.value_of("daa"), 1);
}

} // namespace
