#pragma once

#include "formats/line_map.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// A two-pass assembler for the Intel 8080, written for the machine's own programs.
//
// Source format, one statement a line:
//     [label[:]] [mnemonic [operand, ...]] [; comment]
// A label ends with a colon, or starts in the first column, or stands before a mnemonic or EQU.
// With its colon it may be named like an instruction, a register or a directive ("daa:"): that
// name is then the label where a value stands, and stays the register where an instruction takes
// a register and the instruction where the operation stands.
// Mnemonics, register names and symbols are case-insensitive. Directives: ORG, EQU, SET (or
// DEFL), DB, DW, DS n[,fill], END [start] (ignores the rest of the program), INCLUDE "file" and
// INCBIN "file" (relative to the including file); IF, IFDEF, IFNDEF, ELSE, ENDIF; MACRO, REPT,
// IRP, IRPC (each up to its ENDM), LOCAL, EXITM; ERROR 'text'; and TITLE, .8080, ASEG, NAME and
// PAGE, which change nothing.
//
// The first pass reads the lines in order, as the classic assemblers do: it expands macros and
// repetitions, decides conditions, and places labels as it goes, so the values that IF, REPT,
// SET, ORG and DS need must be known on the lines above. The second pass writes the code.
//
// The image starts at the given base; without one, at 0 when a size is given (a ROM image), else
// at the lowest address that holds code, data or space reserved with DS. It ends with the last
// byte of code or data (or at the given size): space reserved at the end, such as variables
// placed in RAM with ORG and DS, does not grow it.
// Every address may be written once: overlapping code is an error.
namespace Asm8080 {

struct Diagnostic {
    std::string file;
    int line = 0;
    std::string message;
};

// One source line as the listing shows it.
struct Listing_Line {
    std::size_t file = 0; // index into Program::files
    int line = 0;
    std::optional<std::uint16_t> address; // where the line's code or data starts
    std::optional<std::uint16_t> value;   // the value an EQU defines
    std::vector<std::uint8_t> bytes;
    std::string_view text;  // in Program::sources, or in Program::expansions
    bool expansion = false; // a line that a macro or a repetition wrote, listed under its call
    // For such a line, the line of the body that wrote it (the innermost one when macros call
    // macros); 0 for the others.
    std::size_t body_file = 0;
    int body_line = 0;
};

struct Options {
    std::optional<std::uint16_t> base; // address of the image's first byte
    std::optional<std::size_t> size;   // exact image size, padded with 0x00
};

// Limits that keep hostile or broken input from exhausting time, memory or the stack.
inline constexpr std::size_t maximum_errors = 100; // then "too many errors; stopping"
inline constexpr std::size_t maximum_source_size = 16 * 1024 * 1024; // all files together
inline constexpr std::size_t maximum_lines = 1'000'000;              // all files together
// What macros and repetitions may write, all together (a line for each byte of memory),
// and how deeply they may call each other (a macro that calls itself must stop through IF or
// EXITM before this).
inline constexpr std::size_t maximum_expansion_size = 2 * 1024 * 1024; // bytes read and written
inline constexpr std::size_t maximum_expansion_lines = 65'536;
inline constexpr int maximum_expansion_depth = 64;

struct Program {
    std::uint16_t base = 0;
    std::vector<std::uint8_t> image;
    std::vector<Listing_Line> listing;
    std::map<std::string, std::uint16_t> symbols; // upper-case names
    std::set<std::string> values;                 // those set by EQU or SET
    std::vector<std::string> files; // the source and every file it includes (INCLUDE, INCBIN)
    std::vector<std::unique_ptr<const std::string>> sources; // their text, in the same order
    std::vector<std::unique_ptr<std::string>> expansions;    // what macros wrote, in blocks
    std::vector<Diagnostic> errors; // in source order; one with no file concerns the whole run
    std::vector<Diagnostic> notes;  // what may surprise but is not wrong
    bool stopped = false;           // more than maximum_errors: the last one says so

    bool ok() const { return errors.empty(); }
};

// Assembles `source`, whose name (used in messages and to find included files) is `file_name`.
Program assemble(std::string_view source, const std::string& file_name,
                 const Options& options = {});

// Reads and assembles a file; a file that cannot be read is reported as an error. Only regular
// files are read, the source and its included files together up to maximum_source_size bytes.
Program assemble_file(const std::string& file_name, const Options& options = {});

// "file:line: message", or only the message when it has no file; fit to print
// (Tools::printable).
std::string format_diagnostic(const Diagnostic& diagnostic);

// Address, bytes, line number and source text of every line, with the name of the file where
// an included file starts and ends, then the symbols.
std::string format_listing(const Program& program);

// The line map (Formats::format_line_map writes it): every address where an instruction or data
// starts, with the file as the command line named it or as INCLUDE found it, and the line the
// author wrote, which for code from a macro or a repetition is the line that called it.
Formats::Line_Map line_map_of(const Program& program);

// A header defining `inline constexpr std::array<std::uint8_t, N> name` for a qualified name
// such as "Drovask::test_card"; an unqualified name lands in the global namespace.
std::string format_cpp_header(const Program& program, std::string_view qualified_name,
                              std::string_view source_name);

// A source file defining the same array with external linkage, for a caller that declares
// `extern const std::array<std::uint8_t, N> name;` itself.
std::string format_cpp_source(const Program& program, std::string_view qualified_name,
                              std::string_view source_name);

// True for a name usable as `Namespace::...::identifier` in generated C++.
bool is_valid_cpp_name(std::string_view qualified_name);

} // namespace Asm8080
