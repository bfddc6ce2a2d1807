// The dis8080 program: the demo ROM disassembled and assembled back by asm8080, byte for byte,
// and the command lines it refuses.

#include "tests/support/command_line_test.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class Dis8080_Program : public Command_Line_Test {
protected:
    int dis8080(const std::string& arguments, const std::string& before = "") {
        return run(DIS8080_PATH, arguments, before);
    }

    // Assembles `source` in the folder into `image` with asm8080 and returns it.
    std::string assemble(const std::string& source, const std::string& options,
                         const std::string& image = "back.bin") {
        EXPECT_EQ(run(ASM8080_PATH, source + " -o " + image + " " + options), 0) << err;
        return read(image);
    }

    static std::string demo() { return "'" DEMO_DIRECTORY "/demo.bin'"; }
    static std::string demo_symbols() { return "'" DEMO_DIRECTORY "/demo.sym'"; }
};

TEST_F(Dis8080_Program, TheDemoRomAssemblesBackByteForByteWithAndWithoutSymbols) {
    std::ifstream file(DEMO_DIRECTORY "/demo.bin", std::ios::binary);
    const std::string rom{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_EQ(rom.size(), 8192u);

    ASSERT_EQ(dis8080(demo() + " -o plain.asm"), 0) << err;
    EXPECT_EQ(assemble("plain.asm", "--size 8192"), rom);
    EXPECT_NE(read("plain.asm").find("\nL001D:\n"), std::string::npos)
        << "the jump at 0000H names its target";

    ASSERT_EQ(dis8080(demo() + " --symbols " + demo_symbols() + " -o named.asm"), 0) << err;
    EXPECT_EQ(assemble("named.asm", "--size 8192"), rom);
    const std::string named = read("named.asm");
    EXPECT_NE(named.find("\nSTART:\n"), std::string::npos);
    EXPECT_NE(named.find("JMP START "), std::string::npos);

    // A part of it, read from standard input in two files, by its labels.
    write("tail.bin", rom.substr(4096));
    ASSERT_EQ(dis8080("- tail.bin --symbols " + demo_symbols() + " --from START --to 0FFFH",
                      "head -c 4096 " + demo() + " |"),
              0)
        << err;
    write("part.asm", out);
    const std::string part = assemble("part.asm", "");
    EXPECT_EQ(part, rom.substr(0x1D, 0x1000 - 0x1D));
}

TEST_F(Dis8080_Program, RefusesWhatItCannotDoAndWritesNothing) {
    write("rom.bin", std::string("\x3E\x01\xC3\x00\x00", 5));
    write("bad.sym", "0000 START\n12 X\n");
    struct Refusal {
        const char* arguments;
        const char* message;
    };
    const Refusal refusals[] = {
        {"", "no image given"},
        {"missing.bin -o out.asm", "cannot read the image missing.bin"},
        {"rom.bin --bogus", "unknown option --bogus"},
        {"rom.bin --to", "--to needs a value"},
        {"rom.bin --from 5 -o out.asm",
         "--from 5 is outside the image, which holds 0000H to 0004H"},
        {"rom.bin --base 100H --to 0FFH", "--to 0FFH is outside the image"},
        {"rom.bin --from 3 --to 2", "--from 0003H comes after --to 0002H"},
        {"rom.bin --from START", "a label needs --symbols"},
        {"rom.bin --base 0FFFEH", "go past 0FFFFH"},
        {"rom.bin --base 0x10000", "--base takes an address from 0 to 0FFFFH"},
        {"rom.bin --symbols bad.sym", "bad.sym:2: expected"},
        {"rom.bin -o rom.bin", "the output rom.bin is the image rom.bin"},
        {"rom.bin - -", "standard input can be read once"},
        {"rom.bin /dev/zero", "more than 65536 bytes"},
        {". -o out.asm", "is a directory"},
    };
    for (const Refusal& refusal : refusals) {
        EXPECT_EQ(dis8080(refusal.arguments), 2) << refusal.arguments;
        EXPECT_NE(err.find(refusal.message), std::string::npos) << refusal.arguments << ": " << err;
        EXPECT_EQ(out, "") << refusal.arguments;
    }
    EXPECT_FALSE(std::filesystem::exists(path("out.asm")));
    EXPECT_EQ(read("rom.bin"), std::string("\x3E\x01\xC3\x00\x00", 5));

    EXPECT_EQ(dis8080("--help"), 0);
    EXPECT_EQ(out.rfind("Usage: dis8080 ROM...", 0), 0u) << out;
}

} // namespace
