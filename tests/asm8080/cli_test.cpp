// The asm8080 program: its options, its outputs, and what it leaves behind when it fails.

#include "tests/support/command_line_test.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Command_Line : public Command_Line_Test {
protected:
    // Runs asm8080 in the test's folder; returns its exit code and keeps its error output.
    int run(const std::string& arguments) {
        return Command_Line_Test::run(ASM8080_PATH, arguments);
    }

    const std::string& errors() const { return err; }

    // The names in the test's folder.
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
};

TEST_F(Command_Line, WritesTheImageAndTheRequestedExtras) {
    write("program.asm", " INCLUDE \"lib/values.asm\"\n MVI A,value\n HLT\n");
    write("lib/values.asm", "value EQU 7\n");
    ASSERT_EQ(run("program.asm -o out/program.bin --size 0x10 --listing program.lst "
                  "--cpp-header program.hpp --cpp-name Roms::program --depfile program.d"),
              1) // the output folder does not exist
        << errors();
    EXPECT_NE(errors().find("cannot write 'out/program.bin'"), std::string::npos) << errors();
    EXPECT_EQ(entries(), (std::set<std::string>{"lib", "program.asm"}))
        << "all outputs or none, and no temporary file left behind";

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

TEST_F(Command_Line, WritesTheSymbolsSortedByValueThenName) {
    write("program.asm", "width EQU 20H\nstart: JMP loop\nloop: NOP\nAFTER EQU loop\nzero EQU 0\n");
    ASSERT_EQ(run("program.asm -o program.bin --symbols program.sym"), 0) << errors();
    EXPECT_EQ(read("program.sym"),
              "0000 START\n0000 ZERO EQU\n0003 AFTER EQU\n0003 LOOP\n0020 WIDTH EQU\n");
    EXPECT_EQ(run("program.asm -o program.bin --symbols program.asm"), 1);
    EXPECT_NE(errors().find("it is the source file"), std::string::npos) << errors();
}

TEST_F(Command_Line, WritesTheLineMapInAddressOrder) {
    write("src/main.asm", "; the line map\n"
                          "size EQU 2\n"
                          " ORG 10H\n"
                          "tail: DB 1,2,3\n"
                          " ORG 0\n"
                          "start: MVI A,size\n"
                          " INCLUDE \"lib/part.asm\"\n"
                          " ORG 2000H\n"
                          "var: DS 4\n"
                          " ORG 20H\n"
                          " JMP start\n");
    write("src/lib/part.asm", "\n NOP\n DW tail\n");
    ASSERT_EQ(run("src/main.asm -o o.bin --lines o.lines"), 0) << errors();
    EXPECT_EQ(read("o.lines"), "0000 src/main.asm:6\n"
                               "0002 src/lib/part.asm:2\n"
                               "0003 src/lib/part.asm:3\n"
                               "0010 src/main.asm:4\n"
                               "0020 src/main.asm:11\n");
}

TEST_F(Command_Line, ReportsEveryErrorAndWritesNothing) {
    write("broken.asm", " NOP\n JMP nowhere\n MOV M,M\n");
    write("broken.bin", "stale image from an earlier run");
    EXPECT_EQ(run("broken.asm -o broken.bin --listing broken.lst"), 1);
    EXPECT_EQ(errors(), "broken.asm:2: undefined symbol 'nowhere'\n"
                        "broken.asm:3: MOV M,M is not an instruction\n"
                        "asm8080: 2 errors, no output written\n");
    // A file this run did not write is not this run's to remove.
    EXPECT_EQ(read("broken.bin"), "stale image from an earlier run");
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

TEST_F(Command_Line, TakesNumbersInEveryFormAndStartsARomAtZeroAndHelpsOnRequest) {
    write("ok.asm", " ORG 100H\n MVI A,7\n");
    for (const std::string numbers :
         {"--size 16 --base 256", "--size 0x10 --base 0x100", "--size 10H --base 100H"}) {
        ASSERT_EQ(run("ok.asm -o ok.bin " + numbers), 0) << numbers << errors();
        EXPECT_EQ(read("ok.bin"), std::string("\x3E\x07", 2) + std::string(14, '\0')) << numbers;
    }
    write("high.asm", " ORG 100H\n DB 1\n");
    ASSERT_EQ(run("high.asm -o high.bin --size 0x200"), 0) << errors();
    EXPECT_EQ(read("high.bin"), std::string(256, '\0') + '\1' + std::string(255, '\0'));
    EXPECT_EQ(errors(), "high.asm:2: note: the lowest address that holds code is 0100H, but the "
                        "image starts at 0000H, as a ROM image of a given size does; give --base "
                        "0100H to start it there\n");
    for (const std::string help : {"--help", "ok.asm -h --frobnicate"}) {
        EXPECT_EQ(run(help), 0) << help;
        EXPECT_EQ(out.substr(0, 15), "usage: asm8080 ") << help;
        EXPECT_EQ(errors(), "") << help;
    }
}

// Whatever goes wrong, asm8080 removes only what it created in this run: a source, an included
// file, a directory or a device named as an output is refused and left as it was.
TEST_F(Command_Line, NeverTouchesFilesItDidNotWrite) {
    write("ok.asm", " INCLUDE \"inc.asm\"\n NOP\n");
    write("inc.asm", "value EQU 1\n");
    write("bad.asm", " JMP nowhere\n");
    fs::create_directories(path("somedir/inner"));
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    struct Case {
        std::string arguments;
        std::string message;
    };
    const std::vector<Case> cases{
        {"bad.asm -o bad.asm", "bad.asm:1: undefined symbol 'nowhere'\n"
                               "asm8080: 1 error, no output written\n"},
        {"bad.asm -o somedir --listing pipe --depfile inc.asm",
         "bad.asm:1: undefined symbol 'nowhere'\nasm8080: 1 error, no output written\n"},
        {"ok.asm -o ok.asm", "asm8080: cannot write 'ok.asm': it is the source file\n"},
        {"ok.asm -o o.bin --listing ./inc.asm",
         "asm8080: cannot write './inc.asm': it is an included file\n"},
        {"ok.asm -o somedir", "asm8080: cannot write 'somedir': it is a directory\n"},
        {"ok.asm -o o.bin --depfile pipe",
         "asm8080: cannot write 'pipe': it is not a regular file\n"},
        {"ok.asm -o o.bin --listing o.bin",
         "asm8080: cannot write 'o.bin': it is named by both -o and --listing\n"},
        {"ok.asm -o o.bin --depfile ./o.bin",
         "asm8080: cannot write 'o.bin': it is named by both -o and --depfile\n"},
    };
    const auto before = entries();
    for (const Case& test : cases) {
        EXPECT_EQ(run(test.arguments), 1) << test.arguments;
        EXPECT_EQ(errors(), test.message) << test.arguments;
        EXPECT_EQ(entries(), before) << test.arguments;
        EXPECT_EQ(read("ok.asm"), " INCLUDE \"inc.asm\"\n NOP\n") << test.arguments;
        EXPECT_EQ(read("inc.asm"), "value EQU 1\n") << test.arguments;
        EXPECT_EQ(read("bad.asm"), " JMP nowhere\n") << test.arguments;
        EXPECT_TRUE(fs::is_directory(path("somedir/inner"))) << test.arguments;
        EXPECT_TRUE(fs::is_fifo(path("pipe"))) << test.arguments;
    }

    // A regular output is replaced whole and keeps its mode, whatever the length of its name.
    const std::string name = std::string(250, 'o') + ".bin";
    write(name, "an older and much longer image");
    ASSERT_EQ(chmod(path(name).c_str(), 0600), 0);
    EXPECT_EQ(run("ok.asm -o " + name), 0) << errors();
    EXPECT_EQ(read(name), std::string(1, '\0'));
    EXPECT_EQ(fs::status(path(name)).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(Command_Line, ReadsOnlyRegularSourceFilesOfBoundedSize) {
    fs::create_directories(path("somedir"));
    write("dir.asm", " NOP\n INCLUDE \"somedir\"\n");
    write("device.asm", " INCLUDE \"/dev/zero\"\n");
    write("huge.asm", std::string(16 * 1024 * 1024, ';') + "\n");
    write("huge_include.asm", " INCLUDE \"huge.asm\"\n");
    const std::vector<std::pair<std::string, std::string>> cases{
        {"somedir", "cannot read 'somedir': it is a directory\n"},
        {"dir.asm", "dir.asm:2: cannot read 'somedir': it is a directory\n"},
        {"/dev/zero", "cannot read '/dev/zero': it is not a regular file\n"},
        {"device.asm", "device.asm:1: cannot read '/dev/zero': it is not a regular file\n"},
        {"huge.asm", "cannot read 'huge.asm': it is larger than the 16 MiB that a source and "
                     "its included files may have together\n"},
        {"huge_include.asm", "huge_include.asm:1: cannot read 'huge.asm': it is larger than the "
                             "16 MiB that a source and its included files may have together\n"},
    };
    for (const auto& [source, message] : cases) {
        EXPECT_EQ(run(source + " -o o.bin"), 1) << source;
        EXPECT_EQ(errors(), message + "asm8080: 1 error, no output written\n") << source;
        EXPECT_FALSE(fs::exists(path("o.bin"))) << source;
    }
}

TEST_F(Command_Line, StopsAfterAHundredErrorsAndEscapesAndShortensWhatItQuotes) {
    std::string garbage;
    for (int line = 0; line < 100000; ++line) {
        garbage += "\x01\x1B[2J binary\n";
    }
    write("garbage.asm", garbage);
    EXPECT_EQ(run("garbage.asm -o o.bin"), 1);
    std::string expected;
    for (int line = 1; line <= 100; ++line) {
        expected += "garbage.asm:" + std::to_string(line) + ": unexpected character '\\x01'\n";
    }
    EXPECT_EQ(errors(), expected + "too many errors; stopping\n"
                                   "asm8080: stopped after 100 errors, no output written\n");

    write("long.asm", " " + std::string(10'000'000, 'X') + "\n");
    EXPECT_EQ(run("long.asm -o o.bin"), 1);
    EXPECT_EQ(errors().find("long.asm:1: unknown mnemonic 'XXX"), 0u) << errors();
    EXPECT_NE(errors().find("XXX [... "), std::string::npos);
    EXPECT_LT(errors().size(), 600u);
}

} // namespace
