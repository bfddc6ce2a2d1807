#pragma once

// Assembler source for a stretch of an 8080 image, which asm8080 assembles back to the same
// bytes: the program `dis8080` writes it.
//
//     const Formats::Symbols symbols = Tools::read_symbol_file("demo.sym");
//     const std::string text = Dis8080::program_source({bytes, 0x0000}, {0x0000, 0x1FFF},
//     &symbols);
//     // "        ORG 0000H\nSTART:\n        LXI SP,2400H            ; 0000  31 00 24\n..."
//
// The source starts with an ORG at the range's first address. The symbol file's labels (never
// its EQU names) name their addresses: those in the range as labels on their own lines, those
// outside it, where an operand uses them, by EQU lines before the ORG. An instruction is never
// read across a label: the bytes before it are DB. A jump or call into the range where no label
// is gets a label of its own, L and the address (L01A2). Opcodes without a mnemonic, and an
// instruction cut off by the end of the range, are DB. Each line's comment gives its address and
// bytes.

#include "formats/symbols.hpp"

#include <cstdint>
#include <span>
#include <string>

namespace Dis8080 {

struct Image {
    std::span<const std::uint8_t> bytes; // at most 65,536, ending at FFFFH at the latest
    std::uint16_t base;                  // the address of bytes[0]
};

struct Range {
    std::uint16_t first; // both inside the image, first <= last
    std::uint16_t last;
};

// Throws Tavrin::Exception when a label of `symbols` is not a name that asm8080 takes.
std::string program_source(const Image& image, Range range, const Formats::Symbols* symbols);

} // namespace Dis8080
