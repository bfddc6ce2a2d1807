// asm8080: assembles an Intel 8080 source file into a raw binary image.

#include "base/exception.hpp"
#include "formats/line_map.hpp"
#include "formats/symbols.hpp"
#include "tools/asm8080/assembler.hpp"
#include "tools/asm8080/syntax.hpp"
#include "tools/files/messages.hpp"
#include "tools/files/numbers.hpp"
#include "tools/files/output_file.hpp"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: asm8080 SOURCE -o OUTPUT [--size BYTES] [--base ADDRESS] [--listing FILE]\n"
    "               [--cpp-header FILE | --cpp-source FILE] [--cpp-name NAMESPACE::NAME]\n"
    "               [--depfile FILE] [--symbols FILE] [--lines FILE]\n"
    "  -o OUTPUT           the raw binary image\n"
    "  --size BYTES        make the image exactly this long, filled with 0x00; code past it is\n"
    "                      an error\n"
    "  --base ADDRESS      the address of the image's first byte (default: 0 with --size,\n"
    "                      else the lowest address that holds code, data or space reserved\n"
    "                      with DS)\n"
    "  --listing FILE      addresses, bytes and source lines, then the symbols\n"
    "  --cpp-header FILE   a C++ header with the image as an inline constexpr std::array\n"
    "  --cpp-source FILE   a C++ source defining the image as a constexpr std::array with\n"
    "                      external linkage\n"
    "  --cpp-name NAME     the array's qualified name (required with --cpp-header/--cpp-source)\n"
    "  --depfile FILE      a Makefile-style list of the files the image depends on\n"
    "  --symbols FILE      every label and EQU name with its value, one a line as XXXX NAME\n"
    "                      (XXXX NAME EQU for an EQU name), sorted by value, then name\n"
    "  --lines FILE        the line map: each address where an instruction or data starts,\n"
    "                      in order, with its source line, as XXXX FILE:LINE\n"
    "  --help              this text\n"
    "BYTES and ADDRESS are written as 8192, 0x2000 or 2000H.\n"
    "\n"
    "The source has one statement a line, [label[:]] [mnemonic [operand, ...]] [; comment]:\n"
    "Intel's 8080 mnemonics, and ORG, EQU, SET (DEFL), DB, DW, DS n[,fill], END [start],\n"
    "INCLUDE \"file\", INCBIN \"file\", ERROR 'text'; IF expr, IFDEF name, IFNDEF name, ELSE,\n"
    "ENDIF; name MACRO params ... ENDM (LOCAL, EXITM), REPT n, IRP p,<list>, IRPC p,chars;\n"
    "TITLE, .8080, ASEG, NAME and PAGE change nothing. Operators: OR XOR, AND, NOT,\n"
    "EQ NE LT LE GT GE, |, ^, &, << >>, + -, * / % MOD SHL SHR, unary - + ~ HIGH LOW. E.g.:\n"
    "  fill    MACRO address, byte   ; a macro with two parameters\n"
    "          LXI H,address\n"
    "          MVI M,byte\n"
    "          ENDM\n"
    "          IF WIDE               ; assembled when WIDE is not 0\n"
    "          fill 2400H, 0FFH\n"
    "          ENDIF\n"
    "          REPT 4                ; four NOPs\n"
    "          NOP\n"
    "          ENDM\n"
    "The manual (man asm8080, or asm8080.md) says it all.\n";

struct Arguments {
    std::string source;
    std::string output;
    std::string listing;
    std::string cpp_file;
    bool cpp_header = false;
    std::string cpp_name;
    std::string depfile;
    std::string symbols;
    std::string lines;
    Asm8080::Options options;
};

// What the command line must hold as a whole; on a mistake returns the message to show with the
// usage.
std::string check_arguments(const Arguments& arguments) {
    if (arguments.source.empty()) {
        return "no source file given";
    }
    if (arguments.output.empty()) {
        return "no output file given (-o OUTPUT)";
    }
    if (arguments.cpp_file.empty() != arguments.cpp_name.empty()) {
        return "--cpp-header or --cpp-source and --cpp-name go together";
    }
    if (!arguments.cpp_name.empty() && !Asm8080::is_valid_cpp_name(arguments.cpp_name)) {
        return "--cpp-name expects a C++ name such as Space::name, not '" + arguments.cpp_name +
               "'";
    }
    return "";
}

// Reads the command line; on a mistake returns the message to show with the usage.
std::string parse_arguments(int argc, char** argv, Arguments& arguments) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const bool takes_value = word == "-o" || word == "--size" || word == "--base" ||
                                 word == "--listing" || word == "--cpp-header" ||
                                 word == "--cpp-source" || word == "--cpp-name" ||
                                 word == "--depfile" || word == "--symbols" || word == "--lines";
        if (takes_value && i + 1 >= words.size()) {
            return "option " + word + " needs a value";
        }
        if (word == "-o") {
            arguments.output = words[++i];
        } else if (word == "--listing") {
            arguments.listing = words[++i];
        } else if (word == "--cpp-header" || word == "--cpp-source") {
            if (!arguments.cpp_file.empty()) {
                return "give only one of --cpp-header and --cpp-source";
            }
            arguments.cpp_header = word == "--cpp-header";
            arguments.cpp_file = words[++i];
        } else if (word == "--cpp-name") {
            arguments.cpp_name = words[++i];
        } else if (word == "--depfile") {
            arguments.depfile = words[++i];
        } else if (word == "--symbols") {
            arguments.symbols = words[++i];
        } else if (word == "--lines") {
            arguments.lines = words[++i];
        } else if (word == "--size") {
            const auto size = Tools::parse_number(words[++i]);
            if (!size || *size == 0 || *size > 0x10000) {
                return "--size expects a byte count from 1 to 65536, not '" + words[i] + "'";
            }
            arguments.options.size = *size;
        } else if (word == "--base") {
            const auto base = Tools::parse_number(words[++i]);
            if (!base || *base > 0xFFFF) {
                return "--base expects an address from 0 to 0xFFFF, not '" + words[i] + "'";
            }
            arguments.options.base = static_cast<std::uint16_t>(*base);
        } else if (word.size() > 1 && word[0] == '-') {
            return "unknown option '" + word + "'";
        } else if (arguments.source.empty()) {
            arguments.source = word;
        } else {
            return "more than one source file ('" + arguments.source + "' and '" + word + "')";
        }
    }
    return check_arguments(arguments);
}

// Makefile syntax: spaces escaped with a backslash.
std::string depfile_path(const std::string& path) {
    std::string escaped;
    for (char c : path) {
        if (c == ' ' || c == '#') {
            escaped += '\\';
        } else if (c == '$') {
            escaped += '$';
        }
        escaped += c;
    }
    return escaped;
}

std::string in_quotes(const std::string& path) {
    return "'" + Tools::printable(path) + "'";
}

// One file to write, and the option that named it.
struct Output {
    std::string option;
    std::string path;
    std::string content;
};

// Outputs replace none of the program's sources and no other output.
void check_names(const Output& output, const std::vector<Output>& outputs,
                 const std::vector<std::string>& sources) {
    const std::string cannot = "cannot write " + in_quotes(output.path) + ": ";
    for (std::size_t k = 0; k < sources.size(); ++k) {
        if (Tools::same_file(output.path, sources[k])) {
            throw Tavrin::Exception{cannot +
                                    (k == 0 ? "it is the source file" : "it is an included file")};
        }
    }
    for (const Output& other : outputs) {
        if (&other != &output && Tools::same_file(output.path, other.path)) {
            throw Tavrin::Exception{cannot + "it is named by both " + output.option + " and " +
                                    other.option};
        }
    }
}

// Writes every output, or none: each goes to a temporary file first and is renamed over its
// target only when all of them are written.
bool write_outputs(const std::vector<Output>& outputs, const std::vector<std::string>& sources) {
    try {
        for (const Output& output : outputs) {
            check_names(output, outputs, sources);
        }
        std::vector<Tools::Output_File> files;
        files.reserve(outputs.size());
        for (const Output& output : outputs) {
            files.emplace_back(output.path);
            std::fwrite(output.content.data(), 1, output.content.size(), files.back().stream());
        }
        for (Tools::Output_File& file : files) {
            file.commit();
        }
    } catch (const Tavrin::Exception& exception) {
        std::cerr << "asm8080: " << Tools::printable(exception.message) << "\n";
        return false;
    }
    return true;
}

void report_errors(const Asm8080::Program& program) {
    for (const Asm8080::Diagnostic& diagnostic : program.errors) {
        std::cerr << Asm8080::format_diagnostic(diagnostic) << "\n";
    }
    const std::size_t count = program.errors.size();
    if (program.stopped) {
        std::cerr << "asm8080: stopped after " << Asm8080::maximum_errors << " errors";
    } else {
        std::cerr << "asm8080: " << count << (count == 1 ? " error" : " errors");
    }
    std::cerr << ", no output written\n";
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::cout << usage;
            return Tools::standard_output_written("asm8080") ? 0 : 1;
        }
    }
    Arguments arguments;
    if (const std::string message = parse_arguments(argc, argv, arguments); !message.empty()) {
        std::cerr << "asm8080: " << Tools::printable(message) << "\n" << usage;
        return 2;
    }

    const Asm8080::Program program = Asm8080::assemble_file(arguments.source, arguments.options);
    if (!program.ok()) {
        report_errors(program);
        return 1;
    }

    for (const Asm8080::Diagnostic& note : program.notes) {
        std::cerr << Asm8080::format_diagnostic({note.file, note.line, "note: " + note.message})
                  << "\n";
    }
    std::vector<Output> outputs;
    outputs.push_back(
        {"-o", arguments.output, std::string(program.image.begin(), program.image.end())});
    if (!arguments.listing.empty()) {
        outputs.push_back({"--listing", arguments.listing, Asm8080::format_listing(program)});
    }
    if (!arguments.symbols.empty()) {
        outputs.push_back({"--symbols", arguments.symbols,
                           Formats::format_symbol_file(program.symbols, program.values)});
    }
    if (!arguments.lines.empty()) {
        outputs.push_back(
            {"--lines", arguments.lines, Formats::format_line_map(Asm8080::line_map_of(program))});
    }
    if (!arguments.cpp_file.empty()) {
        const std::string name = std::filesystem::path(arguments.source).filename().string();
        outputs.push_back(
            {arguments.cpp_header ? "--cpp-header" : "--cpp-source", arguments.cpp_file,
             arguments.cpp_header ? Asm8080::format_cpp_header(program, arguments.cpp_name, name)
                                  : Asm8080::format_cpp_source(program, arguments.cpp_name, name)});
    }
    if (!arguments.depfile.empty()) {
        std::string text = depfile_path(arguments.output) + ":";
        for (const std::string& file : program.files) {
            text += " " + depfile_path(file);
        }
        outputs.push_back({"--depfile", arguments.depfile, text + "\n"});
    }
    return write_outputs(outputs, program.files) ? 0 : 1;
}
