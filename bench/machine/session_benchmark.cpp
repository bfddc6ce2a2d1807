// The counted schedule without a window: a frame of the demo game as the headless runner, the
// player and the page run it, and going back in a history of ten minutes of play, with the
// history's memory; drovask-play's frame with its rewind and key record kept, and its rewind's
// steps back.
#include "application/key_record.hpp"
#include "application/rewind.hpp"
#include "machine/history.hpp"
#include "machine/programs.hpp"
#include "machine/session.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace {

// A coin, a one-player start, then fire held and the paddle swept.
std::uint8_t keys_in_frame(std::uint64_t frame) {
    const auto held = [&](char key, bool down) { return down ? Drovask::key_bit(key) : 0; };
    const int keys = held('S', frame % 600 < 300) | held('C', frame % 600 == 10) |
                     held('Q', frame % 600 == 20) | held(frame % 80 < 40 ? 'A' : 'D', true);
    return static_cast<std::uint8_t>(keys);
}

void session_frame(benchmark::State& state) {
    auto session = std::make_unique<Drovask::Session>(Drovask::demo_rom());
    for (auto _ : state) {
        session->run_frame(keys_in_frame(session->frames()));
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["instructions/s"] = benchmark::Counter(
        static_cast<double>(session->instructions()), benchmark::Counter::kIsRate);
}
BENCHMARK(session_frame);

// Ten minutes of play (36,000 frames) kept in a history; each iteration goes back to a random
// instruction in them. The label gives the history's memory.
void history_step_back(benchmark::State& state) {
    auto session = std::make_unique<Drovask::Session>(Drovask::demo_rom());
    Drovask::History history(*session);
    for (std::uint64_t frame = 0; frame < 36000; ++frame) {
        history.hold_keys(*session, keys_in_frame(frame));
        session->run_frame();
        history.note(*session);
    }
    std::mt19937_64 random(1);
    std::uniform_int_distribution<std::uint64_t> when(history.earliest(), history.latest());
    for (auto _ : state) {
        benchmark::DoNotOptimize(history.seek(*session, when(random)));
    }
    state.counters["history MB"] = static_cast<double>(history.memory_bytes()) / 1e6;
    state.counters["snapshots"] = static_cast<double>(history.snapshot_count());
}
BENCHMARK(history_step_back)->Unit(benchmark::kMillisecond);

// drovask-play's frame: the session's frame with the rewind's past and the key record kept (a
// snapshot every 30 frames); against session_frame, the cost of keeping them.
void player_frame(benchmark::State& state) {
    auto session = std::make_unique<Drovask::Session>(Drovask::demo_rom());
    Rewind rewind(*session);
    Key_Record record;
    for (auto _ : state) {
        rewind.play_frame(*session, record, keys_in_frame(session->frames()));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(player_frame);

// The rewind key held after ten minutes of play: each iteration is one step, a frame shown,
// going back Rewind::frames_per_step frames; played again whenever the past runs out.
void player_rewind_step(benchmark::State& state) {
    auto session = std::make_unique<Drovask::Session>(Drovask::demo_rom());
    Rewind rewind(*session);
    Key_Record record;
    const auto play = [&] {
        while (rewind.frames_kept(*session) < 35000) {
            rewind.play_frame(*session, record, keys_in_frame(session->frames()));
        }
    };
    play();
    for (auto _ : state) {
        if (rewind.step_back(*session, record) == 0) {
            state.PauseTiming();
            play();
            state.ResumeTiming();
        }
    }
    state.counters["frames back/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * Rewind::frames_per_step,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(player_rewind_step)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
