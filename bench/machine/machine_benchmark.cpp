// Machine throughput: steps per second with the real clock, the screen conversion, and the whole
// render (conversion, upload and draw, finished on the GPU) per frame. Needs an X display.
#include "base/exception.hpp"
#include "machine/machine.hpp"
#include "window/window.hpp"

#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <random>

namespace {

Tavrin::Window* window = nullptr;

// LXI SP,2400H; EI; then fill video memory with INR M forever; the interrupt handlers re-enable
// interrupts and return.
std::array<std::uint8_t, Drovask::rom_size> busy_program() {
    std::array<std::uint8_t, Drovask::rom_size> rom{};
    const std::uint8_t start[] = {0x31, 0x00, 0x24, 0xFB, 0xC3, 0x40, 0x00};
    const std::uint8_t handler[] = {0xF5, 0xC5, 0xD5, 0xE5, 0xE1, 0xD1, 0xC1, 0xF1, 0xFB, 0xC9};
    const std::uint8_t loop[] = {
        0x21, 0x00, 0x24, // loop: LXI H,2400H
        0x34,             // next: INR M
        0x23,             // INX H
        0x7C,             // MOV A,H
        0xFE, 0x40,       // CPI 40H
        0xC2, 0x43, 0x00, // JNZ next
        0xDB, 0x01,       // IN 1
        0xD3, 0x04,       // OUT 4
        0xC3, 0x40, 0x00, // JMP loop
    };
    std::copy(std::begin(start), std::end(start), rom.begin());
    std::copy(std::begin(handler), std::end(handler), rom.begin() + 0x08);
    std::copy(std::begin(handler), std::end(handler), rom.begin() + 0x10 + 0x10);
    rom[0x10] = 0xC3; // JMP 0020H: the second handler
    rom[0x11] = 0x20;
    rom[0x12] = 0x00;
    std::copy(std::begin(loop), std::end(loop), rom.begin() + 0x40);
    return rom;
}

void machine_step(benchmark::State& state) {
    static const auto rom = busy_program();
    auto machine = std::make_unique<Drovask::Machine>(window, Drovask::Rom{rom});
    for (auto _ : state) {
        machine->step();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(machine_step);

void screen_conversion(benchmark::State& state) {
    auto processor = std::make_unique<Intel_8080>();
    processor->video_start = 0x2400;
    std::mt19937 random(1);
    for (std::uint32_t address = 0x2400; address < 0x4000; ++address) {
        processor->memory[address] = static_cast<std::uint8_t>(random());
    }
    Drovask::Screen screen{};
    for (auto _ : state) {
        Drovask::convert_screen(*processor, screen);
        benchmark::DoNotOptimize(screen.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(screen_conversion);

void whole_render(benchmark::State& state) {
    static const auto rom = busy_program();
    auto machine = std::make_unique<Drovask::Machine>(window, Drovask::Rom{rom});
    for (auto _ : state) {
        machine->render();
        glFinish();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(whole_render);

} // namespace

int main(int argc, char** argv) try {
    // The whole render needs a window; without a display, say so rather than end unexplained.
    Tavrin::Window benchmark_window("machine benchmark", {448, 512}, {0.3f, 0.3f, 0.3f, 1.0f},
                                    {1.0f, 1.0f, 1.0f, 1.0f}, {130, 130});
    window = &benchmark_window;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
} catch (const Tavrin::Exception& error) {
    std::fprintf(stderr,
                 "machine_benchmark: %s\n(It opens a window: run it on a display, or "
                 "under scripts/with-display.)\n",
                 error.message.c_str());
    return 1;
}
