// Fuzzes the assembler's library entry point with arbitrary source text. Besides not crashing,
// not hanging and staying within bounded memory (libFuzzer's limits and the sanitizers check
// those), a run must:
//  - give no image when there are errors, and at most maximum_errors of them plus the stop note;
//  - keep control bytes out of every message;
//  - on success give an image that fits memory, and a listing and C++ array that can be written.

#include "tools/asm8080/assembler.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "assembler invariant broken: %s\n", what);
        std::abort();
    }
}

bool printable(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    // An odd first byte asks for a fixed image size, which adds the padding and its checks.
    Asm8080::Options options;
    if (size > 0 && (data[0] & 1) != 0) {
        options.size = 64;
    }
    const Asm8080::Program program = Asm8080::assemble(source, "fuzz.asm", options);
    if (!program.ok()) {
        check(program.image.empty(), "an image despite errors");
        check(program.errors.size() <= Asm8080::maximum_errors + (program.stopped ? 1 : 0),
              "more errors than the limit");
        for (const Asm8080::Diagnostic& error : program.errors) {
            check(printable(Asm8080::format_diagnostic(error)), "a control byte in a message");
        }
        return 0;
    }
    check(program.image.size() <= 0x10000, "an image larger than memory");
    check(!options.size || program.image.size() == *options.size, "an image of the wrong size");
    check(!Asm8080::format_listing(program).empty() || program.listing.empty(), "no listing");
    check(!Asm8080::format_cpp_header(program, "Fuzz::rom", "fuzz.asm").empty(), "no header");
    return 0;
}
