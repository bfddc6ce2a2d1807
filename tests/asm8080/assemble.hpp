#pragma once

#include "tools/asm8080/assembler.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

inline Asm8080::Program assemble_text(const std::string& source,
                                      const Asm8080::Options& options = {}) {
    return Asm8080::assemble(source, "test.asm", options);
}

// The image of a source that must assemble cleanly; each error fails the calling test.
inline std::vector<std::uint8_t> assemble_ok(const std::string& source,
                                             const Asm8080::Options& options = {}) {
    const Asm8080::Program program = assemble_text(source, options);
    for (const Asm8080::Diagnostic& error : program.errors) {
        ADD_FAILURE() << Asm8080::format_diagnostic(error);
    }
    return program.image;
}

using Bytes = std::vector<std::uint8_t>;
