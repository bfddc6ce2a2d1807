// The asm8080 program: its options, its outputs, and what it leaves behind when it fails.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Command_Line : public testing::Test {
protected:
    void SetUp() override {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        directory_ = fs::temp_directory_path() /
                     ("asm8080_cli_" + std::string(test->name()) + "_" + std::to_string(getpid()));
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }

    void TearDown() override { fs::remove_all(directory_); }

    fs::path path(const std::string& name) const { return directory_ / name; }

    void write(const std::string& name, const std::string& text) const {
        fs::create_directories(path(name).parent_path());
        std::ofstream(path(name), std::ios::binary) << text;
    }

    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Runs asm8080 in the test's directory; returns its exit code and keeps its error output.
    int run(const std::string& arguments) {
        const std::string command = "cd '" + directory_.string() + "' && '" ASM8080_PATH "' " +
                                    arguments + " 2> stderr.txt";
        const int status = std::system(command.c_str());
        errors_ = read("stderr.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& errors() const { return errors_; }

private:
    fs::path directory_;
    std::string errors_;
};

TEST_F(Command_Line, WritesTheImageAndTheRequestedExtras) {
    write("program.asm", " INCLUDE \"lib/values.asm\"\n MVI A,value\n HLT\n");
    write("lib/values.asm", "value EQU 7\n");
    ASSERT_EQ(run("program.asm -o out/program.bin --size 0x10 --listing program.lst "
                  "--cpp-header program.hpp --cpp-name Roms::program --depfile program.d"),
              1) // the output folder does not exist
        << errors();
    EXPECT_NE(errors().find("cannot write 'out/program.bin'"), std::string::npos) << errors();

    ASSERT_EQ(run("program.asm -o program.bin --size 0x10 --listing program.lst "
                  "--cpp-header program.hpp --cpp-name Roms::program --depfile program.d"),
              0)
        << errors();
    EXPECT_EQ(errors(), "");
    EXPECT_EQ(read("program.bin"), std::string("\x3E\x07\x76", 3) + std::string(13, '\0'));
    EXPECT_EQ(read("program.lst"), "                      1   INCLUDE \"lib/values.asm\"\n"
                                   "      [lib/values.asm]\n"
                                   "=0007                 1  value EQU 7\n"
                                   "      [program.asm]\n"
                                   "0000  3E 07           2   MVI A,value\n"
                                   "0002  76              3   HLT\n"
                                   "\n"
                                   "Symbols:\n"
                                   "0007  VALUE\n");
    EXPECT_NE(read("program.hpp").find("namespace Roms {"), std::string::npos);
    EXPECT_NE(read("program.hpp").find("std::array<std::uint8_t, 16> program{"), std::string::npos);
    EXPECT_EQ(read("program.d"), "program.bin: program.asm lib/values.asm\n");
}

TEST_F(Command_Line, ReportsEveryErrorAndWritesNothing) {
    write("broken.asm", " NOP\n JMP nowhere\n MOV M,M\n");
    write("broken.bin", "stale image from an earlier run");
    EXPECT_EQ(run("broken.asm -o broken.bin --listing broken.lst"), 1);
    EXPECT_EQ(errors(), "broken.asm:2: undefined symbol 'nowhere'\n"
                        "broken.asm:3: MOV M,M is not an instruction\n"
                        "asm8080: 2 errors, no output written\n");
    EXPECT_FALSE(fs::exists(path("broken.bin")));
    EXPECT_FALSE(fs::exists(path("broken.lst")));

    EXPECT_EQ(run("missing.asm -o missing.bin"), 1);
    EXPECT_EQ(errors(), "missing.asm: cannot open the file\nasm8080: 1 error, no output written\n");

    write("big.asm", " DS 10\n DB 1\n"); // the image starts at the reserved space
    EXPECT_EQ(run("big.asm -o big.bin --size 10"), 1);
    EXPECT_EQ(errors(), "big.asm:2: code at 000AH is past the end of the 10-byte image\n"
                        "asm8080: 1 error, no output written\n");
}

TEST_F(Command_Line, ErrorsInIncludedFilesNameThoseFiles) {
    write("main.asm", "start: NOP\n INCLUDE \"parts/part.asm\"\n INCLUDE 'absent.asm'\n"
                      " INCLUDE \"parts/loop.asm\"\n JMP start\n");
    write("parts/part.asm", " NOP\n MVI A,999\nstart: NOP\n");
    write("parts/loop.asm", " INCLUDE \"loop.asm\"\n");
    EXPECT_EQ(run("main.asm -o main.bin"), 1);
    EXPECT_EQ(errors(), "parts/part.asm:2: value 999 is out of range for a byte\n"
                        "parts/part.asm:3: duplicate label 'start' (first defined on main.asm:1)\n"
                        "main.asm:3: cannot open included file 'absent.asm'\n"
                        "parts/loop.asm:1: INCLUDE nested too deeply (is 'loop.asm' including "
                        "itself?)\n"
                        "asm8080: 4 errors, no output written\n");
}

TEST_F(Command_Line, RefusesMalformedCommandLines) {
    write("ok.asm", " NOP\n");
    const std::vector<std::pair<std::string, std::string>> cases{
        {"ok.asm -o ok.bin --frobnicate", "asm8080: unknown option '--frobnicate'\n"},
        {"ok.asm", "asm8080: no output file given (-o OUTPUT)\n"},
        {"-o ok.bin", "asm8080: no source file given\n"},
        {"ok.asm ok2.asm -o ok.bin",
         "asm8080: more than one source file ('ok.asm' and 'ok2.asm')\n"},
        {"ok.asm -o", "asm8080: option -o needs a value\n"},
        {"ok.asm -o ok.bin --size 0",
         "asm8080: --size expects a byte count from 1 to 65536, not '0'\n"},
        {"ok.asm -o ok.bin --size 8k",
         "asm8080: --size expects a byte count from 1 to 65536, not '8k'\n"},
        {"ok.asm -o ok.bin --base 0x10000",
         "asm8080: --base expects an address from 0 to 0xFFFF, not '0x10000'\n"},
        {"ok.asm -o ok.bin --cpp-header x.hpp",
         "asm8080: --cpp-header or --cpp-source and --cpp-name go together\n"},
        {"ok.asm -o ok.bin --cpp-source x.cpp --cpp-name 1x",
         "asm8080: --cpp-name expects a C++ name such as Space::name, not '1x'\n"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_EQ(run(arguments), 2) << arguments;
        EXPECT_EQ(errors().substr(0, errors().find("usage:")), message) << arguments;
        EXPECT_FALSE(fs::exists(path("ok.bin"))) << arguments;
    }
}

} // namespace
