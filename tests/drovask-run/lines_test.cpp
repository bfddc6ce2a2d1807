// Source lines in drovask-run: FILE:LINE from the line map that asm8080 --lines writes, beside
// the addresses of the trace and the report at a breakpoint; --break FILE:LINE.
#include "tests/support/command_line_test.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

class Drovask_Run_Lines : public Command_Line_Test {};

TEST_F(Drovask_Run_Lines, ShowsAndBreaksAtSourceLines) {
    write("bar.asm", "        ORG 0\n"
                     "        LXI SP,2400H\n"
                     "        LXI H,2410H\n"
                     "        LXI D,32\n"
                     "        MVI B,224\n"
                     "draw:   MVI M,0FFH\n"
                     "        DAD D\n"
                     "        DCR B\n"
                     "        JNZ draw\n"
                     "done:   JMP done\n");
    write("wrong.lines", "0000 bar.asm\n");
    ASSERT_EQ(run(ASM8080_PATH, "bar.asm -o bar.bin --size 8192 --lines bar.lines"), 0) << err;
    const struct {
        const char* arguments;
        int status;
        const char* in_out;
        const char* in_err;
    } cases[] = {
        {"--lines bar.lines --break bar.asm:7 --trace -", 0,
         "0000 31 00 24  LXI SP,2400H       A=00 BC=0000 DE=0000 HL=0000 SP=2400 F=00 S=0 Z=0 "
         "AC=0 P=0 CY=0 bar.asm:2\n",
         ""},
        {"--lines bar.lines --break bar.asm:7", 0,
         "stopped at breakpoint 000D bar.asm:7 in frame 0 after 5 instructions", ""},
        {"--lines bar.lines --break bar.asm:7", 0, "> 000D 19        DAD D bar.asm:7\n", ""},
        {"--lines bar.lines --break bar.asm:1", 2, "",
         "--break bar.asm:1: no instruction or data starts on that line"},
        {"--break bar.asm:7", 2, "", "give the line map too (--lines FILE"},
        {"--lines wrong.lines", 2, "", "wrong.lines:1: expected \"XXXX FILE:LINE\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(run(DROVASK_RUN_PATH, std::string("bar.bin --frames 1 ") + c.arguments), c.status)
            << err;
        EXPECT_NE(out.find(c.in_out), std::string::npos) << out.substr(0, 600);
        EXPECT_NE(err.find(c.in_err), std::string::npos) << err;
    }
}

} // namespace
