// The studio's debugger running forward as Run fast does (frames a second, with breakpoints and
// watches set that nothing reaches, beside the session's plain frame), and after ten minutes of
// the demo (36,000 frames, played as in session_benchmark): how long each way back takes from a
// random point of the history, and the history's memory. Going back is a seek from the snapshot
// before the point; the searches backwards replay the windows between snapshots looking at each
// instruction.
#include "machine/programs.hpp"
#include "studio/debugger.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace {

constexpr std::uint64_t ten_minutes = 36000;

// A coin, a one-player start, then fire held and the paddle swept.
bool held(char key, std::uint64_t frame) {
    switch (key) {
    case 'S':
        return frame % 600 < 300;
    case 'C':
        return frame % 600 == 10;
    case 'Q':
        return frame % 600 == 20;
    case 'A':
        return frame % 80 < 40;
    case 'D':
        return frame % 80 >= 40;
    default:
        return false;
    }
}

Studio::Debugger& played() {
    static const std::unique_ptr<Studio::Debugger> debugger = [] {
        auto d = std::make_unique<Studio::Debugger>(Drovask::demo_rom());
        for (std::uint64_t frame = 0; frame < ten_minutes; ++frame) {
            for (const Drovask::Input_Key& k : Drovask::input_keys) {
                d->key(k.key, held(k.key, frame));
            }
            d->run_frames(1);
        }
        return d;
    }();
    return *debugger;
}

// 60 frames of the demo an iteration, the keys held as a player would; `looking` sets a
// breakpoint (where no instruction starts) and a watch (on the ROM, which nothing stores into).
void studio_run_frames(benchmark::State& state) {
    const auto owned = std::make_unique<Studio::Debugger>(Drovask::demo_rom());
    Studio::Debugger& debugger = *owned;
    if (state.range(0) != 0) {
        debugger.set_breakpoint(0x1FFF, true);
        debugger.add_watch(0x1FF0, 8);
    }
    for (auto _ : state) {
        for (int frame = 0; frame < 60; ++frame) {
            for (const Drovask::Input_Key& k : Drovask::input_keys) {
                debugger.key(k.key, held(k.key, debugger.frames()));
            }
            benchmark::DoNotOptimize(debugger.run_frames(1));
        }
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(debugger.frames()), benchmark::Counter::kIsRate);
}
BENCHMARK(studio_run_frames)->ArgName("looking")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same frames without the debugger: the bound that Run fast can come near.
void studio_plain_frames(benchmark::State& state) {
    const auto owned = std::make_unique<Drovask::Session>(Drovask::demo_rom());
    Drovask::Session& session = *owned;
    for (auto _ : state) {
        for (int frame = 0; frame < 60; ++frame) {
            std::uint8_t keys = 0;
            for (const Drovask::Input_Key& k : Drovask::input_keys) {
                keys =
                    static_cast<std::uint8_t>(held(k.key, session.frames()) ? keys | k.bit : keys);
            }
            session.run_frame(keys);
        }
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(session.frames()), benchmark::Counter::kIsRate);
}
BENCHMARK(studio_plain_frames)->Unit(benchmark::kMillisecond);

// Each iteration goes to a random point of the history (not timed), then back by `back`.
template <typename Back>
void from_random_points(benchmark::State& state, Back&& back) {
    Studio::Debugger& debugger = played();
    const Drovask::History& history = debugger.history();
    std::mt19937_64 random(1);
    std::uniform_int_distribution<std::uint64_t> when(history.earliest() + 1, history.latest());
    for (auto _ : state) {
        state.PauseTiming();
        debugger.seek(when(random));
        state.ResumeTiming();
        back(debugger);
    }
    state.counters["history MB"] = static_cast<double>(history.memory_bytes()) / 1e6;
    debugger.seek(history.latest());
}

void studio_step_back(benchmark::State& state) {
    from_random_points(state, [](Studio::Debugger& d) { benchmark::DoNotOptimize(d.step_back()); });
}
BENCHMARK(studio_step_back)->Unit(benchmark::kMillisecond);

void studio_step_back_over(benchmark::State& state) {
    from_random_points(state,
                       [](Studio::Debugger& d) { benchmark::DoNotOptimize(d.step_back_over()); });
}
BENCHMARK(studio_step_back_over)->Unit(benchmark::kMillisecond);

// The worst case: a breakpoint that nothing reaches, so a minute of frames is replayed.
void studio_reverse_continue_a_minute(benchmark::State& state) {
    played().set_breakpoint(0x1FFF, true);
    from_random_points(
        state, [](Studio::Debugger& d) { benchmark::DoNotOptimize(d.reverse_continue(3600)); });
    played().set_breakpoint(0x1FFF, false);
}
BENCHMARK(studio_reverse_continue_a_minute)->Unit(benchmark::kMillisecond);

// A byte of the score's row, which the demo writes now and then.
void studio_who_wrote(benchmark::State& state) {
    from_random_points(state, [](Studio::Debugger& d) {
        benchmark::DoNotOptimize(d.who_wrote(Studio::picture_address(112, 20)));
    });
}
BENCHMARK(studio_who_wrote)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
