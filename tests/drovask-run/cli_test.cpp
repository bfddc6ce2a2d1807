// The drovask-run program: its help, what it refuses, its audit report, a failing program, and
// outputs that are the same on every run.
#include "tools/drovask-run/runner.hpp"

#include "faults_rom.hpp"
#include "machine/programs.hpp"
#include "tests/support/command_line_test.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class Drovask_Run : public Command_Line_Test {
protected:
    using Command_Line_Test::write;
    void write(const std::string& name, Drovask::Rom rom) const {
        write(name, std::string(rom.begin(), rom.end()));
    }

    // Runs drovask-run in the test's folder, after `before` (such as "cat rom.bin |"), with
    // standard output to `output` when one is named; returns its exit status, keeps its output.
    int run(const std::string& arguments, const std::string& before = "",
            const std::string& output = "") {
        return Command_Line_Test::run(DROVASK_RUN_PATH, arguments, before, output);
    }
};

TEST_F(Drovask_Run, HelpFitsInFortyLines) {
    EXPECT_EQ(run("--help"), 0);
    EXPECT_LT(std::count(out.begin(), out.end(), '\n'), 40);
    for (const char* topic :
         {"--frames", "--input", "--screenshot", "--animation", "--every", "--audit",
          "--instructions-per-interrupt", "1938", "Exit status", "1 plays at 50", "--symbols",
          "--trace", "--trace-from", "--trace-frames", "--break", "--watch", "--state"}) {
        EXPECT_NE(out.find(topic), std::string::npos) << topic;
    }
}

TEST_F(Drovask_Run, RefusesWhatItCannotRunWithStatus2) {
    write("short.bin", std::string(8191, '\0'));
    write("long.bin", std::string(8193, '\0'));
    fs::create_directories(path("folder.bin"));
    write("rom.bin", Drovask::demo_rom());
    write("bad.keys", "at 1 press C\nat 2 tap C\n");
    ASSERT_EQ(mkfifo(path("pipe.png").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", path("null.png"));
    struct Case {
        const char* arguments;
        const char* message;
    };
    for (const Case c : {
             Case{"short.bin", "the ROM image short.bin has 8191 bytes; the machine takes exactly "
                               "8192"},
             Case{"long.bin", "the ROM image long.bin has more than 8192 bytes"},
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
             Case{"rom.bin --screenshot folder.bin",
                  "cannot write 'folder.bin': it is a directory"},
             Case{"rom.bin --screenshot missing/shot.png", "cannot write 'missing/shot.png'"},
             Case{"rom.bin --screenshot pipe.png", "cannot write 'pipe.png': it is not a regular"},
             Case{"rom.bin --screenshot null.png", "cannot write 'null.png': it is not a regular"},
             Case{"rom.bin --screenshot s.png --animation ./s.png",
                  "the screenshot s.png and the animation ./s.png would be one file"},
         }) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(run(c.arguments), 2);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    EXPECT_EQ(read("rom.bin").size(), Drovask::rom_size);
    EXPECT_FALSE(fs::exists(path("a.gif")));
    EXPECT_FALSE(fs::exists(path("s.png")));
    EXPECT_TRUE(fs::is_fifo(path("pipe.png")));
    EXPECT_TRUE(fs::is_symlink(path("null.png")));
}

// Inputs are read only as far as they may go, from files and pipes alike.
TEST_F(Drovask_Run, ReadsNoMoreThanAnInputMayHold) {
    write("rom.bin", Drovask::demo_rom());
    write("keys", "at 0 press C\n");
    EXPECT_EQ(run("/dev/stdin --frames 1 --input keys", "cat rom.bin |"), 0) << err;
    EXPECT_EQ(run("rom.bin --frames 1 --input /dev/stdin", "cat keys |"), 0) << err;
    EXPECT_EQ(run("/dev/stdin", "head -c 50000000 /dev/zero |"), 2);
    EXPECT_EQ(err, "drovask-run: the ROM image /dev/stdin has more than 8192 bytes; the machine "
                   "takes exactly 8192\n");
    EXPECT_EQ(run("rom.bin --input /dev/stdin", "head -c 50000000 /dev/zero |"), 2);
    EXPECT_EQ(err, "drovask-run: the input script /dev/stdin is larger than 4 MiB, the most a "
                   "script may have\n");
}

// What a script or a name brings into a message is escaped and shortened; what the program
// cannot see or a GIF cannot time is warned of; output that is lost is an error.
TEST_F(Drovask_Run, MessagesAreFitForATerminalAndNothingIsLostSilently) {
    write("rom.bin", Drovask::demo_rom());
    write("control.keys", std::string("at 1 press \x1B[2J\x07\0", 17) + "\n");
    EXPECT_EQ(run("rom.bin --input control.keys"), 2);
    EXPECT_NE(err.find("control.keys:1: \"\\x1B[2J\\x07\\x00\" is not a key"), std::string::npos)
        << err;
    write("long.keys", "at 1 press " + std::string(3'000'000, 'C') + "\n");
    EXPECT_EQ(run("rom.bin --input long.keys"), 2);
    EXPECT_LT(err.size(), 600u);
    EXPECT_NE(err.find("bytes left out"), std::string::npos) << err;

    write("tap.keys", "at 5 press C\nat 5 release C\n");
    EXPECT_EQ(run("rom.bin --frames 10 --input tap.keys"), 0);
    EXPECT_EQ(err, "drovask-run: warning: tap.keys:2: C is released in frame 5, the frame in "
                   "which line 1 pressed it: the program never sees it pressed; put the two "
                   "events at least one frame apart\n");

    std::string faulty(Drovask::rom_size, '\0');
    faulty[0] = '\x08'; // not implemented: the run ends at once
    write("faulty.bin", faulty);
    EXPECT_EQ(run("faulty.bin --frames 40000 --animation a.gif --every 40000"), 1);
    EXPECT_EQ(err.find("drovask-run: warning: --every 40000 is longer than a GIF picture may "
                       "last: each is shown for 655.35 s instead of 666 s\n"),
              0u)
        << err;

    EXPECT_EQ(run("rom.bin --frames 1 --audit", "", "/dev/full"), 1);
    EXPECT_EQ(err, "drovask-run: could not write standard output: No space left on device\n");
    EXPECT_EQ(run("--help", "", "/dev/full"), 1);
}

// Ended from outside, the run removes its temporaries before it goes.
TEST_F(Drovask_Run, ASignalLeavesNothingBehind) {
    write("rom.bin", Drovask::demo_rom());
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            fs::current_path(folder);
            execl(DROVASK_RUN_PATH, DROVASK_RUN_PATH, "rom.bin", "--frames", "1000000000",
                  "--animation", "big.gif", "--screenshot", "big.png", nullptr);
            _exit(127);
        }
        // Wait (at most a minute) for both temporaries, then signal.
        for (int i = 0; i < 6000 && std::distance(fs::directory_iterator(folder), {}) < 3; ++i) {
            usleep(10'000);
        }
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        const std::vector<fs::path> left{fs::directory_iterator(folder), {}};
        EXPECT_EQ(left, std::vector<fs::path>{path("rom.bin")}) << signal;
    }
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
    EXPECT_NE(out.find("watch: frame 0, PC 0103 (DROPPED+3): 2000 (COUNTER) 00 -> 55\n"),
              std::string::npos)
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

// The faults an author met, each a command with its exit status and what it must say.
TEST_F(Drovask_Run, AnAuthorsCommandsDoWhatTheySay) {
    const Drovask::Rom demo = Drovask::demo_rom();
    write("demo.bin", demo);
    write("low.bin", std::string(demo.begin(), demo.begin() + 4096));
    write("high.bin", std::string(demo.begin() + 4096, demo.end()));
    write("faults.bin", Drovask::Rom{Faults::rom});
    write("faults.sym", "0100 DROPPED\n0110 ADDH\n2000 COUNTER EQU\n");
    write("keys", "at 0 press C\n");
    // LXI SP,2400H; again: MVI A,0; STA 2000H; JMP again
    std::string same(Drovask::rom_size, '\0');
    same.replace(0, 11, "\x31\x00\x24\x3E\x00\x32\x00\x20\xC3\x03\x00", 11);
    write("same.bin", same);
    struct Case {
        const char* name;
        const char* before;
        const char* arguments;
        int status;
        const char* in_out;
        const char* in_err; // "": nothing on standard error
    };
    for (const Case c : {
             Case{"a break never reached", "", "demo.bin --frames 2 --break 1FFFH", 3, "",
                  "drovask-run: --break 1FFF: not reached in 2 frames\n"},
             Case{"a name that reads as hexadecimal is the name", "",
                  "faults.bin --symbols faults.sym --break ADDH", 0,
                  "stopped at breakpoint 0110 (ADDH)", ""},
             Case{"the trace on standard output", "", "demo.bin --frames 1 --trace -", 0,
                  "-- frame 0\n0000 ", ""},
             Case{"/dev/stdout", "", "demo.bin --frames 1 --trace /dev/stdout", 0, "-- frame 0\n",
                  ""},
             Case{"the ROM from standard input", "cat demo.bin |", "- --frames 1 --trace -", 0,
                  "-- frame 0\n", ""},
             Case{"the script from standard input", "cat keys |",
                  "demo.bin --frames 1 --input - --trace -", 0, "-- frame 0: press C\n", ""},
             Case{"standard input twice", "", "- --input -", 2, "",
                  "standard input can be read once"},
             Case{"two outputs on standard output", "", "demo.bin --trace - --state /dev/stdout", 2,
                  "", "the trace and the state would both go to standard output"},
             Case{"a trace that starts after the run", "",
                  "demo.bin --frames 2 --trace t --trace-from 5", 0, "",
                  "--trace-from 5 is not reached in a run of 2 frames"},
             Case{"a screenshot under a GIF's name", "", "demo.bin --screenshot x.gif", 2, "",
                  "--screenshot writes a png file: give it a name ending in .png, not x.gif"},
             Case{"an animation under a PNG's name", "", "demo.bin --animation x.PNG", 2, "",
                  "--animation writes a gif file: give it a name ending in .gif, not x.PNG"},
             Case{"a store that changes nothing", "", "same.bin --frames 1 --watch 2000H", 0,
                  "PC 0005: 2000 00 -> 00 (unchanged)\n", ""},
             Case{"numbers in every form", "",
                  "demo.bin --frames 0x3 --watch 8192:2H --trace-from 2 --trace-frames 1 "
                  "--trace -",
                  0, "-- frame 2\n", ""},
             Case{"the ROM in two files", "", "low.bin high.bin --frames 100 --screenshot two.png",
                  0, "", ""},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(c.arguments, c.before), c.status) << err;
        EXPECT_NE(out.find(c.in_out), std::string::npos) << out.substr(0, 500);
        if (*c.in_err == '\0') {
            EXPECT_EQ(err, "");
        } else {
            EXPECT_NE(err.find(c.in_err), std::string::npos) << err;
        }
    }
    EXPECT_FALSE(fs::exists(path("x.gif")));
    ASSERT_EQ(run("demo.bin --frames 100 --screenshot one.png"), 0);
    EXPECT_EQ(read("two.png"), read("one.png"));
}

} // namespace

namespace {

// The demo played with the README's key script: saved at frame N, loaded and run M frames more,
// it ends on the picture, registers and RAM of N + M frames run straight; a state is refused by
// another ROM, with its reason.
TEST_F(Drovask_Run, ALoadedStateGoesOnAsTheStraightRun) {
    write("demo.bin", Drovask::demo_rom());
    write("test_card.bin", Drovask::test_card_rom());
    const std::string keys = std::string(TAVRIN_SOURCE_DIR) + "/docs/demo.keys";
    ASSERT_EQ(run("demo.bin --frames 1500 --input " + keys +
                  " --screenshot straight.png --state straight.txt"),
              0)
        << err;
    for (const char* save : {"--frames 1500 --save-state-at 640", "--frames 640"}) {
        ASSERT_EQ(
            run(std::string("demo.bin ") + save + " --input " + keys + " --save-state at.tmstate"),
            0)
            << err;
        ASSERT_EQ(run("demo.bin --load-state at.tmstate --frames 860 --input " + keys +
                      " --screenshot loaded.png --state loaded.txt"),
                  0)
            << err;
        EXPECT_EQ(read("loaded.png"), read("straight.png")) << save;
        EXPECT_EQ(read("loaded.txt"), read("straight.txt")) << save;
    }
    EXPECT_EQ(run("test_card.bin --load-state at.tmstate"), 2);
    EXPECT_NE(err.find("saved with another ROM image"), std::string::npos) << err;
}

} // namespace
