// A program assembled here and run on the project's processor leaves the expected state.

#include "processor/intel_8080.hpp"
#include "tests/asm8080/assemble.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

// Avoids IN, OUT and the opcodes the processor does not implement.
const std::string program_source = R"(
ram     EQU 2000H
stack   EQU ram+400H

        ORG 0
start:  LXI SP,stack
        MVI B,10            ; A = 10 + 9 + ... + 1
        XRA A
sum:    ADD B
        DCR B
        JNZ sum
        STA total
        LXI H,message       ; copy a zero-terminated string into RAM
        LXI D,copy
        CALL copy_string
        LXI H,1234H
        PUSH H
        POP B               ; BC = 1234H through the stack
        LXI H,squares
        LXI D,3
        DAD D
        MOV E,M             ; E = squares[3]
        MVI A,HIGH(squares)
        MVI D,LOW(-1)
        LHLD word_in_rom    ; H:L = 0BEEFH
        SHLD copy+4
done:   JMP done

; Copies bytes from HL to DE up to and including a zero byte.
copy_string:
        MOV A,M
        STAX D
        INX H
        INX D
        ORA A
        JNZ copy_string
        RET

message:     DB 'HI!', 0
squares:     DB 1*1, 2*2, 3*3, 4*4, 5*5
word_in_rom: DW 0BEEFH

        ORG ram
total:  DS 1
copy:   DS 6
)";

TEST(RoundTrip, AssembledProgramRunsOnTheProcessor) {
    const Asm8080::Program program = assemble_text(program_source, {.base = 0, .size = 8192});
    ASSERT_TRUE(program.ok()) << Asm8080::format_diagnostic(program.errors[0]);
    ASSERT_EQ(program.image.size(), 8192u);

    auto processor = std::make_unique<Intel_8080>();
    processor->writable_start = 0x2000;
    processor->writable_end = 0x3FFF;
    std::copy(program.image.begin(), program.image.end(), processor->memory.begin());

    const std::uint16_t done = program.symbols.at("DONE");
    int steps = 0;
    while (processor->pc != done && steps < 10000) {
        execute(*processor);
        ++steps;
    }
    ASSERT_EQ(processor->pc, done) << "the program did not reach its end";

    EXPECT_EQ(processor->memory[0x2000], 55);
    const std::string copied(processor->memory.begin() + 0x2001,
                             processor->memory.begin() + 0x2005);
    EXPECT_EQ(copied, std::string("HI!\0", 4));
    EXPECT_EQ(processor->memory[0x2005], 0xEF);
    EXPECT_EQ(processor->memory[0x2006], 0xBE);
    EXPECT_EQ(get_bc(*processor), 0x1234);
    EXPECT_EQ(processor->e, 16);
    EXPECT_EQ(processor->d, 0xFF);
    EXPECT_EQ(processor->a, program.symbols.at("SQUARES") >> 8);
    EXPECT_EQ(get_hl(*processor), 0xBEEF);
    EXPECT_EQ(processor->sp, 0x2400);
}

} // namespace
