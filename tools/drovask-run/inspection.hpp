#pragma once

// The runner's views of the machine as text: trace lines, watch reports, the report at a
// breakpoint and the state file.
//
// A trace line: the instruction's address, its bytes, its disassembly and the registers after
// it, the flags also spelled out:
//     0003 31 00 24  LXI SP,2400H      A=00 BC=0000 DE=0000 HL=0000 SP=2400 F=02 S=0 Z=1 AC=0 P=0
//     CY=0
// Interrupts, frames and key events have lines of their own that begin with "--".

#include "formats/line_map.hpp"
#include "formats/symbols.hpp"
#include "machine/board.hpp"

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace Drovask {

class Runner;

// "A=00 BC=0000 DE=0000 HL=0000 SP=2400 F=02 S=0 Z=1 AC=0 P=0 CY=0"
std::string registers_text(const Intel_8080& processor);

// "2400", or "2400 (SCORE)" when `symbols` names it, "0105 (DRAW+5)" when a label is near;
// then " demo.asm:12" when `lines` has the address.
std::string address_text(std::uint16_t address, const Formats::Symbols* symbols,
                         const Formats::Line_Map* lines = nullptr);

// The instruction that started at `pc` with `bytes`, and the registers it left; then its source
// line when `lines` has it.
std::string trace_line(std::uint16_t pc, const std::array<std::uint8_t, 3>& bytes,
                       const Intel_8080& after, const Formats::Symbols* symbols,
                       const Formats::Line_Map* lines = nullptr);

// The timer firing about to happen on `board`: the interrupt it delivers, or that it delivers
// none.
std::string interrupt_line(const Board& board, const Formats::Symbols* symbols,
                           const Formats::Line_Map* lines = nullptr);

struct Watched_Store {
    std::uint64_t frame;
    std::uint16_t pc; // the storing instruction; at an interrupt, the interrupted PC
    bool at_interrupt;
    std::uint16_t address;
    std::uint8_t old_value;
    std::uint8_t new_value;
    bool dropped;
};

// "watch: frame 3, PC 0105 (DRAW+5): 2400 (SCORE) 00 -> 3C", then " dropped (outside RAM, ...)"
// or " (unchanged)" for a store of the byte that was there.
std::string watch_line(const Watched_Store& store, const Formats::Symbols* symbols,
                       const Formats::Line_Map* lines = nullptr);

// Where the run stopped: the breakpoint, the frame and instruction count, the registers, a few
// instructions from PC and the top of the stack.
void write_break_report(std::ostream& out, const Runner& runner);

// The registers and flags, interrupt enable, shift register, input byte and a hex dump of RAM:
// one "name value" a line, then the dump's lines "ADDR: bytes".
void write_state(std::ostream& out, const Runner& runner);

} // namespace Drovask
