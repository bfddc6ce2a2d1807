#pragma once

#include "tests/support/cpu_tests.hpp"
#include "tools/cpm/cpm.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Runs a third-party CP/M test program and compares what it prints, line by line, and how many
// instructions it takes with the result committed next to these tests. The programs themselves
// are not part of the repository: cpu_tests_directory() says where they are looked for.
namespace cpm_programs {

// The program's output as lines of plain text: carriage returns dropped, other control
// characters written as ^@, ^G and so on.
inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (const char character : text) {
        if (character == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (character == '\r') {
            continue;
        } else if (static_cast<unsigned char>(character) < 0x20 || character == 0x7F) {
            line.push_back('^'); // other control characters as ^@, ^G, ...
            line.push_back(static_cast<char>(character ^ 0x40));
        } else {
            line.push_back(character);
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

struct Expected {
    std::uint64_t instructions = 0;
    std::vector<std::string> lines;
};

// The expected file: comment lines starting with '#', then "instructions: N", then "output:"
// followed by the program's output as lines_of gives it.
inline Expected read_expected(const std::string& name) {
    const auto path = std::filesystem::path(TAVRIN_CPM_EXPECTED_DIRECTORY) / (name + ".expected");
    std::ifstream file(path);
    EXPECT_TRUE(file.good()) << "cannot read " << path;
    Expected expected;
    std::string line;
    while (std::getline(file, line) && line != "output:") {
        if (line.starts_with("instructions: ")) {
            expected.instructions = std::stoull(line.substr(14));
        }
    }
    while (std::getline(file, line)) {
        expected.lines.push_back(line);
    }
    return expected;
}

inline void check_program(const std::string& name) {
    const auto path = cpu_tests_directory() / (name + ".COM");
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << path << " is absent: set TAVRIN_CPU_TESTS to the folder holding " << name
                     << ".COM to run this test.";
    }
    const Expected expected = read_expected(name);
    const auto processor = Cpm::make_processor(Cpm::load_program(path));
    const Cpm::Result result = Cpm::run(*processor);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.instructions, expected.instructions);
    const auto lines = lines_of(result.output);
    EXPECT_EQ(lines.size(), expected.lines.size());
    for (std::size_t i = 0; i < lines.size() && i < expected.lines.size(); ++i) {
        EXPECT_EQ(lines[i], expected.lines[i]) << "line " << i + 1;
    }
}

} // namespace cpm_programs
