// Instructions per second of `execute` on CPU-bound programs: a loop of this project's own that
// touches every instruction group, and the start of the 8080 exerciser 8080EX1.COM when it is
// present ($TAVRIN_CPU_TESTS or ../shared/cpu-tests beside the repository).

#include "processor/intel_8080.hpp"
#include "tools/cpm/cpm.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

constexpr std::int64_t instructions_per_iteration = 1'000'000;

// An endless loop of transfers, register and immediate arithmetic and logic, DAA, rotates, memory
// operands, 16-bit operations, the stack, calls, returns and conditional branches.
constexpr std::array<std::uint8_t, 94> mixed_program{
    0x31, 0x00, 0x24, // 0000 start: LXI SP,2400h
    0x01, 0x10, 0x20, // 0003 LXI B,2010h
    0x26, 0x21,       // 0006 loop: MVI H,21h
    0x16, 0x22,       // 0008 MVI D,22h
    0x7E,             // 000A MOV A,M
    0x80,             // 000B ADD B
    0x89,             // 000C ADC C
    0x92,             // 000D SUB D
    0x9B,             // 000E SBB E
    0xA4,             // 000F ANA H
    0xAD,             // 0010 XRA L
    0xB0,             // 0011 ORA B
    0xB9,             // 0012 CMP C
    0xC6, 0x07,       // 0013 ADI 07h
    0xCE, 0x03,       // 0015 ACI 03h
    0xD6, 0x05,       // 0017 SUI 05h
    0xDE, 0x01,       // 0019 SBI 01h
    0xE6, 0xF7,       // 001B ANI F7h
    0xEE, 0x5A,       // 001D XRI 5Ah
    0xF6, 0x10,       // 001F ORI 10h
    0xFE, 0x42,       // 0021 CPI 42h
    0x27,             // 0023 DAA
    0x07,             // 0024 RLC
    0x17,             // 0025 RAL
    0x0F,             // 0026 RRC
    0x1F,             // 0027 RAR
    0x2F,             // 0028 CMA
    0x77,             // 0029 MOV M,A
    0x12,             // 002A STAX D
    0x1A,             // 002B LDAX D
    0x34,             // 002C INR M
    0x3D,             // 002D DCR A
    0x23,             // 002E INX H
    0x13,             // 002F INX D
    0xF5,             // 0030 PUSH PSW
    0xC5,             // 0031 PUSH B
    0xCD, 0x59, 0x00, // 0032 CALL sub
    0xC1,             // 0035 POP B
    0xF1,             // 0036 POP PSW
    0x32, 0x00, 0x23, // 0037 STA 2300h
    0x3A, 0x00, 0x23, // 003A LDA 2300h
    0x22, 0x02, 0x23, // 003D SHLD 2302h
    0x2A, 0x02, 0x23, // 0040 LHLD 2302h
    0xEB,             // 0043 XCHG
    0xEB,             // 0044 XCHG
    0x09,             // 0045 DAD B
    0x2B,             // 0046 DCX H
    0x4D,             // 0047 MOV C,L
    0x0D,             // 0048 DCR C
    0xC2, 0x4E, 0x00, // 0049 JNZ skip
    0x0E, 0x10,       // 004C MVI C,10h
    0xDC, 0x59, 0x00, // 004E skip: CC sub
    0x37,             // 0051 STC
    0x3F,             // 0052 CMC
    0xDA, 0x06, 0x00, // 0053 JC loop
    0xC3, 0x06, 0x00, // 0056 JMP loop
    0xE3,             // 0059 sub: XTHL
    0xE3,             // 005A XTHL
    0x00,             // 005B NOP
    0xD0,             // 005C RNC
    0xC9,             // 005D RET
};

// The measured loop, in a function of its own: inlined into the loop below, it also carried the
// benchmark library's iteration state, and with one register too few the compiler kept its own
// count in memory, a store and a load per instruction that no caller of `execute` pays.
[[gnu::noinline]] void run_batch(Intel_8080& processor) {
    for (std::int64_t i = 0; i < instructions_per_iteration; ++i) {
        execute(processor);
    }
}

void run_instructions(Intel_8080& processor, benchmark::State& state) {
    for (auto _ : state) {
        run_batch(processor);
        benchmark::DoNotOptimize(processor.a);
    }
    state.SetItemsProcessed(state.iterations() * instructions_per_iteration);
}

void mixed_instruction_groups(benchmark::State& state) {
    auto processor = std::make_unique<Intel_8080>();
    processor->writable_start = 0x2000;
    processor->writable_end = 0x3FFF;
    std::copy(mixed_program.begin(), mixed_program.end(), processor->memory.begin());
    run_instructions(*processor, state);
}
BENCHMARK(mixed_instruction_groups);

// The first 200 million instructions of the exerciser (it runs about three billion). Its BDOS
// calls reach the runner's page zero, whose jump to a RET returns at once, so it runs on
// `execute` alone.
void exerciser_start(benchmark::State& state) {
    std::filesystem::path directory =
        std::filesystem::path(TAVRIN_REPOSITORY_ROOT) / ".." / "shared" / "cpu-tests";
    if (const char* configured = std::getenv("TAVRIN_CPU_TESTS"); configured && *configured) {
        directory = configured;
    }
    const auto path = directory / "8080EX1.COM";
    if (!std::filesystem::exists(path)) {
        state.SkipWithError("8080EX1.COM is absent: set TAVRIN_CPU_TESTS to its folder");
        return;
    }
    const auto processor = Cpm::make_processor(Cpm::load_program(path));
    run_instructions(*processor, state);
}
BENCHMARK(exerciser_start)->Iterations(200)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
