// dis8080: writes asm8080 source for an 8080 image, which assembles back to the same bytes. See
// `usage` below.

#include "base/exception.hpp"
#include "formats/symbols.hpp"
#include "tools/dis8080/source.hpp"
#include "tools/disassembler/disassembler.hpp"
#include "tools/files/format_files.hpp"
#include "tools/files/input_file.hpp"
#include "tools/files/messages.hpp"
#include "tools/files/numbers.hpp"
#include "tools/files/output_file.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int exit_failed = 1;  // the source could not be written
constexpr int exit_refused = 2; // bad arguments or files: nothing was written
constexpr std::size_t memory_size = 0x10000;

const std::string usage =
    R"(Usage: dis8080 ROM... [--symbols FILE] [--base ADDR] [--from ADDR] [--to ADDR]
               [-o FILE]
Writes 8080 assembler source that asm8080 assembles back to the same bytes, from an image
(files joined in order; - reads standard input) of at most 65,536 bytes.

  --symbols FILE      labels for addresses, as asm8080 --symbols writes them (its EQU names
                      are left out: they may be ports, counts or RAM)
  --base ADDR         the address of the image's first byte (default 0)
  --from ADDR         the first address to write (default: the image's first)
  --to ADDR           the last address to write, included (default: the image's last)
  -o FILE             the source (default, or -: standard output)
  --help              this text

ADDR: a number (decimal, 0x2000 or 2000H) or, for --from and --to, a label from --symbols.
The source starts with ORG; the labels name their addresses, and a jump or call into the range
where no label is gets one of its own (L01A2). Opcodes without a mnemonic, and an instruction
cut off by the end or by a label, are DB. Each line's comment gives its address and bytes.
To assemble it back: asm8080 out.asm -o out.bin --base ADDR (with --size, for a whole ROM).
Exit status: 0 written; 1 standard output could not be written; 2 a bad argument or file
(nothing is written). An output file appears only complete, only in place of a regular file.
)";

struct Options {
    std::vector<fs::path> images; // joined in order
    std::optional<fs::path> symbols;
    std::optional<std::string> base;
    std::optional<std::string> from;
    std::optional<std::string> to;
    fs::path output = "-";
};

[[noreturn]] void refuse(const std::string& message) {
    throw Tavrin::Exception{message};
}

Options parse_arguments(int argc, char** argv) {
    Options options;
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 == words.size()) {
                refuse(std::string(word) + " needs a value; see dis8080 --help");
            }
            return words[++i];
        };
        if (word == "--symbols") {
            options.symbols = fs::path(value());
        } else if (word == "--base") {
            options.base = std::string(value());
        } else if (word == "--from") {
            options.from = std::string(value());
        } else if (word == "--to") {
            options.to = std::string(value());
        } else if (word == "-o") {
            options.output = fs::path(value());
        } else if (word.starts_with("-") && word != "-") {
            refuse("unknown option " + std::string(word) + "; see dis8080 --help");
        } else {
            options.images.push_back(word == "-" ? fs::path("/dev/stdin") : fs::path(word));
        }
    }
    if (options.images.empty()) {
        refuse("no image given; see dis8080 --help");
    }
    if (std::count(options.images.begin(), options.images.end(), fs::path("/dev/stdin")) > 1) {
        refuse("standard input can be read once: name it (-) once");
    }
    return options;
}

// The files joined in order, at most 64 KiB in all.
std::vector<std::uint8_t> read_image(const std::vector<fs::path>& paths) {
    std::vector<std::uint8_t> image;
    for (const fs::path& path : paths) {
        const Tools::Input input = Tools::read_at_most(path, memory_size - image.size());
        if (input.error == std::errc::is_a_directory) {
            refuse("the image " + path.string() + " is a directory; give the image file itself");
        }
        if (input.error) {
            refuse("cannot read the image " + path.string() + ": " + input.error.message());
        }
        if (input.longer) {
            refuse("the image comes to more than 65536 bytes with " + path.string() +
                   ", more than the 8080 addresses; give fewer or shorter files");
        }
        image.insert(image.end(), input.bytes.begin(), input.bytes.end());
    }
    if (image.empty()) {
        refuse("the image is empty: there is nothing to disassemble");
    }
    return image;
}

std::uint16_t address_option(std::string_view option, const std::string& text,
                             const Formats::Symbols* symbols) {
    const auto address = Tools::parse_address(text, option == "--base" ? nullptr : symbols);
    if (!address) {
        refuse(std::string(option) + " takes an address from 0 to 0FFFFH (" +
               std::string(Tools::number_forms) +
               (option == "--base"   ? ""
                : symbols != nullptr ? ", or a label from --symbols"
                                     : "; a label needs --symbols") +
               "), not \"" + text + "\"");
    }
    return *address;
}

// The addresses to write, inside the image at `base`.
Dis8080::Range range_of(const Options& options, std::uint16_t base, std::size_t size,
                        const Formats::Symbols* symbols) {
    const unsigned last = base + static_cast<unsigned>(size) - 1;
    if (last >= memory_size) {
        refuse("the image's " + std::to_string(size) + " bytes from --base " +
               Asm8080::hex_number(base, 4) + " go past 0FFFFH; give a lower --base");
    }
    const auto bound = [&](std::string_view option, const std::optional<std::string>& text,
                           unsigned otherwise) {
        if (!text) {
            return otherwise;
        }
        const unsigned address = address_option(option, *text, symbols);
        if (address < base || address > last) {
            refuse(std::string(option) + " " + *text + " is outside the image, which holds " +
                   Asm8080::hex_number(base, 4) + " to " + Asm8080::hex_number(last, 4) +
                   (options.base ? "" : " (--base sets its first address)"));
        }
        return address;
    };
    const unsigned from = bound("--from", options.from, base);
    const unsigned to = bound("--to", options.to, last);
    if (from > to) {
        refuse("--from " + Asm8080::hex_number(from, 4) + " comes after --to " +
               Asm8080::hex_number(to, 4) + "; --to is the last address written");
    }
    return {static_cast<std::uint16_t>(from), static_cast<std::uint16_t>(to)};
}

int run(const Options& options) {
    if (!Tools::names_standard_output(options.output)) {
        for (const auto& input : options.images) {
            if (Tools::same_file(options.output, input)) {
                refuse("the output " + options.output.string() + " is the image " + input.string() +
                       "; choose another name");
            }
        }
        if (options.symbols && Tools::same_file(options.output, *options.symbols)) {
            refuse("the output " + options.output.string() + " is the symbol file; choose " +
                   "another name");
        }
    }
    const std::vector<std::uint8_t> image = read_image(options.images);
    std::optional<Formats::Symbols> symbols;
    if (options.symbols) {
        symbols = Tools::read_symbol_file(*options.symbols);
    }
    const Formats::Symbols* names = symbols ? &*symbols : nullptr;
    const std::uint16_t base = options.base ? address_option("--base", *options.base, nullptr) : 0;
    const Dis8080::Range range = range_of(options, base, image.size(), names);
    const std::string source = Dis8080::program_source({image, base}, range, names);

    std::string files;
    for (const fs::path& path : options.images) {
        files += (files.empty() ? "" : ", ") + (path == "/dev/stdin" ? "-" : path.string());
    }
    const std::string title =
        "; dis8080 " + Tools::printable(files) + ": " + std::to_string(image.size()) +
        " bytes at " + Asm8080::hex_number(base, 4) + ", written from " +
        Asm8080::hex_number(range.first, 4) + " to " + Asm8080::hex_number(range.last, 4) + "\n";
    Tools::Output output(options.output);
    std::fputs(title.c_str(), output.stream());
    std::fwrite(source.data(), 1, source.size(), output.stream());
    output.commit();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return Tools::run_tool("dis8080", usage, argc, argv,
                           {.refused = exit_refused, .failed = exit_failed},
                           [&] { return run(parse_arguments(argc, argv)); });
}
