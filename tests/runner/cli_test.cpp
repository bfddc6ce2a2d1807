// The drovask-run program: its help, what it refuses, its audit report, a failing program, and
// outputs that are the same on every run.
#include "tools/drovask-run/runner.hpp"

#include "faults_rom.hpp"
#include "machine/programs.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

class Drovask_Run : public testing::Test {
protected:
    void SetUp() override {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() /
                 ("drovask_run_" + std::string(test->name()) + "_" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path path(const std::string& name) const { return folder / name; }

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    void write(const std::string& name, Drovask::Rom rom) const {
        write(name, std::string(rom.begin(), rom.end()));
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Runs drovask-run in the test's folder; returns its exit status, keeps its output.
    int run(const std::string& arguments) {
        const std::string command = "cd '" + folder.string() + "' && '" DROVASK_RUN_PATH "' " +
                                    arguments + " > out.txt 2> err.txt";
        const int status = std::system(command.c_str());
        out = read("out.txt");
        err = read("err.txt");
        fs::remove(path("out.txt"));
        fs::remove(path("err.txt"));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path folder;
    std::string out;
    std::string err;
};

TEST_F(Drovask_Run, HelpFitsInFortyLines) {
    EXPECT_EQ(run("--help"), 0);
    EXPECT_LT(std::count(out.begin(), out.end(), '\n'), 40);
    for (const char* topic :
         {"--frames", "--input", "--screenshot", "--animation", "--every", "--audit",
          "--instructions-per-interrupt", "1938", "--symbols", "--trace", "--trace-from",
          "--trace-frames", "--break", "--watch", "--state", "Exit status"}) {
        EXPECT_NE(out.find(topic), std::string::npos) << topic;
    }
}

TEST_F(Drovask_Run, RefusesWhatItCannotRunWithStatus2) {
    write("short.bin", std::string(8191, '\0'));
    write("long.bin", std::string(8193, '\0'));
    fs::create_directories(path("folder.bin"));
    write("rom.bin", Drovask::demo_rom());
    write("bad.keys", "at 1 press C\nat 2 tap C\n");
    struct Case {
        const char* arguments;
        const char* message;
    };
    for (const Case c : {
             Case{"short.bin", "the ROM image short.bin has 8191 bytes; the machine takes exactly "
                               "8192"},
             Case{"long.bin", "has 8193 bytes"},
             Case{"absent.bin", "cannot read the ROM image absent.bin: there is no such file"},
             Case{"folder.bin", "the ROM image folder.bin is a directory"},
             Case{"", "no ROM image given"},
             Case{"rom.bin --frames 0", "--frames takes a whole number from 1"},
             Case{"rom.bin --colour", "unknown option --colour"},
             Case{"rom.bin --input bad.keys",
                  "bad.keys:2: expected \"at FRAME press|release KEY\""},
             Case{"rom.bin --every 2", "--every sets the pictures of --animation"},
             Case{"rom.bin --frames 3 --animation a.gif --every 4", "would have no picture"},
             Case{"rom.bin --screenshot rom.bin", "the output rom.bin is the input rom.bin"},
             Case{"rom.bin --screenshot folder.bin", "folder.bin is a directory"},
             Case{"rom.bin --screenshot missing/shot.png", "cannot write missing/shot.png"},
         }) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(run(c.arguments), 2);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    EXPECT_EQ(read("rom.bin").size(), Drovask::rom_size);
    EXPECT_FALSE(fs::exists(path("a.gif")));
}

TEST_F(Drovask_Run, AuditListsEachFaultAndExitsWith1) {
    write("faults.bin", Drovask::Rom{Faults::rom});
    EXPECT_EQ(run("faults.bin --frames 2 --audit"), 1);
    EXPECT_EQ(out, "PC 0100: store to 1000 dropped (outside RAM, 2000-3FFF)\n"
                   "PC 0110: store through HL into the ROM at 0100\n"
                   "PC 0120: store through HL above RAM at 4000\n"
                   "PC 0130: IN from port 2, which the machine ignores\n"
                   "PC 0134: OUT to port 5, which the machine ignores\n"
                   "PC 0143: SP left RAM (2000-3FFF): 4002\n"
                   "audit: 6 faults: 1 stores dropped outside RAM, 1 stores through HL into "
                   "the ROM, 1 stores through HL above RAM, 1 INs from ignored ports, 1 OUTs to "
                   "ignored ports, 1 changes of SP to outside RAM\n");
    EXPECT_EQ(run("faults.bin --frames 2"), 0) << "no audit, no report";

    write("demo.bin", Drovask::demo_rom());
    EXPECT_EQ(run("demo.bin --frames 200 --audit"), 0);
    EXPECT_EQ(out, "audit: nothing to report\n");
}

TEST_F(Drovask_Run, UnimplementedInstructionEndsTheRunWithItsPcAndNoPicture) {
    // LXI SP,2400H; NOPs; at 0123H the instruction 08H.
    std::string rom(Drovask::rom_size, '\0');
    rom[0] = '\x31';
    rom[2] = '\x24';
    rom[0x123] = '\x08';
    write("faulty.bin", rom);
    write("shot.png", "an older picture");
    EXPECT_EQ(run("faulty.bin --screenshot shot.png --animation run.gif --every 1"), 1);
    EXPECT_EQ(err, "drovask-run: at PC 0123, in frame 0: Could not execute instruction \"08\" "
                   "because it has not been implemented.\n");
    EXPECT_EQ(read("shot.png"), "an older picture");
    const std::vector<fs::path> left{fs::directory_iterator(folder), {}};
    EXPECT_EQ(left.size(), 2u) << "no temporary and no animation left behind";
}

// The options that look inside, on the faults program with a symbol file: a break at a name,
// a watch, the trace and the state of the moment it stopped.
TEST_F(Drovask_Run, StopsAtANamedBreakpointWithTraceStateAndWatch) {
    write("faults.bin", Drovask::Rom{Faults::rom});
    write("faults.sym", "0100 DROPPED\n0110 INTO_ROM\n2000 COUNTER\n");
    ASSERT_EQ(run("faults.bin --symbols faults.sym --break into_rom --watch COUNTER "
                  "--watch 0x1000 --trace t.txt --state s.txt --screenshot shot.png"),
              0)
        << err;
    EXPECT_EQ(out.substr(0, out.find('\n')),
              "watch: frame 0, PC 0100 (DROPPED): 1000 00 -> 55 dropped (outside RAM, the byte "
              "stays 00)");
    EXPECT_NE(out.find("watch: frame 0, PC 0103: 2000 (COUNTER) 00 -> 55\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("stopped at breakpoint 0110 (INTO_ROM) in frame 0 after 7 instructions\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(read("t.txt"),
              "-- frame 0\n"
              "0000 31 00 24  LXI SP,2400H       A=00 BC=0000 DE=0000 HL=0000 SP=2400 F=00 S=0 "
              "Z=0 AC=0 P=0 CY=0\n"
              "0003 21 00 01  LXI H,DROPPED      A=00 BC=0000 DE=0000 HL=0100 SP=2400 F=00 S=0 "
              "Z=0 AC=0 P=0 CY=0\n"
              "0006 3E 55     MVI A,55H          A=55 BC=0000 DE=0000 HL=0100 SP=2400 F=00 S=0 "
              "Z=0 AC=0 P=0 CY=0\n"
              "0008 C3 00 01  JMP DROPPED        A=55 BC=0000 DE=0000 HL=0100 SP=2400 F=00 S=0 "
              "Z=0 AC=0 P=0 CY=0\n"
              "0100 32 00 10  STA 1000H          A=55 BC=0000 DE=0000 HL=0100 SP=2400 F=00 S=0 "
              "Z=0 AC=0 P=0 CY=0\n"
              "0103 32 00 20  STA COUNTER        A=55 BC=0000 DE=0000 HL=0100 SP=2400 F=00 S=0 "
              "Z=0 AC=0 P=0 CY=0\n"
              "0106 C3 10 01  JMP INTO_ROM       A=55 BC=0000 DE=0000 HL=0100 SP=2400 F=00 S=0 "
              "Z=0 AC=0 P=0 CY=0\n");
    EXPECT_NE(read("s.txt").find("pc 0110\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(path("shot.png")));
}

// The screenshot after a scripted run is the picture of the same run made in the test, and
// two runs give the same bytes.
TEST_F(Drovask_Run, ScriptedRunsGiveTheRunnersPictureEveryTime) {
    write("demo.bin", Drovask::demo_rom());
    write("play.keys", "# a coin and a game\nat 50 press C\nat 54 release C\n"
                       "at 60 press Q\nat 64 release Q\nat 80 press S\nat 80 press D\n");
    const std::string arguments =
        "demo.bin --frames 100 --input play.keys --screenshot shot.png --animation run.gif";
    ASSERT_EQ(run(arguments), 0) << err;
    const std::string png = read("shot.png");
    const std::string gif = read("run.gif");
    ASSERT_EQ(run(arguments), 0) << err;
    EXPECT_EQ(read("shot.png"), png);
    EXPECT_EQ(read("run.gif"), gif);

    Drovask::Runner runner(Drovask::demo_rom());
    for (int frame = 0; frame < 100; ++frame) {
        runner.hold('C', frame >= 50 && frame < 54);
        runner.hold('Q', frame >= 60 && frame < 64);
        runner.hold('S', frame >= 80);
        runner.hold('D', frame >= 80);
        runner.frame();
    }
    Drovask::Screen expected{};
    Drovask::convert_screen(runner.board.processor, expected);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0);
    image.format = PNG_FORMAT_GRAY;
    Drovask::Screen decoded{};
    ASSERT_NE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr), 0);
    EXPECT_EQ(decoded, expected);
    EXPECT_EQ(runner.board.processor.memory[0x2003], 2) << "the game is under way";
    EXPECT_EQ(runner.board.processor.memory[0x2004], 1) << "with one player";
}

} // namespace
