#include "base/exception.hpp"
#include "tests/cpm/cpm_programs.hpp"
#include "tools/cpm/cpm.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <vector>

namespace {

// Runs `program` (loaded at 0x0100) and returns the result.
Cpm::Result run_program(const std::vector<std::uint8_t>& program,
                        std::uint64_t limit = Cpm::no_limit, std::ostream* echo = nullptr) {
    const auto processor = Cpm::make_processor(program);
    return Cpm::run(*processor, limit, echo);
}

std::string error_of(const std::vector<std::uint8_t>& program) {
    try {
        run_program(program);
    } catch (const Tavrin::Exception& error) {
        return error.message;
    }
    return "no error";
}

TEST(CpmRunner, ConsoleOutputThroughBothBdosFunctions) {
    // MVI C,2; MVI E,'>'; CALL 5; MVI C,9; LXI D,0114; CALL 5; JMP 0; "ok$"
    const std::vector<std::uint8_t> program{0x0E, 0x02, 0x1E, '>',  0xCD, 0x05, 0x00, 0x0E,
                                            0x09, 0x11, 0x14, 0x01, 0xCD, 0x05, 0x00, 0xC3,
                                            0x00, 0x00, 0x00, 0x00, 'o',  'k',  '$'};
    std::ostringstream echo;
    const Cpm::Result result = run_program(program, Cpm::no_limit, &echo);
    EXPECT_EQ(result.output, ">ok");
    EXPECT_EQ(echo.str(), ">ok");
    EXPECT_TRUE(result.finished);
    // Seven instructions of the program, two BDOS returns.
    EXPECT_EQ(result.instructions, 9U);
}

TEST(CpmRunner, ProgramsEndByReturningJumpingToZeroOrCallingFunctionZero) {
    EXPECT_EQ(run_program({0xC9}).instructions, 1U);                   // RET to the warm start
    EXPECT_EQ(run_program({0x00, 0xC3, 0x00, 0x00}).instructions, 2U); // NOP; JMP 0
    const auto result = run_program({0x0E, 0x00, 0xCD, 0x05, 0x00, 0x76});
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.instructions, 2U);
}

// Addresses 1 to 4 lie between the two that stop the runner's inner loop: code there runs one
// instruction at a time and is counted like any other.
TEST(CpmRunner, CodeBetweenTheWarmStartAndTheBdosEntryRuns) {
    // MVI C,2; MVI E,'!'; JMP 0001: four NOPs at 0001-0004 lead into the BDOS entry, whose return
    // takes the warm-start address from the stack.
    const auto result = run_program({0x0E, 0x02, 0x1E, '!', 0xC3, 0x01, 0x00});
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.output, "!");
    EXPECT_EQ(result.instructions, 8U); // three of the program, four NOPs, the BDOS call
}

TEST(CpmRunner, TheStackStartsBelowTheBdosAddressHeldAtSix) {
    // LHLD 6; SPHL; PUSH H; LXI H,0; DAD SP; SHLD 0200; JMP 0
    const auto processor = Cpm::make_processor(std::vector<std::uint8_t>{
        0x2A, 0x06, 0x00, 0xF9, 0xE5, 0x21, 0x00, 0x00, 0x39, 0x22, 0x00, 0x02, 0xC3, 0x00, 0x00});
    EXPECT_TRUE(Cpm::run(*processor).finished);
    EXPECT_EQ(processor->memory[0x0200], static_cast<std::uint8_t>(Cpm::bdos_base - 2));
    EXPECT_EQ(processor->memory[0x0201], (Cpm::bdos_base - 2) >> 8);
}

TEST(CpmRunner, InstructionLimitStopsARunawayProgram) {
    const auto result = run_program({0xC3, 0x00, 0x01}, 1000); // JMP 0100 forever
    EXPECT_FALSE(result.finished);
    EXPECT_EQ(result.instructions, 1000U);
}

TEST(CpmRunner, FailuresNameTheirCause) {
    EXPECT_EQ(error_of({0x00, 0xDB, 0x01}),
              "At 0x0101 after 1 instructions: Could not execute instruction \"DB\" because it "
              "has not been implemented.");
    EXPECT_EQ(error_of({0xD3, 0x01}), "At 0x0100 after 0 instructions: Could not execute "
                                      "instruction \"D3\" because it has not been implemented.");
    EXPECT_EQ(error_of({0x0E, 0x0A, 0xCD, 0x05, 0x00}),
              "At 0x0102 after 2 instructions: The program called BDOS function 10, which this "
              "runner does not provide (only 0, 2 and 9).");
    EXPECT_EQ(error_of({0x0E, 0x0A, 0x00, 0x00, 0xC3, 0x05, 0x00}), // reached by a jump
              "At 0x0104 after 4 instructions: The program called BDOS function 10, which this "
              "runner does not provide (only 0, 2 and 9).");

    const std::vector<std::uint8_t> too_large(Cpm::max_program_size + 1, 0x00);
    EXPECT_THROW(Cpm::make_processor(too_large), Tavrin::Exception);
    EXPECT_NO_THROW(Cpm::make_processor(std::vector<std::uint8_t>(Cpm::max_program_size, 0)));
}

// No byte of memory is a '$': nothing is printed, not 65,535 bytes before the error.
TEST(CpmRunner, AStringWithoutItsDollarPrintsNothing) {
    // MVI C,2; MVI E,'>'; CALL 5; MVI C,9; LXI D,0200; CALL 5
    const auto processor = Cpm::make_processor(std::vector<std::uint8_t>{
        0x0E, 0x02, 0x1E, '>', 0xCD, 0x05, 0x00, 0x0E, 0x09, 0x11, 0x00, 0x02, 0xCD, 0x05, 0x00});
    std::ostringstream echo;
    try {
        Cpm::run(*processor, Cpm::no_limit, &echo);
        ADD_FAILURE() << "a string without '$' was printed";
    } catch (const Tavrin::Exception& error) {
        EXPECT_EQ(error.message, "At 0x010C after 7 instructions: The string printed by BDOS "
                                 "function 9 from 0x0200 has no terminating '$'.");
    }
    EXPECT_EQ(echo.str(), ">");

    // A string may wrap round the end of memory.
    processor->memory[0xFFFF] = 'o';
    processor->memory[0x0000] = 'k';
    processor->memory[0x0001] = '$';
    processor->pc = 0x010C; // CALL 5 with DE = FFFF
    processor->d = 0xFF;
    processor->e = 0xFF;
    const auto wrapped = Cpm::run(*processor, 2);
    EXPECT_EQ(wrapped.output, "ok");
    EXPECT_EQ(processor->pc, 0x010F);
}

// The largest program the loader takes keeps every byte: the first stack lies above it.
TEST(CpmRunner, AProgramOfTheLargestSizeKeepsItsLastBytes) {
    std::vector<std::uint8_t> program(Cpm::max_program_size, 0x00);
    // LDA last; MOV E,A; MVI C,2; CALL 5; LDA last-1; MOV E,A; CALL 5; RET
    const std::uint16_t last = static_cast<std::uint16_t>(Cpm::load_address + program.size() - 1);
    const std::vector<std::uint8_t> code{0x3A,
                                         static_cast<std::uint8_t>(last),
                                         static_cast<std::uint8_t>(last >> 8),
                                         0x5F,
                                         0x0E,
                                         0x02,
                                         0xCD,
                                         0x05,
                                         0x00,
                                         0x3A,
                                         static_cast<std::uint8_t>(last - 1),
                                         static_cast<std::uint8_t>((last - 1) >> 8),
                                         0x5F,
                                         0xCD,
                                         0x05,
                                         0x00,
                                         0xC9};
    std::copy(code.begin(), code.end(), program.begin());
    program[program.size() - 1] = 'Z';
    program[program.size() - 2] = 'Y';
    const auto result = run_program(program);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.output, "ZY");
}

TEST(CpmRunner, TheLimitIsAPlainPositiveDecimalNumber) {
    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> cases{
        {"1", 1},
        {"2000000", 2000000},
        {"18446744073709551615", Cpm::no_limit},
        {"0", std::nullopt},
        {"", std::nullopt},
        {" -5", std::nullopt},
        {"-5", std::nullopt},
        {"+5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"0x10", std::nullopt},
        {"1e3", std::nullopt},
        {"18446744073709551616", std::nullopt},
    };
    for (const auto& [text, limit] : cases) {
        EXPECT_EQ(Cpm::parse_limit(text), limit) << '"' << text << '"';
    }
}

TEST(CpmRunner, LoadingRejectsMissingEmptyAndOversizedFiles) {
    const auto directory = std::filesystem::temp_directory_path() /
                           ("cpm_runner_test_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(directory);
    const auto write = [&](const char* name, std::size_t size) {
        const auto path = directory / name;
        std::ofstream(path, std::ios::binary) << std::string(size, '\0');
        return path;
    };
    try {
        Cpm::load_program(directory / "missing.COM");
        ADD_FAILURE() << "a missing file loaded";
    } catch (const Tavrin::Exception& error) {
        EXPECT_NE(error.message.find("Could not open"), std::string::npos) << error.message;
    }
    EXPECT_THROW(Cpm::load_program(write("empty.COM", 0)), Tavrin::Exception);
    EXPECT_THROW(Cpm::load_program(write("large.COM", Cpm::max_program_size + 1)),
                 Tavrin::Exception);
    EXPECT_EQ(Cpm::load_program(write("fits.COM", Cpm::max_program_size)).size(),
              Cpm::max_program_size);
    EXPECT_THROW(Cpm::load_program("/dev/zero"), Tavrin::Exception);
    std::filesystem::remove_all(directory);
}

// The program: output that cannot be written is an error, and names are printed escaped.
TEST(CpmRun, ReportsLostOutputAndQuotesNamesSafely) {
    const auto directory = std::filesystem::temp_directory_path() /
                           ("cpm_run_test_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(directory);
    // MVI C,9; LXI D,010B; CALL 5; RET; "hi$"
    std::ofstream(directory / "hi.com", std::ios::binary)
        << std::string("\x0E\x09\x11\x0B\x01\xCD\x05\x00\xC9\x00\x00hi$", 14);
    const auto run = [&directory](const std::string& arguments) {
        const std::string command =
            "cd '" + directory.string() + "' && '" CPM_RUN_PATH "' " + arguments + " 2> err.txt";
        const int status = std::system(command.c_str());
        std::ifstream in(directory / "err.txt");
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                              std::string(std::istreambuf_iterator<char>(in), {}));
    };
    const auto [status, errors] = run("hi.com > out.txt");
    EXPECT_EQ(status, 0) << errors;
    std::ifstream out(directory / "out.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(out), {}).substr(0, 3), "hi\n");

    EXPECT_EQ(run("hi.com > /dev/full"),
              std::make_pair(1, std::string("cpm-run: could not write standard output: No space "
                                            "left on device\n")));
    EXPECT_EQ(run("'\x1B[2J.com' > /dev/null"),
              std::make_pair(1, std::string("cpm-run: Could not open \"\\x1B[2J.com\": No such "
                                            "file or directory.\n")));
    std::filesystem::remove_all(directory);
}

// The third-party programs; each expected file explains the lines this processor fails on.
TEST(CpmPrograms, Test) {
    cpm_programs::check_program("TEST");
}
TEST(CpmPrograms, Preliminary) {
    cpm_programs::check_program("8080PRE");
}
TEST(CpmPrograms, CpuTest) {
    cpm_programs::check_program("CPUTEST");
}

} // namespace
