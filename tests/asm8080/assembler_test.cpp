// Numbers, expressions, symbols, directives, the image's layout, error reports and the listing.

#include "tests/asm8080/assemble.hpp"
#include "tools/asm8080/syntax.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// The 16-bit value an expression assembles to (as DW stores it).
int word_of(const std::string& expression, const std::string& prelude = "") {
    const Bytes image = assemble_ok(prelude + "\n DW " + expression);
    if (image.size() < 2) {
        return -1;
    }
    return image[image.size() - 2] | image[image.size() - 1] << 8;
}

TEST(Numbers, EveryNotationGivesItsValue) {
    EXPECT_EQ(assemble_ok(" DB 10, 0AH, 0ah, 0x0A, 0X0a, 1010B, 12Q, 12O, 10D, 'A', 0FFH, ';'"),
              (Bytes{10, 10, 10, 10, 10, 10, 10, 10, 10, 65, 255, 59}));
    EXPECT_EQ(word_of("'AB'"), 0x4142);
    EXPECT_EQ(word_of("''''"), '\'');
    EXPECT_EQ(word_of("0BH"), 11); // trailing H wins over the B digit
}

TEST(Numbers, MalformedOnesAreErrors) {
    for (const char* number : {"12G", "102B", "0x", "1FFFFFFFFH", "9H9", "089Q"}) {
        const auto program = assemble_text(std::string(" DB ") + number);
        ASSERT_EQ(program.errors.size(), 1u) << number;
        EXPECT_EQ(program.errors[0].message, std::string("invalid number '") + number + "'");
    }
}

TEST(Expressions, FollowCPrecedenceAndAssociativity) {
    const std::vector<std::pair<const char*, int>> cases{
        {"2+3*4", 14},
        {"(2+3)*4", 20},
        {"10-2-3", 5},
        {"100/10/5", 2},
        {"7/2", 3},
        {"-7/2", 0xFFFD},
        {"-7%3", 0xFFFF},
        {"17%5*2", 4},
        {"1<<2+1", 8},
        {"256>>4>>1", 8},
        {"6&3|8", 10},
        {"1|2^3", 1},
        {"5^1&3", 4},
        {"1+2<<3&0F0H", 0x10},
        {"-2*3", 0xFFFA},
        {"- -3", 3},
        {"+3", 3},
        {"1+-1", 0},
        {"~0&0FFH", 0xFF},
        {"~1+1", 0xFFFF},
        {"-(1+2)*2", 0xFFFA},
        {"HIGH(1234H)", 0x12},
        {"LOW(1234H)", 0x34},
        {"HIGH(1234H)<<8|LOW(-1)", 0x12FF},
        {"low(0ABCDH)+1", 0xCE},
        {"HIGH(-1)", 0xFF},
        {"((((7))))", 7},
        {"0FFFFH*0FFFFH&0FFFFH", 1},
    };
    for (const auto& [expression, value] : cases) {
        EXPECT_EQ(word_of(expression), value) << expression;
    }
}

TEST(Expressions, DollarIsTheAddressOfTheStatement) {
    EXPECT_EQ(assemble_ok(" ORG 10H\n JMP $\n DW $, $+2"),
              (Bytes{0xC3, 0x10, 0x00, 0x13, 0x00, 0x15, 0x00}));
    EXPECT_EQ(word_of("here", " ORG 20H\n NOP\nhere EQU $"), 0x21);
}

TEST(Symbols, ForwardReferencesResolve) {
    const std::string source = R"(
        JMP later           ; label defined below
        LXI H,table+2
        MVI A,count         ; EQU defined below, through another EQU
later:  NOP
table:  DB 1, 2, 3
count   EQU size*2
size    EQU finish-table
finish:
)";
    EXPECT_EQ(assemble_ok(source),
              (Bytes{0xC3, 0x08, 0x00, 0x21, 0x0B, 0x00, 0x3E, 0x06, 0x00, 1, 2, 3}));
}

TEST(Symbols, LabelFormsAndCase) {
    const std::string source = "start:\n"
                               "first NOP\n"
                               "  second: NOP\n"
                               "  third HLT\n"
                               "fourth\n"
                               "Value EQU 7\n"
                               "  other equ value+1\n"
                               " DW Start, FIRST, second, Third, fourth, value, OTHER";
    const auto program = assemble_text(source);
    ASSERT_TRUE(program.ok()) << Asm8080::format_diagnostic(program.errors[0]);
    EXPECT_EQ(program.image, (Bytes{0x00, 0x00, 0x76, 0, 0, 0, 0, 1, 0, 2, 0, 3, 0, 7, 0, 8, 0}));
    EXPECT_EQ(program.symbols.at("FOURTH"), 3);
    EXPECT_EQ(program.symbols.at("OTHER"), 8);
}

TEST(Directives, DataAndStrings) {
    EXPECT_EQ(assemble_ok(" DB \"it's\", 'say ''hi''', 0\n DB 'a'+1, -1\n DW 1234H, -2"),
              (Bytes{'i', 't', '\'', 's', 's', 'a', 'y', ' ', '\'', 'h', 'i', '\'', 0, 'b', 0xFF,
                     0x34, 0x12, 0xFE, 0xFF}));
    EXPECT_EQ(assemble_ok(" DB 'x;y' ; a comment, 'not data'"), (Bytes{'x', ';', 'y'}));
}

TEST(Directives, OrgLeavesGapsOfZerosAndMayGoBackwardsWithoutOverlap) {
    EXPECT_EQ(assemble_ok(" DB 1\n ORG 4\n DB 2\n ORG 2\n DB 3"), (Bytes{1, 0, 3, 0, 2}));
    const auto label_on_org = assemble_text("there ORG 30H\n DW there");
    EXPECT_EQ(label_on_org.symbols.at("THERE"), 0x30);
}

TEST(Directives, DsReservesWithoutGrowingTheImage) {
    const std::string source = " DB 1\n DS 3\n DB 2\n ORG 2000H\nscore: DS 2\nlives: DS 1\n";
    const auto program = assemble_text(source, {.base = std::nullopt, .size = 8});
    ASSERT_TRUE(program.ok());
    EXPECT_EQ(program.image, (Bytes{1, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(program.symbols.at("SCORE"), 0x2000);
    EXPECT_EQ(program.symbols.at("LIVES"), 0x2002);
}

TEST(Directives, EndIgnoresTheRest) {
    EXPECT_EQ(assemble_ok(" NOP\n END\n this is not assembled at all"), Bytes{0x00});
}

TEST(Image, StartsAtTheLowestAddressUnlessABaseIsGiven) {
    const auto program = assemble_text(" ORG 100H\n DB 1\n ORG 0FEH+5\n DB 2");
    EXPECT_EQ(program.base, 0x100);
    EXPECT_EQ(program.image, (Bytes{1, 0, 0, 2}));
    EXPECT_EQ(assemble_ok(" ORG 100H\n DB 1", {.base = 0xFE, .size = std::nullopt}),
              (Bytes{0, 0, 1}));
    EXPECT_TRUE(assemble_text("").image.empty());
    EXPECT_EQ(assemble_ok("", {.base = std::nullopt, .size = 3}), (Bytes{0, 0, 0}));
}

TEST(Image, ARomImageOfAGivenSizeStartsAtZeroAndSaysSoWhenItsCodeDoesNot) {
    struct Case {
        const char* name;
        std::string source;
        Asm8080::Options options;
        Bytes image;
        std::vector<std::string> notes;
    };
    const std::string note = "the lowest address that holds code is 0002H, but the image starts "
                             "at 0000H, as a ROM image of a given size does; give --base 0002H "
                             "to start it there";
    for (const Case& c : {
             Case{"size alone",
                  " ORG 2\n DB 1",
                  {.base = std::nullopt, .size = 4},
                  {0, 0, 1, 0},
                  {note}},
             Case{"size and base", " ORG 2\n DB 1", {.base = 2, .size = 2}, {1, 0}, {}},
             Case{"neither", " ORG 2\n DB 1", {}, {1}, {}},
             Case{"code from zero",
                  " DB 1\n ORG 2000H\n DS 2",
                  {.base = std::nullopt, .size = 2},
                  {1, 0},
                  {}},
         }) {
        const auto program = assemble_text(c.source, c.options);
        EXPECT_TRUE(program.ok()) << c.name;
        EXPECT_EQ(program.image, c.image) << c.name;
        std::vector<std::string> notes;
        for (const Asm8080::Diagnostic& found : program.notes) {
            notes.push_back(found.message);
            EXPECT_EQ(found.line, 2) << c.name;
        }
        EXPECT_EQ(notes, c.notes) << c.name;
    }
}

TEST(Image, SizePadsAndRefusesCodePastIt) {
    EXPECT_EQ(assemble_ok(" DB 1,2,3,4", {.base = std::nullopt, .size = 4}), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(assemble_ok(" DB 1", {.base = std::nullopt, .size = 4}), (Bytes{1, 0, 0, 0}));

    const auto past = assemble_text(" DB 1,2,3\n LXI H,0", {.base = std::nullopt, .size = 4});
    ASSERT_EQ(past.errors.size(), 1u);
    EXPECT_EQ(past.errors[0].line, 2);
    EXPECT_EQ(past.errors[0].message, "code at 0004H is past the end of the 4-byte image");
    EXPECT_TRUE(past.image.empty());
}

struct Expected_Error {
    int line;
    std::string message;
};

void expect_errors(const std::string& source, const std::vector<Expected_Error>& expected,
                   const Asm8080::Options& options = {}) {
    const auto program = assemble_text(source, options);
    ASSERT_EQ(program.errors.size(), expected.size()) << source;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(program.errors[i].file, "test.asm");
        EXPECT_EQ(program.errors[i].line, expected[i].line);
        EXPECT_EQ(program.errors[i].message, expected[i].message);
    }
    EXPECT_TRUE(program.image.empty());
}

TEST(Errors, AllAreReportedInSourceOrder) {
    const std::string source = "start:  NOP\n"           // 1
                               "        FROB A\n"        // 2
                               "        JMP nowhere\n"   // 3
                               "Start:  NOP\n"           // 4
                               "        DB 'abc\n"       // 5
                               "        MVI A,1/(2-2)\n" // 6
                               "        DW 5%0\n"        // 7
                               "        MOV M,M\n"       // 8
                               "        DB 300\n"        // 9
                               "        DW 10000H\n"     // 10
                               "  ) garbled ,,\n"        // 11
                               "        DB 1 # 2\n"      // 12
                               "        DW 1<<64\n"      // 13
                               "        ADI (1\n"        // 14
                               "        JMP start\n";    // 15: fine, the first definition counts
    expect_errors(source, {{2, "unknown mnemonic 'FROB'"},
                           {3, "undefined symbol 'nowhere'"},
                           {4, "duplicate label 'Start' (first defined on line 1)"},
                           {5, "unterminated string"},
                           {6, "division by zero"},
                           {7, "division by zero"},
                           {8, "MOV M,M is not an instruction"},
                           {9, "value 300 is out of range for a byte"},
                           {10, "value 65536 is out of range for a word"},
                           {11, "expected an instruction, found ')'"},
                           {12, "unexpected character '#'"},
                           {13, "shift count 64 is out of range"},
                           {14, "missing ')'"}});
}

TEST(Errors, SymbolsAndLayout) {
    expect_errors("x EQU y\ny EQU x+1\n DB x", {{1, "circular definition of 'x'"}});
    expect_errors(" ORG later\nlater: NOP", {{1, "'later' must be defined on an earlier line"}});
    expect_errors(" DS -1\n ORG 10000H", {{1, "value -1 is out of range for a size"},
                                          {2, "value 65536 is out of range for an address"}});
    expect_errors("mov EQU 1\nB EQU 1\nEQU 5",
                  {{1, "'mov' is a reserved word and cannot be a label"},
                   {2, "'B' is a reserved word and cannot be a label"},
                   {3, "EQU needs a name"}});
    expect_errors(" DB 1,2\n ORG 1\n DB 3", {{3, "code at 0001H overlaps code from line 1"}});
    expect_errors(" ORG 0FFFEH\n LXI H,0", {{2, "code runs past the end of memory (FFFFH)"}});
    expect_errors(" ORG 10H\n DB 1\n ORG 0\n DB 2",
                  {{4, "code at 0000H lies below the image start 0010H"}},
                  {.base = 0x10, .size = std::nullopt});
    expect_errors(" DB\n DW 'abc'\n END 5,6",
                  {{1, "DB needs at least one value"},
                   {2, "a character constant holds one or two characters"},
                   {3, "END takes at most one operand (where the program starts), found 2"}});
}

TEST(Errors, PathologicalExpressionsAreRefusedRatherThanOverflowingTheStack) {
    std::string sum = "1";
    std::string chain = " DW x0\n";
    for (int k = 0; k < 300; ++k) {
        sum += "+1";
        chain += "x" + std::to_string(k) + " EQU x" + std::to_string(k + 1) + "\n";
    }
    chain += "x300 EQU 1\n";
    const std::string parentheses = std::string(300, '(') + "1" + std::string(300, ')');
    for (const std::string& expression :
         {parentheses, sum, std::string(300, '-') + "1", std::string(60000, '-') + "1",
          std::string(150, '~') + "LOW(" + sum + ")", std::string(150, '-') + "(" + sum + ")"}) {
        expect_errors(" DW " + expression, {{1, "expression nested too deeply"}});
    }
    expect_errors(chain, {{1, "'x200' is defined through too many other EQUs"}});
    EXPECT_EQ(word_of(std::string(100, '(') + "1" + std::string(100, ')')), 1);
    EXPECT_EQ(word_of(std::string(199, '-') + "1"), 0xFFFF);

    // Each EQU within the limit, but evaluated one inside another they would go 4,000 deep: the
    // total is bounded, and where a chain first goes too deep is reported where it is used.
    std::string deep = " DW x0\n";
    for (int k = 0; k < 20; ++k) {
        deep += "x" + std::to_string(k) + " EQU " + std::string(198, '-') + "x" +
                std::to_string(k + 1) + "\n";
    }
    deep += "x20 EQU 1\n";
    expect_errors(deep, {{1, "'x5' is defined through expressions nested too deeply"},
                         {6, "'x9' is defined through expressions nested too deeply"},
                         {10, "'x13' is defined through expressions nested too deeply"},
                         {14, "'x17' is defined through expressions nested too deeply"}});
}

TEST(Errors, AnExpressionTooDeepIsRefusedWhereItPassesTheLimit) {
    // Millions of brackets or signs, then a character that is no token: the parser stops at the
    // limit, without reading (or building anything for) the rest of the line.
    for (const std::string& deep :
         {std::string(5'000'000, '(') + "1", std::string(10'000'000, '-') + "1"}) {
        std::string error;
        EXPECT_FALSE(Asm8080::parse_expression(Asm8080::Lexer(deep + " #"), error));
        EXPECT_EQ(error, "expression nested too deeply");
    }
}

TEST(Errors, NothingIsPlacedOrReservedPastTheEndOfMemory) {
    expect_errors(" ORG 0FFF0H\n NOP\n DS 100H\n",
                  {{3, "DS reserves space past the end of memory (FFFFH)"}});
    expect_errors(" DS 8000H\n DS 8000H\n DS 1\nafter: DB 1\n",
                  {{3, "DS reserves space past the end of memory (FFFFH)"},
                   {4, "code runs past the end of memory (FFFFH)"}});
    // Enough DS lines to carry a 32-bit counter round: the first one past the end is the error.
    std::string reserves;
    for (int k = 0; k < 65538; ++k) {
        reserves += " DS 0FFFFH\n";
    }
    const auto wrapped = assemble_text(reserves + " DB 1\n");
    ASSERT_FALSE(wrapped.errors.empty());
    EXPECT_EQ(wrapped.errors[0].line, 2);
    EXPECT_EQ(wrapped.errors[0].message, "DS reserves space past the end of memory (FFFFH)");
    // Up to the last byte is fine.
    EXPECT_EQ(assemble_ok(" ORG 0FFFEH\n NOP\n DS 1\n DS 0\n"), Bytes{0x00});
}

TEST(Errors, StopAfterAHundred) {
    for (const char* line : {" FROB\n", " DB 300\n", " ORG later\n"}) {
        std::string source;
        for (int k = 0; k < 150; ++k) {
            source += line;
        }
        // With a fixed size too: an image is not built from the memory a stop left unfilled.
        const auto program = assemble_text(source + "later:\n", {.base = 0, .size = 256});
        ASSERT_EQ(program.errors.size(), Asm8080::maximum_errors + 1) << line;
        EXPECT_EQ(program.errors[99].line, 100) << line;
        EXPECT_EQ(Asm8080::format_diagnostic(program.errors[100]), "too many errors; stopping");
        EXPECT_TRUE(program.stopped);
        EXPECT_TRUE(program.image.empty());
    }
    // One line with more faults than the limit stops the same way.
    std::string items = " DW x";
    for (int k = 0; k < 300; ++k) {
        items += ",x";
    }
    const auto one_line = assemble_text(items);
    ASSERT_EQ(one_line.errors.size(), Asm8080::maximum_errors + 1);
    EXPECT_EQ(one_line.errors[99].message, "undefined symbol 'x'");
    EXPECT_EQ(Asm8080::format_diagnostic(one_line.errors[100]), "too many errors; stopping");
    std::string fewer;
    for (int k = 0; k < 99; ++k) {
        fewer += " FROB\n";
    }
    EXPECT_EQ(assemble_text(fewer + " DB 300\n").errors.size(), 100u);
    EXPECT_FALSE(assemble_text(fewer + " DB 300\n").stopped);
}

TEST(Sources, AsEditorsSaveThem) {
    for (const std::string& source : {
             std::string(" MVI A,1\n DB 'x'\n"),
             std::string("\xEF\xBB\xBF MVI A,1\n DB 'x'"),
             std::string(" MVI A,1\r\n DB 'x'\r\n"),
             std::string(" MVI A,1\r DB 'x'\r"),
         }) {
        EXPECT_EQ(assemble_ok(source), (Bytes{0x3E, 1, 'x'})) << source;
    }
    expect_errors(" NOP\r\r DB 300", {{3, "value 300 is out of range for a byte"}});
    expect_errors(" NOP\n\xEF\xBB\xBF NOP", {{2, "unexpected character '\\xEF'"}});
    expect_errors(" DB 'caf\xC3\xA9'\n MVI A,'\xC3\xA9'\n DB \"\xE2\x82\xAC\", 0\n DB '\xFF'",
                  {{1, "'\xC3\xA9' is not ASCII"},
                   {2, "'\xC3\xA9' is not ASCII"},
                   {3, "'\xE2\x82\xAC' is not ASCII"},
                   {4, "'\xFF' is not ASCII"}});
}

TEST(Errors, ControlBytesInMessagesAreEscaped) {
    expect_errors(" DB 1\x01", {{1, "unexpected character '\\x01'"}});
    expect_errors(" DB \x1B[2J", {{1, "unexpected character '\\x1B'"}});
    expect_errors(" DB 1 \xC3\xA9", {{1, "unexpected character '\\xC3'"}});
    expect_errors(" INCLUDE \"no\x07such\"", {{1, "cannot open included file 'no\\x07such'"}});
    EXPECT_EQ(Asm8080::format_diagnostic({"a\x1B.asm", 3, "m"}), "a\\x1B.asm:3: m");
}

TEST(Errors, AnUndefinedSymbolInAnEquIsReportedOnceWhereItIsWritten) {
    expect_errors(" DB value\nvalue EQU missing+1\n DB value", {{2, "undefined symbol 'missing'"}});
}

TEST(Listing, ShowsAddressesBytesLinesAndSymbols) {
    const auto program = assemble_text("; demo\n"
                                       "size EQU 2\n"
                                       "start: LXI H,1234H\n"
                                       "  DB 1,2,3,4,5\n"
                                       "  ORG 2000H\n"
                                       "var: DS size\n");
    ASSERT_TRUE(program.ok());
    EXPECT_EQ(Asm8080::format_listing(program), "                      1  ; demo\n"
                                                "=0002                 2  size EQU 2\n"
                                                "0000  21 34 12        3  start: LXI H,1234H\n"
                                                "0003  01 02 03 04     4    DB 1,2,3,4,5\n"
                                                "0007  05\n"
                                                "2000                  5    ORG 2000H\n"
                                                "2000                  6  var: DS size\n"
                                                "\n"
                                                "Symbols:\n"
                                                "0002  SIZE\n"
                                                "0000  START\n"
                                                "2000  VAR\n");
}

TEST(CppOutput, HeaderAndSourceHoldTheImage) {
    const auto program = assemble_text(" DB 1, 0ABH");
    EXPECT_EQ(Asm8080::format_cpp_header(program, "Space::Inner::rom", "x.asm"),
              "// Generated by asm8080 from x.asm. Do not edit.\n#pragma once\n\n"
              "#include <array>\n#include <cstdint>\n\nnamespace Space::Inner {\n\n"
              "inline constexpr std::array<std::uint8_t, 2> rom{\n    0x01, 0xAB,\n};\n\n"
              "} // namespace Space::Inner\n");
    const std::string source = Asm8080::format_cpp_source(program, "rom", "x.asm");
    EXPECT_NE(source.find("extern const std::array<std::uint8_t, 2> rom;\n"
                          "constexpr std::array<std::uint8_t, 2> rom{\n    0x01, 0xAB,\n};\n"),
              std::string::npos);
    EXPECT_EQ(source.find("namespace"), std::string::npos);
    EXPECT_TRUE(Asm8080::is_valid_cpp_name("a::b_2::C"));
    for (const char* bad : {"", "a::", "::a", "2a", "a-b", "a:::b"}) {
        EXPECT_FALSE(Asm8080::is_valid_cpp_name(bad)) << bad;
    }
}

} // namespace
