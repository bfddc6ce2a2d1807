// The disassembler against the assembler: both read one instruction table, so every documented
// opcode must come back as the bytes it started from.
#include "assemble.hpp"
#include "base/exception.hpp"
#include "tools/disassembler/disassembler.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The opcodes that no mnemonic names.
constexpr std::array<std::uint8_t, 12> undocumented{0x08, 0x10, 0x18, 0x20, 0x28, 0x30,
                                                    0x38, 0xCB, 0xD9, 0xDD, 0xED, 0xFD};

bool is_undocumented(unsigned opcode) {
    return std::find(undocumented.begin(), undocumented.end(), opcode) != undocumented.end();
}

TEST(Disassembler, EveryDocumentedOpcodeAssemblesBackToItsBytes) {
    int documented = 0;
    for (unsigned opcode = 0; opcode < 256; ++opcode) {
        if (is_undocumented(opcode)) {
            continue;
        }
        ++documented;
        // Operand bytes whose hexadecimal starts with a letter, to need the leading zero.
        const std::array<std::uint8_t, 3> bytes{static_cast<std::uint8_t>(opcode), 0xA5, 0xC3};
        const Asm8080::Disassembly line = Asm8080::disassemble(bytes);
        const Bytes image = assemble_ok(" ORG 0\n " + line.text + "\n");
        EXPECT_EQ(image, Bytes(bytes.begin(), bytes.begin() + line.size))
            << "opcode " << opcode << " disassembled as \"" << line.text << '"';
        EXPECT_EQ(Asm8080::instruction_size(static_cast<std::uint8_t>(opcode)), line.size);
    }
    EXPECT_EQ(documented, 244);
}

TEST(Disassembler, UndocumentedOpcodesAreDataBytes) {
    for (const std::uint8_t opcode : undocumented) {
        const Asm8080::Disassembly line = Asm8080::disassemble({opcode, 0x12, 0x34});
        EXPECT_EQ(line.size, 1u);
        EXPECT_EQ(assemble_ok(" ORG 0\n " + line.text + "\n"), Bytes{opcode}) << line.text;
    }
    EXPECT_EQ(Asm8080::disassemble({0x08, 0, 0}).text, "DB 08H");
    EXPECT_EQ(Asm8080::disassemble({0xCB, 0, 0}).text, "DB 0CBH");
}

TEST(Disassembler, NamesAddressesFromASymbolFileAndAssemblesBackWithThem) {
    const Asm8080::Symbols symbols =
        Asm8080::parse_symbol_file("0100 DRAW\n2400 SCREEN\n2400 VIDEO\n", "test.sym");
    EXPECT_EQ(Asm8080::disassemble({0xCD, 0x00, 0x01}, &symbols).text, "CALL DRAW");
    EXPECT_EQ(Asm8080::disassemble({0x21, 0x00, 0x24}, &symbols).text, "LXI H,SCREEN");
    EXPECT_EQ(Asm8080::disassemble({0xC3, 0x01, 0x01}, &symbols).text, "JMP 0101H");
    EXPECT_EQ(Asm8080::disassemble({0x3E, 0x00, 0x01}, &symbols).text, "MVI A,00H")
        << "a byte operand is a number, not an address";
    EXPECT_EQ(assemble_ok(" ORG 0\nDRAW EQU 100H\n CALL DRAW\n"), (Bytes{0xCD, 0x00, 0x01}));
}

TEST(Symbol_File, IsSortedByValueThenNameAndReadsBack) {
    const std::string text =
        Asm8080::format_symbol_file({{"LOOP", 0x0010}, {"START", 0x0000}, {"BEGIN", 0x0010}});
    EXPECT_EQ(text, "0000 START\n0010 BEGIN\n0010 LOOP\n");
    const Asm8080::Symbols symbols = Asm8080::parse_symbol_file(text, "a.sym");
    EXPECT_EQ(*symbols.name_of(0x0010), "BEGIN");
    EXPECT_EQ(symbols.value_of("loop"), 0x0010);
    EXPECT_EQ(symbols.name_of(0x0001), nullptr);
}

TEST(Symbol_File, RefusesALineThatIsNotValueAndName) {
    for (const char* text : {"0010LOOP\n", "10 LOOP\n", "001G LOOP\n", "0010 \n", "0010 A B\n"}) {
        try {
            Asm8080::parse_symbol_file(std::string("0000 START\n") + text, "b.sym");
            ADD_FAILURE() << "accepted " << text;
        } catch (const Tavrin::Exception& error) {
            EXPECT_TRUE(error.message.starts_with("b.sym:2: expected \"XXXX NAME\""))
                << error.message;
        }
    }
}

TEST(Symbol_File, AddressesAreHexadecimalOrNames) {
    const Asm8080::Symbols symbols = Asm8080::parse_symbol_file("1A2B DRAW\n", "c.sym");
    EXPECT_EQ(Asm8080::parse_address("1A2BH", nullptr), 0x1A2B);
    EXPECT_EQ(Asm8080::parse_address("0x1a2b", nullptr), 0x1A2B);
    EXPECT_EQ(Asm8080::parse_address("draw", &symbols), 0x1A2B);
    EXPECT_EQ(Asm8080::parse_address("10000H", &symbols), std::nullopt);
    EXPECT_EQ(Asm8080::parse_address("1A2B", &symbols), std::nullopt) << "H or 0x says hex";
    EXPECT_EQ(Asm8080::parse_address("missing", &symbols), std::nullopt);
}

// Only labels name places: an EQU name shows only its exact value, a label also what follows it.
TEST(Symbol_File, LabelsNameThePlacesAfterThemAndEquNamesOnlyTheirValue) {
    const Asm8080::Symbols symbols = Asm8080::parse_symbol_file(
        "0002 PORT EQU\n0002 START\n0100 ADDH\n0300 TABLE\n2000 SCORE EQU\n", "d.sym");
    struct Case {
        std::uint16_t address;
        const char* name;
    };
    for (const Case c : {Case{0x0002, "START"}, Case{0x0003, "START+1"}, Case{0x0101, "ADDH+1"},
                         Case{0x01FF, "ADDH+255"}, Case{0x0200, ""}, Case{0x2000, "SCORE"},
                         Case{0x2001, ""}, Case{0x0001, ""}}) {
        EXPECT_EQ(symbols.near_name(c.address), c.name) << c.address;
    }
    EXPECT_EQ(Asm8080::parse_address("ADDH", &symbols), 0x0100) << "the name, not the number";
    EXPECT_EQ(Asm8080::parse_address("ADDH", nullptr), std::nullopt);
    EXPECT_EQ(Asm8080::parse_address("8192", nullptr), 0x2000);
    EXPECT_EQ(Asm8080::format_symbol_file({{"PORT", 2}, {"START", 2}}, {"PORT"}),
              "0002 PORT EQU\n0002 START\n");
}

} // namespace
