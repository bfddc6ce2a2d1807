// The classic assemblers' dialect: word operators, SET, DS with a fill, conditions, the
// directives that only set context, macros and repetitions, INCBIN; and the public CP/M-era
// sources, which must assemble unchanged to their published binaries.

#include "formats/line_map.hpp"
#include "tests/asm8080/assemble.hpp"
#include "tests/support/cpu_tests.hpp"
#include "tools/asm8080/instructions.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Error_Case {
    std::string source;
    int line;
    std::string message;
};

void expect_error(const Error_Case& c) {
    const auto program = assemble_text(c.source);
    ASSERT_FALSE(program.errors.empty()) << c.source;
    EXPECT_EQ(program.errors[0].line, c.line) << c.source;
    EXPECT_EQ(program.errors[0].message, c.message) << c.source;
    EXPECT_TRUE(program.image.empty()) << c.source;
}

TEST(Dialect, WordOperatorsKeepTheClassicPrecedence) {
    const std::vector<std::pair<const char*, int>> cases{
        {"0F0H AND 3CH", 0x30},
        {"1 OR 2 XOR 3", 0}, // one level, left to right
        {"1 OR 2 AND 3", 3}, // AND binds tighter
        {"NOT 0", 0xFFFF},
        {"NOT 1 EQ 1", 0}, // NOT applies to the relation
        {"5 EQ 5", 0xFFFF},
        {"5 NE 5", 0},
        {"-1 LT 0", 0}, // 16-bit values, unsigned
        {"1 LE 1 AND 2 GT 1", 0xFFFF},
        {"2 GE 3", 0},
        {"1 + 2 EQ 3", 0xFFFF}, // arithmetic binds tighter than relations
        {"1 SHL 2 + 1", 5},     // SHL with *, unlike <<
        {"0FFFFH SHR 4", 0x0FFF},
        {"-1 SHR 8", 0xFF},
        {"17 MOD 5 * 2", 4},
        {"HIGH 1234H + 1", 0x13}, // HIGH and LOW bind tightest
        {"LOW 1234H", 0x34},
        {"HIGH(1234H) SHL 8 OR LOW(-1)", 0x12FF},
        {"(1 EQ 1) EQ 0FFFFH", 0xFFFF},
        {"3 AND NOT 1", 2},
        {"1 or 2", 3}, // case-insensitive
    };
    for (const auto& [expression, value] : cases) {
        const Bytes image = assemble_ok(std::string(" DW ") + expression);
        ASSERT_EQ(image.size(), 2u) << expression;
        EXPECT_EQ(image[0] | image[1] << 8, value) << expression;
    }
    expect_error({"and: NOP", 1, "'and' is a reserved word and cannot be a label"});
    expect_error({" DW 1 SHL 64", 1, "shift count 64 is out of range"});
    expect_error({" DW 5 MOD 0", 1, "division by zero"});
}

TEST(Dialect, ContextDirectivesAreAcceptedAndOtherProcessorsRefused) {
    EXPECT_EQ(assemble_ok("\ttitle\t'A test: of anything'\n"
                          "\tNAME\tmain\n"
                          "\t.8080\n"
                          "\taseg\n"
                          "\tPAGE\t60\n"
                          "\tPAGE\n"
                          "start:\tNOP\n"
                          "error:\tJMP error\n" // ERROR, NAME, PAGE and TITLE may be labels
                          "\tEND\tstart\n"),
              (Bytes{0x00, 0xC3, 0x01, 0x00}));
    for (const Error_Case& c : {
             Error_Case{" NOP\n\t.Z80\n", 2,
                        "'.Z80' would change the instruction set: asm8080 assembles 8080 code "
                        "only"},
             Error_Case{" .8085", 1,
                        "'.8085' would change the instruction set: asm8080 assembles 8080 code "
                        "only"},
             Error_Case{" CSEG", 1,
                        "'CSEG' asks for relocatable code: asm8080 places everything where ORG "
                        "says (ASEG)"},
             Error_Case{" END nowhere", 1, "undefined symbol 'nowhere'"},
         }) {
        expect_error(c);
    }
}

TEST(Dialect, SetDsFillConditionsAndError) {
    const std::vector<std::pair<std::string, Bytes>> cases{
        {"v SET 1\n DB v\nv SET v+1\n DB v\nv DEFL v*10\n DB v", {1, 2, 20}},
        {"v SET 1\n DB w\nw EQU v\nv SET 2", {1}}, // each use sees the SET above it
        {" DS 3,0AAH\n DB 1\n DS 2", {0xAA, 0xAA, 0xAA, 1}},
        {" IF 1\n DB 1\n ELSE\n DB 2\n ENDIF", {1}},
        {" IF 0\n DB 1\n ELSE\n DB 2\n ENDIF", {2}},
        {" IF 2 GT 1\n IF 0\n DB 1\n ELSE\n DB 2\n ENDIF\n ELSE\n IF 1\n DB 3\n ENDIF\n ENDIF",
         {2}},
        {" IF 0\n FROB ,,( 'unchecked\n IF 1\n DB 1\n ENDIF\n ELSE\n DB 2\n ENDIF", {2}},
        {"x EQU 1\n IFDEF x\n DB 1\n ENDIF\n IFNDEF x\n DB 2\n ENDIF\n IFDEF y\n DB 3\n ENDIF",
         {1}},
        {" IF 0\n ERROR 'not met'\n ENDIF\n DB 9", {9}},
        {"n SET 0\n IF n EQ 0\n DB 4\n ENDIF", {4}},
    };
    for (const auto& [source, image] : cases) {
        EXPECT_EQ(assemble_ok(source), image) << source;
    }
    for (const Error_Case& c : {
             Error_Case{" NOP\n ERROR 'the table is too long'", 2, "the table is too long"},
             Error_Case{" IF later\n ENDIF\nlater:", 1,
                        "'later' must be defined on an earlier line"},
             Error_Case{" IF 1\n NOP", 1, "IF without ENDIF"},
             Error_Case{" ELSE", 1, "ELSE without IF"},
             Error_Case{" IF 1\n ENDIF\n ENDIF", 3, "ENDIF without IF"},
             Error_Case{" IF 1\n ELSE\n ELSE\n ENDIF", 3, "a second ELSE for the IF on line 1"},
             Error_Case{" IF 1\n ENDIF 2\n NOP", 2, "ENDIF takes no operands"}, // and no more
             Error_Case{"x EQU 1\nx SET 2", 2,
                        "'x' is already defined on line 1 by other means than SET, so SET "
                        "cannot change it"},
             Error_Case{" DB v\nv SET 1", 1, "'v' is used before its first SET"},
             Error_Case{" SET 1", 1, "SET needs a name"},
             Error_Case{" DS 2,300", 1, "value 300 is out of range for a byte"},
             Error_Case{" DS 1,2,3", 1,
                        "DS takes a size and perhaps a fill value, found 3 operands"},
         }) {
        expect_error(c);
    }
    // A faulty ENDIF still closes its IF: nothing more is reported.
    EXPECT_EQ(assemble_text(" IF 1\n ENDIF 2\n NOP").errors.size(), 1u);
}

TEST(Dialect, MacrosAndRepetitions) {
    const std::vector<std::pair<std::string, Bytes>> cases{
        // Parameters in operands, in names joined with &, and in strings only joined with &.
        {"load MACRO reg,value\n MVI reg,value\n ENDM\n load A,1\n load b, 2", {0x3E, 1, 0x06, 2}},
        {"jump MACRO cond\n J&cond x&cond\nx&cond: ENDM\n jump Z\n jump NC",
         {0xCA, 3, 0, 0xD2, 6, 0}},
        {"say MACRO word\n DB 'word &word'\n ENDM\n say hi", {'w', 'o', 'r', 'd', ' ', 'h', 'i'}},
        {"mc MACRO a,b\n DB a+0,b+0\n ENDM\n mc 1", {1, 0}}, // a missing argument is empty
        {"mc MACRO list\n DB list\n ENDM\n mc <1,2,3>", {1, 2, 3}},
        {"mc MACRO v\n DB v\n ENDM\nn EQU 5\n mc %n*2", {10}},
        // LOCAL labels differ in every expansion.
        {"wait MACRO\n LOCAL again\nagain: DCR A\n JNZ again\n ENDM\n wait\n wait",
         {0x3D, 0xC2, 0, 0, 0x3D, 0xC2, 4, 0}},
        // A macro calling another, one defining another, and recursion that stops through IF.
        {"inner MACRO\n NOP\n ENDM\nouter MACRO\n inner\n HLT\n ENDM\n outer", {0x00, 0x76}},
        {"make MACRO\nmade MACRO\n DB 7\n ENDM\n ENDM\n make\n made", {7}},
        {"count MACRO n\n IF n\n DB n\n count %n-1\n ENDIF\n ENDM\n count 3", {3, 2, 1}},
        {"mc MACRO\n DB 1\n EXITM\n DB 2\n ENDM\n mc", {1}},
        {" REPT 3\n DB 0AAH\n ENDM", {0xAA, 0xAA, 0xAA}},
        {" REPT 0\n DB 1\n ENDM", {}},
        {"v SET 0\n REPT 2\n REPT 2\nv SET v+1\n DB v\n ENDM\n ENDM", {1, 2, 3, 4}},
        {" IRP r,<B,C,D>\n INR r\n ENDM", {0x04, 0x0C, 0x14}},
        {" IRPC c,AZ\n DB '&c'\n ENDM", {'A', 'Z'}},
        {"here: REPT 2\n DW here\n ENDM", {0, 0, 0, 0}},
        {"mk MACRO n\nat&n: REPT 1\n DW at&n\n ENDM\n ENDM\n mk 1\n mk 2", {0, 0, 2, 0}},
    };
    for (const auto& [source, image] : cases) {
        EXPECT_EQ(assemble_ok(source), image) << source;
    }
    for (const Error_Case& c : {
             Error_Case{"mc MACRO\n NOP\n", 1, "MACRO without ENDM"},
             Error_Case{" REPT 2\n NOP\n", 1, "REPT without ENDM"},
             Error_Case{" ENDM", 1, "ENDM without MACRO, REPT, IRP or IRPC"},
             Error_Case{"mc MACRO a\n DB a\n ENDM\n mc 1,2", 4, "mc takes 1 argument, found 2"},
             Error_Case{"mc MACRO\n DB x\n ENDM\n\n mc", 5,
                        "undefined symbol 'x' (in mc, from line 2)"},
             Error_Case{"mc MACRO\n IF 1\n ENDM\n mc", 4, "IF without ENDIF (in mc, from line 2)"},
             Error_Case{"mc MACRO\n mc\n ENDM\n mc", 4,
                        "macros and repetitions nested more than 64 deep (does mc call itself "
                        "without end?) (in mc, from line 2)"},
             Error_Case{" REPT later\n ENDM\nlater:", 1,
                        "'later' must be defined on an earlier line"},
             Error_Case{" EXITM", 1, "EXITM outside a macro"},
             Error_Case{"mc MACRO 1x\n ENDM", 1, "a macro's parameter is a name, not '1x'"},
         }) {
        expect_error(c);
    }
}

TEST(Dialect, ARunawayMacroIsOneErrorAndTheRestIsStillRead) {
    const auto program = assemble_text("two MACRO\n two\n two\n ENDM\n two\n FROB");
    ASSERT_EQ(program.errors.size(), 2u);
    EXPECT_EQ(program.errors[0].line, 5);
    EXPECT_EQ(program.errors[1].message, "unknown mnemonic 'FROB'");
}

TEST(Dialect, ExpansionsAreListedUnderTheirCallAndMappedToIt) {
    const auto program = assemble_text("two MACRO\n NOP\n HLT\n ENDM\n two\n DB 1\n");
    ASSERT_TRUE(program.ok());
    EXPECT_EQ(Asm8080::format_listing(program), "                      1  two MACRO\n"
                                                "                      2   NOP\n"
                                                "                      3   HLT\n"
                                                "                      4   ENDM\n"
                                                "                      5   two\n"
                                                "0000  00              5+  NOP\n"
                                                "0001  76              5+  HLT\n"
                                                "0002  01              6   DB 1\n");
    EXPECT_EQ(Formats::format_line_map(Asm8080::line_map_of(program)),
              "0000 test.asm:5\n0001 test.asm:5\n0002 test.asm:6\n");
    // Each written line names the body line that wrote it, for a breakpoint there.
    std::vector<int> body_lines;
    for (const Asm8080::Listing_Line& line : program.listing) {
        body_lines.push_back(line.body_line);
    }
    EXPECT_EQ(body_lines, (std::vector<int>{0, 0, 0, 0, 0, 2, 3, 0}));
}

class Files : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("asm8080_dialect_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder / "art");
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(folder / name, std::ios::binary) << text;
    }
    std::filesystem::path folder;
};

TEST_F(Files, IncbinReadsBesideTheIncludingFile) {
    write("art/picture.bin", std::string("\x01\x02\xFF", 3));
    write("art/pictures.inc", "pic: INCBIN \"picture.bin\"\n");
    write("main.asm", " DB 9\n INCLUDE \"art/pictures.inc\"\n DW pic\n");
    const auto program = Asm8080::assemble_file((folder / "main.asm").string());
    ASSERT_TRUE(program.ok()) << Asm8080::format_diagnostic(program.errors[0]);
    EXPECT_EQ(program.image, (Bytes{9, 1, 2, 0xFF, 1, 0}));
    EXPECT_EQ(program.files.back(), (folder / "art" / "picture.bin").string());

    write("big.bin", std::string(0x10001, '\0'));
    write("bad.asm", " INCBIN \"missing.bin\"\n INCBIN \"big.bin\"\n INCBIN picture\n");
    const auto bad = Asm8080::assemble_file((folder / "bad.asm").string());
    ASSERT_EQ(bad.errors.size(), 3u);
    EXPECT_EQ(bad.errors[0].message,
              "cannot open included file '" + (folder / "missing.bin").string() + "'");
    EXPECT_EQ(bad.errors[1].message,
              "'" + (folder / "big.bin").string() + "' is larger than the 64 KiB of memory");
    EXPECT_EQ(bad.errors[2].message, "INCBIN expects a quoted file name");
}

// The published binaries are the program padded to whole 128-byte records; 8080PRE's also holds
// the space its last lines reserve, up to STACK.
// A directive added to the table is named in both manuals, as a word of its own.
TEST(Dialect, EveryDirectiveIsInTheManuals) {
    for (const char* manual : {"/tools/asm8080/README.md", "/tools/asm8080/asm8080.1"}) {
        std::ostringstream text;
        text << std::ifstream(std::string(TAVRIN_REPOSITORY_ROOT) + manual).rdbuf();
        ASSERT_FALSE(text.str().empty()) << manual;
        for (const Asm8080::Directive_Info& row : Asm8080::directive_table()) {
            const std::string name =
                std::regex_replace(std::string(row.name), std::regex("\\."), "\\.");
            EXPECT_TRUE(std::regex_search(
                text.str(), std::regex("(^|[^A-Za-z0-9.])" + name + "($|[^A-Za-z0-9])")))
                << row.name << " in " << manual;
        }
    }
}

TEST(PublicSources, AssembleUnchangedToTheirBinaries) {
    struct Case {
        const char* source;
        const char* binary;
        const char* end; // the symbol where the published image ends, if not the last byte
    };
    for (const Case& c : {Case{"TST8080.ASM", "TST8080.COM", nullptr},
                          Case{"8080PRE.MAC", "8080PRE.COM", "STACK"}}) {
        const auto source = cpu_tests_directory() / c.source;
        const auto binary = cpu_tests_directory() / c.binary;
        if (!std::filesystem::exists(source) || !std::filesystem::exists(binary)) {
            GTEST_SKIP() << source << " or " << binary << " is absent: set TAVRIN_CPU_TESTS to "
                         << "the folder holding them to run this test.";
        }
        const auto program =
            Asm8080::assemble_file(source.string(), {.base = 0x100, .size = std::nullopt});
        for (const Asm8080::Diagnostic& error : program.errors) {
            ADD_FAILURE() << Asm8080::format_diagnostic(error);
        }
        std::ifstream file(binary, std::ios::binary);
        const Bytes published{std::istreambuf_iterator<char>(file), {}};
        ASSERT_GE(published.size(), program.image.size()) << c.source;
        EXPECT_TRUE(std::equal(program.image.begin(), program.image.end(), published.begin()))
            << c.source;
        const std::size_t end = c.end ? program.symbols.at(c.end) - 0x100u : program.image.size();
        EXPECT_EQ(published.size(), (end + 127) / 128 * 128) << c.source;
    }
}

} // namespace
