// asm8080: assembles an Intel 8080 source file into a raw binary image.

#include "tools/asm8080/assembler.hpp"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: asm8080 SOURCE -o OUTPUT [--size BYTES] [--base ADDRESS] [--listing FILE]\n"
    "               [--cpp-header FILE | --cpp-source FILE] [--cpp-name NAMESPACE::NAME]\n"
    "               [--depfile FILE]\n"
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
    "  --depfile FILE      a Makefile-style list of the files the image depends on\n";

struct Arguments {
    std::string source;
    std::string output;
    std::string listing;
    std::string cpp_file;
    bool cpp_header = false;
    std::string cpp_name;
    std::string depfile;
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
                                 word == "--depfile";
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

bool write_file(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        std::cerr << "asm8080: cannot write '" << path << "'\n";
        return false;
    }
    return true;
}

bool write_text(const std::string& path, const std::string& text) {
    return write_file(path, text.data(), text.size());
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

void remove_outputs(const Arguments& arguments) {
    for (const std::string* path :
         {&arguments.output, &arguments.listing, &arguments.cpp_file, &arguments.depfile}) {
        if (!path->empty()) {
            std::error_code ignored;
            std::filesystem::remove(*path, ignored);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (const std::string message = parse_arguments(argc, argv, arguments); !message.empty()) {
        std::cerr << "asm8080: " << message << "\n" << usage;
        return 2;
    }

    const Asm8080::Program program = Asm8080::assemble_file(arguments.source, arguments.options);
    if (!program.ok()) {
        for (const Asm8080::Diagnostic& diagnostic : program.errors) {
            std::cerr << Asm8080::format_diagnostic(diagnostic) << "\n";
        }
        const std::size_t count = program.errors.size();
        std::cerr << "asm8080: " << count << (count == 1 ? " error" : " errors")
                  << ", no output written\n";
        remove_outputs(arguments);
        return 1;
    }

    bool written = write_file(arguments.output, program.image.data(), program.image.size());
    if (written && !arguments.listing.empty()) {
        written = write_text(arguments.listing, Asm8080::format_listing(program));
    }
    if (written && !arguments.cpp_file.empty()) {
        const std::string name = std::filesystem::path(arguments.source).filename().string();
        written = write_text(arguments.cpp_file,
                             arguments.cpp_header
                                 ? Asm8080::format_cpp_header(program, arguments.cpp_name, name)
                                 : Asm8080::format_cpp_source(program, arguments.cpp_name, name));
    }
    if (written && !arguments.depfile.empty()) {
        std::string text = depfile_path(arguments.output) + ":";
        for (const std::string& file : program.files) {
            text += " " + depfile_path(file);
        }
        written = write_text(arguments.depfile, text + "\n");
    }
    if (!written) {
        remove_outputs(arguments);
        return 1;
    }
    return 0;
}
