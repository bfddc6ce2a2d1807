// asm8080: assembles an Intel 8080 source file into a raw binary image.

#include "tools/asm8080/assembler.hpp"
#include "tools/asm8080/syntax.hpp"
#include "tools/disassembler/symbols.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: asm8080 SOURCE -o OUTPUT [--size BYTES] [--base ADDRESS] [--listing FILE]\n"
    "               [--cpp-header FILE | --cpp-source FILE] [--cpp-name NAMESPACE::NAME]\n"
    "               [--depfile FILE] [--symbols FILE]\n"
    "  -o OUTPUT           the raw binary image\n"
    "  --size BYTES        make the image exactly this long, filled with 0x00; code past it is\n"
    "                      an error\n"
    "  --base ADDRESS      the address of the image's first byte (default: the lowest address\n"
    "                      that holds code, data or space reserved with DS)\n"
    "  --listing FILE      addresses, bytes and source lines, then the symbols\n"
    "  --cpp-header FILE   a C++ header with the image as an inline constexpr std::array\n"
    "  --cpp-source FILE   a C++ source defining the image as a constexpr std::array with\n"
    "                      external linkage\n"
    "  --cpp-name NAME     the array's qualified name (required with --cpp-header/--cpp-source)\n"
    "  --depfile FILE      a Makefile-style list of the files the image depends on\n"
    "  --symbols FILE      every label and EQU name with its value, one a line as XXXX NAME,\n"
    "                      sorted by value, then name\n";

struct Arguments {
    std::string source;
    std::string output;
    std::string listing;
    std::string cpp_file;
    bool cpp_header = false;
    std::string cpp_name;
    std::string depfile;
    std::string symbols;
    Asm8080::Options options;
};

// Decimal, or hexadecimal after 0x.
std::optional<unsigned long> parse_count(const std::string& text) {
    int base = 10;
    std::size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    }
    unsigned long value = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data() + start, end, value, base);
    if (error != std::errc() || last != end || start == text.size()) {
        return std::nullopt;
    }
    return value;
}

// Reads the command line; on a mistake returns the message to show with the usage.
std::string parse_arguments(int argc, char** argv, Arguments& arguments) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const bool takes_value = word == "-o" || word == "--size" || word == "--base" ||
                                 word == "--listing" || word == "--cpp-header" ||
                                 word == "--cpp-source" || word == "--cpp-name" ||
                                 word == "--depfile" || word == "--symbols";
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
        } else if (word == "--size") {
            const auto size = parse_count(words[++i]);
            if (!size || *size == 0 || *size > 0x10000) {
                return "--size expects a byte count from 1 to 65536, not '" + words[i] + "'";
            }
            arguments.options.size = *size;
        } else if (word == "--base") {
            const auto base = parse_count(words[++i]);
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
    return "'" + Asm8080::escaped(path) + "'";
}

// One file to write, and the option that named it.
struct Output {
    std::string option;
    std::string path;
    std::string content;
    std::filesystem::path temporary; // set once created, in this run, by this program
};

// Two names of one file, whether it exists yet or not.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) {
        return true;
    }
    std::error_code error_b;
    const auto canonical_a = std::filesystem::weakly_canonical(a, error);
    const auto canonical_b = std::filesystem::weakly_canonical(b, error_b);
    return !error && !error_b && canonical_a == canonical_b;
}

// Why `output` must not be written, or "": outputs only replace regular files that are none of
// the program's sources and no other output.
std::string refusal(const Output& output, const std::vector<Output>& outputs,
                    const std::vector<std::string>& sources) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(output.path, error);
    const std::string cannot = "cannot write " + in_quotes(output.path) + ": ";
    if (status.type() == fs::file_type::directory) {
        return cannot + "it is a directory";
    }
    if (fs::exists(status) && status.type() != fs::file_type::regular) {
        return cannot + "it is not a regular file";
    }
    for (std::size_t k = 0; k < sources.size(); ++k) {
        if (same_file(output.path, sources[k])) {
            return cannot + (k == 0 ? "it is the source file" : "it is an included file");
        }
    }
    for (const Output& other : outputs) {
        if (&other != &output && same_file(output.path, other.path)) {
            return cannot + "it is named by both " + output.option + " and " + other.option;
        }
    }
    return "";
}

// Writes `output` into a new file beside it, created here and now, so that a failure leaves the
// target as it was. Returns an error message, or "".
std::string write_temporary(Output& output) {
    namespace fs = std::filesystem;
    const fs::path target(output.path);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            target.parent_path() /
            ("." + target.filename().string() + "." + std::to_string(random() % 1000000) + ".tmp");
        // "x": fail rather than open a file that exists, which would not be ours to remove.
        std::FILE* file = std::fopen(candidate.string().c_str(), "wbx");
        if (file == nullptr) {
            if (errno == EEXIST) {
                continue;
            }
            return "cannot write " + in_quotes(output.path) + ": " + std::strerror(errno);
        }
        output.temporary = candidate;
        const bool written = std::fwrite(output.content.data(), 1, output.content.size(), file) ==
                             output.content.size();
        if (std::fclose(file) != 0 || !written) {
            return "cannot write " + in_quotes(output.path) + ": " + std::strerror(errno);
        }
        return "";
    }
    return "cannot write " + in_quotes(output.path) + ": no free temporary name beside it";
}

// Writes every output, or none: each goes to a temporary file first and is renamed over its
// target only when all of them are written. Removes nothing but those temporary files.
bool write_outputs(std::vector<Output>& outputs, const std::vector<std::string>& sources) {
    std::string message;
    for (const Output& output : outputs) {
        if (message.empty()) {
            message = refusal(output, outputs, sources);
        }
    }
    for (Output& output : outputs) {
        if (message.empty()) {
            message = write_temporary(output);
        }
    }
    for (Output& output : outputs) {
        std::error_code error;
        if (message.empty() && !output.temporary.empty()) {
            std::filesystem::rename(output.temporary, output.path, error);
            if (error) {
                message = "cannot write " + in_quotes(output.path) + ": " + error.message();
            } else {
                output.temporary.clear();
            }
        }
        if (!output.temporary.empty()) {
            std::filesystem::remove(output.temporary, error);
        }
    }
    if (!message.empty()) {
        std::cerr << "asm8080: " << message << "\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (const std::string message = parse_arguments(argc, argv, arguments); !message.empty()) {
        std::cerr << "asm8080: " << Asm8080::escaped(message) << "\n" << usage;
        return 2;
    }

    const Asm8080::Program program = Asm8080::assemble_file(arguments.source, arguments.options);
    if (!program.ok()) {
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
        return 1;
    }

    std::vector<Output> outputs;
    outputs.push_back(
        {"-o", arguments.output, std::string(program.image.begin(), program.image.end()), {}});
    if (!arguments.listing.empty()) {
        outputs.push_back({"--listing", arguments.listing, Asm8080::format_listing(program), {}});
    }
    if (!arguments.symbols.empty()) {
        outputs.push_back(
            {"--symbols", arguments.symbols, Asm8080::format_symbol_file(program.symbols), {}});
    }
    if (!arguments.cpp_file.empty()) {
        const std::string name = std::filesystem::path(arguments.source).filename().string();
        outputs.push_back({arguments.cpp_header ? "--cpp-header" : "--cpp-source",
                           arguments.cpp_file,
                           arguments.cpp_header
                               ? Asm8080::format_cpp_header(program, arguments.cpp_name, name)
                               : Asm8080::format_cpp_source(program, arguments.cpp_name, name),
                           {}});
    }
    if (!arguments.depfile.empty()) {
        std::string text = depfile_path(arguments.output) + ":";
        for (const std::string& file : program.files) {
            text += " " + depfile_path(file);
        }
        outputs.push_back({"--depfile", arguments.depfile, text + "\n", {}});
    }
    return write_outputs(outputs, program.files) ? 0 : 1;
}
