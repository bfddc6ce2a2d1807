#pragma once

#include "processor/intel_8080.hpp"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Runs CP/M .COM programs on the processor: the program is loaded at 0x0100, the BDOS entry at
// 0x0005 answers console output (function 2: the character in E; function 9: the string at DE up
// to '$'), and the program ends when it jumps to 0x0000 (the warm start) or calls function 0.
namespace Cpm {

inline constexpr std::uint16_t load_address = 0x0100;
inline constexpr std::uint16_t bdos_entry = 0x0005;
// The BDOS "resides" here: address 0x0006 holds it, so a program that sets its stack below the
// BDOS finds the top of its memory there. The transient program area ends just below it.
inline constexpr std::uint16_t bdos_base = 0xFE00;
inline constexpr std::size_t max_program_size = bdos_base - load_address;
// The stack a program starts with holds the return to the warm start. It lies above the BDOS,
// out of the transient program area, so that a program of the largest size keeps its last bytes.
inline constexpr std::uint16_t initial_stack = 0x0000; // grows down from 0xFFFF

inline constexpr std::uint64_t no_limit = std::numeric_limits<std::uint64_t>::max();

struct Result {
    std::string output;         // everything the program printed
    std::uint64_t instructions; // instructions executed, BDOS returns included
    bool finished;              // false when the instruction limit stopped it
};

// Reads a .COM file. Throws Tavrin::Exception when the file cannot be read, is empty or does not
// fit the transient program area.
std::vector<std::uint8_t> load_program(const std::filesystem::path& path);

// A fresh processor, all memory writable, with `program` at 0x0100 and the CP/M page zero.
// Throws Tavrin::Exception when the program does not fit.
std::unique_ptr<Intel_8080> make_processor(std::span<const std::uint8_t> program);

// An instruction limit as the command line gives it: decimal digits only, 1 to 2^64 - 1.
std::optional<std::uint64_t> parse_limit(std::string_view text);

// Runs the processor from its PC until the program ends or `limit` instructions have run.
// Output goes to `result.output` and, when `echo` is given, to it as it is printed. Throws
// Tavrin::Exception for an unimplemented opcode (IN and OUT included) or an unsupported BDOS
// function, with the address of the failing instruction (for a BDOS call, the instruction that
// reached the entry) in the message. A string for function 9 without its '$' prints nothing.
Result run(Intel_8080& processor, std::uint64_t limit = no_limit, std::ostream* echo = nullptr);

} // namespace Cpm
