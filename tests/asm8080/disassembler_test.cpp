// The disassembler against the assembler: both read one instruction table, so every documented
// opcode must come back as the bytes it started from.
#include "assemble.hpp"
#include "formats/symbols.hpp"
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
    const Formats::Symbols symbols =
        Formats::parse_symbol_file("0100 DRAW\n2400 SCREEN\n2400 VIDEO\n", "test.sym");
    EXPECT_EQ(Asm8080::disassemble({0xCD, 0x00, 0x01}, &symbols).text, "CALL DRAW");
    EXPECT_EQ(Asm8080::disassemble({0x21, 0x00, 0x24}, &symbols).text, "LXI H,SCREEN");
    EXPECT_EQ(Asm8080::disassemble({0xC3, 0x01, 0x01}, &symbols).text, "JMP 0101H");
    EXPECT_EQ(Asm8080::disassemble({0x3E, 0x00, 0x01}, &symbols).text, "MVI A,00H")
        << "a byte operand is a number, not an address";
    EXPECT_EQ(assemble_ok(" ORG 0\nDRAW EQU 100H\n CALL DRAW\n"), (Bytes{0xCD, 0x00, 0x01}));
}

} // namespace
