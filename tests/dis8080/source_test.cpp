// The source dis8080 writes: each case's source must assemble back to the bytes it came from,
// with the lines that show how the bytes were read.

#include "formats/symbols.hpp"
#include "tests/asm8080/assemble.hpp"
#include "tools/dis8080/source.hpp"

#include "base/exception.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    Bytes image;
    std::uint16_t base;
    Dis8080::Range range;
    const char* symbols;             // a symbol file's text
    std::vector<std::string> lines;  // each must be a line of the source
    std::vector<std::string> absent; // each must be in no line
};

const std::vector<Case> cases{
    {"UndocumentedOpcodesAreDataBytes",
     {0x08, 0x10, 0x18, 0x20, 0x28, 0x30, 0x38, 0xCB, 0xD9, 0xDD, 0xED, 0xFD, 0x00},
     0,
     {0, 12},
     "",
     {"        DB 08H                  ; 0000  08  no mnemonic has this opcode",
      "        DB 0FDH                 ; 000B  FD  no mnemonic has this opcode",
      "        NOP                     ; 000C  00"},
     {}},
    {"AnInstructionCutOffByTheEndIsDataBytes",
     {0x3E, 0x01, 0xC3, 0x34},
     0x100,
     {0x100, 0x103},
     "",
     {"        ORG 0100H", "        MVI A,01H               ; 0100  3E 01",
      "        DB 0C3H,34H             ; 0102  C3 34  JMP cut off by the end"},
     {}},
    {"TheRangeEndsWhereToSays",
     {0x00, 0x3E, 0x01, 0x21, 0x00, 0x20},
     0,
     {1, 4},
     "",
     {"        ORG 0001H", "        DB 21H,00H              ; 0003  21 00  LXI cut off by the end"},
     {"NOP"}},
    {"ALabelInsideAnInstructionCutsItIntoDataBytes",
     {0x21, 0x02, 0x03, 0x3E, 0x01},
     0x200,
     {0x200, 0x204},
     "0202 TABLE\n",
     {"        DB 21H,02H              ; 0200  21 02  LXI cut off by the label TABLE",
      "TABLE:", "        INX B                   ; 0202  03"},
     {}},
    {"JumpsAndCallsIntoTheRangeGetLabels",
     // JMP 0009H, CALL 0007H (the middle of the JNZ: no label), JNZ 0000H, RET
     {0xC3, 0x09, 0x00, 0xCD, 0x07, 0x00, 0xC2, 0x00, 0x00, 0xC9},
     0,
     {0, 9},
     "0000 L0009\n",
     {"L0009:", "        JMP L0009_1             ; 0000  C3 09 00",
      "L0009_1:", "        CALL 0007H              ; 0003  CD 07 00",
      "        JNZ L0009               ; 0006  C2 00 00"},
     {"L0007"}},
    {"LabelsOutsideTheRangeAreDefinedEquNamesNeverUsed",
     // NOP before the range; LHLD 2000H, CALL 0300H, JMP 0100H: a RAM label, an EQU name and
     // a label before the range
     {0x00, 0x2A, 0x00, 0x20, 0xCD, 0x00, 0x03, 0xC3, 0x00, 0x01},
     0x100,
     {0x101, 0x109},
     "0100 START\n0300 FAR EQU\n2000 SCORE\n",
     {"START EQU 0100H", "SCORE EQU 2000H", "        LHLD SCORE              ; 0101  2A 00 20",
      "        CALL 0300H              ; 0104  CD 00 03",
      "        JMP START               ; 0107  C3 00 01"},
     {"FAR", "START:", "NOP"}},
    {"LabelsNamedLikeInstructionsKeepTheirColon",
     // CALL 0006H, JMP 0007H, RET, NOP: DAA in the range, LDA after it
     {0xCD, 0x06, 0x00, 0xC3, 0x07, 0x00, 0xC9, 0x00},
     0,
     {0, 6},
     "0006 DAA\n0007 LDA\n",
     {"LDA: EQU 0007H", "DAA:", "        CALL DAA                ; 0000  CD 06 00",
      "        JMP LDA                 ; 0003  C3 07 00"},
     {}},
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class Source : public testing::TestWithParam<Case> {};

TEST_P(Source, AssemblesBackToItsBytes) {
    const Case& c = GetParam();
    std::optional<Formats::Symbols> symbols;
    if (*c.symbols != '\0') {
        symbols = Formats::parse_symbol_file(c.symbols, "test.sym");
    }
    const std::string text =
        Dis8080::program_source({c.image, c.base}, c.range, symbols ? &*symbols : nullptr);
    const auto first = c.image.begin() + (c.range.first - c.base);
    const auto end = c.image.begin() + (c.range.last - c.base + 1);
    EXPECT_EQ(assemble_ok(text), Bytes(first, end)) << text;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t newline = text.find('\n', start);
        lines.push_back(text.substr(start, newline - start));
        start = newline + 1;
    }
    for (const std::string& line : c.lines) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end())
            << "no line \"" << line << "\" in\n"
            << text;
    }
    for (const std::string& word : c.absent) {
        EXPECT_EQ(text.find(word), std::string::npos) << word << " in\n" << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Dis8080, Source, testing::ValuesIn(cases),
                         [](const auto& test) { return std::string(test.param.name); });

// Any bytes, any range and any labels (in it, outside it, inside instructions, EQU names) must
// assemble back.
TEST(Dis8080, RandomImagesWithRandomLabelsAssembleBack) {
    std::mt19937 random(8080);
    for (int round = 0; round < 200; ++round) {
        Bytes image(1 + random() % 600);
        const auto base = static_cast<std::uint16_t>(random() % (0x10000 - image.size() + 1));
        for (std::size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<std::uint8_t>(random());
            if (random() % 4 == 0 && i + 2 < image.size()) { // JMP, CALL, JZ or CZ into the image
                const auto target = static_cast<unsigned>(base + random() % image.size());
                image[i] = std::array<std::uint8_t, 4>{0xC3, 0xCD, 0xCA, 0xCC}[random() % 4];
                image[++i] = static_cast<std::uint8_t>(target);
                image[++i] = static_cast<std::uint8_t>(target >> 8);
            }
        }
        const auto first = static_cast<std::uint16_t>(base + random() % image.size());
        const auto last =
            static_cast<std::uint16_t>(first + random() % (base + image.size() - first));
        std::string file;
        for (int i = 0; i < 8; ++i) {
            char line[32];
            std::snprintf(line, sizeof line, "%04X N%d%s\n",
                          static_cast<unsigned>(base + random() % (image.size() + 8) - 4) & 0xFFFF,
                          i, i % 3 == 0 ? " EQU" : "");
            file += line;
        }
        const Formats::Symbols symbols = Formats::parse_symbol_file(file, "random.sym");
        const std::string text = Dis8080::program_source({image, base}, {first, last}, &symbols);
        EXPECT_EQ(assemble_ok(text),
                  Bytes(image.begin() + (first - base), image.begin() + (last - base + 1)))
            << text;
    }
}

TEST(Dis8080, RefusesLabelsThatTheAssemblerWouldNotTake) {
    const Bytes image{0x00};
    for (const char* file :
         {"0000 AND\n", "0000 EQU\n", "0000 2X\n", "0000 A-B\n", "0000 X\n0001 x\n"}) {
        const Formats::Symbols symbols = Formats::parse_symbol_file(file, "test.sym");
        EXPECT_THROW(Dis8080::program_source({image, 0}, {0, 0}, &symbols), Tavrin::Exception)
            << file;
    }
}

} // namespace
