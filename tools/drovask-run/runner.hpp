#pragma once

// The machine run without a window, on a clock that counts instructions: an interrupt is due
// after every `instructions_per_interrupt` instructions, so a ROM and a sequence of keys give
// the same pictures on every computer. It runs the board's own step logic (Drovask::Board).
//
//     Drovask::Runner runner(rom, {.audit = true});
//     runner.hold('C', true);
//     runner.frame();                       // two interrupts' worth of instructions
//     Drovask::convert_screen(runner.board.processor, screen);
//     runner.audit.report(std::cout);
//
// With `audit` on, every instruction is inspected as it runs, its stores through the processor's
// store observer, and the faults that the screen does not show are recorded (see Fault_Kind).
// The same inspection stops the run at breakpoints, reports stores into watched addresses and
// writes a trace; the breakpoints and watches are the machine's inspector's. The machine is a
// session on the counted schedule; a run with no inspection on takes its plain path.

#include "formats/line_map.hpp"
#include "formats/symbols.hpp"
#include "machine/audit.hpp"
#include "machine/board.hpp"
#include "machine/inspector.hpp"
#include "machine/session.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace Drovask {

struct Run_Options {
    std::uint32_t instructions_per_interrupt = default_instructions_per_interrupt;
    bool audit = false;
};

class Runner {
public:
    explicit Runner(Rom rom, Run_Options options = {});
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Holds or releases one of the machine's keys (C, Q, E, A, D, S); it reaches the program at
    // the next interrupt, as on the machine.
    void hold(char key, bool held = true);
    void release_all();

    // `count` instructions with no interrupt between them, fewer when a breakpoint stops the
    // run. Throws Tavrin::Exception for an instruction that is not implemented;
    // `instruction_pc` is then its address.
    void run(std::uint64_t count);

    // The machine as it was saved, with the keys held then held now.
    void restore(const Session::State& state);

    // The interrupt timer fires now: the keys are sampled and, if the program has enabled
    // interrupts, the next interrupt is delivered. Nothing happens once stopped.
    void interrupt();

    // One frame: twice, `instructions_per_interrupt` instructions and then an interrupt.
    void frame();

    // Looking inside; each is off until set. Names from `symbols` (kept by reference) label
    // addresses in the trace and in the watch reports.
    void use_symbols(const Formats::Symbols* symbols) { symbols_ = symbols; }
    // Source lines from `lines` (kept by reference) beside the addresses of the trace, the
    // watch reports and the report at a breakpoint.
    void use_line_map(const Formats::Line_Map* lines) { lines_ = lines; }
    // The run stops before the instruction at `address` executes.
    void add_breakpoint(std::uint16_t address);
    // Every store into `first` and the `length` - 1 addresses after it (wrapping past FFFF),
    // the interrupt entry's and dropped ones included, is reported on `out`.
    void add_watch(std::uint16_t first, std::uint32_t length, std::ostream& out);
    // A line per instruction and per interrupt or key event, on `out`; null ends the trace.
    void trace_to(std::ostream* out) { trace_ = out; }

    bool stopped() const { return stopped_at.has_value(); }
    const Formats::Symbols* symbols() const { return symbols_; }
    const Formats::Line_Map* line_map() const { return lines_; }

    std::uint64_t instructions() const { return session.instructions(); } // run so far
    std::uint64_t frames() const { return session.frames(); }             // completed
    // The address of the instruction being run, or of the one that failed.
    std::uint16_t instruction_pc() const { return session.instruction_pc(); }

    Session session;
    Board& board = session.board;
    Audit audit;
    std::optional<std::uint16_t> stopped_at; // the breakpoint that stopped the run

private:
    // Hears of the stores of the instruction being run, or of the interrupt entry.
    struct Store_Listener {
        Runner* runner;
        void operator()(std::uint16_t address, std::uint8_t value, Store store) const {
            runner->stored(address, value, store);
        }
    };

    bool looking() const;
    void run_looking(std::uint64_t count);
    // Kept out of line: `execute` is flattened, and everything it calls is inlined into each of
    // its 256 handlers.
    [[gnu::noinline]] void stored(std::uint16_t address, std::uint8_t value, Store store);
    void record(std::optional<Fault> fault) {
        if (fault) {
            audit.record(*fault);
        }
    }

    Run_Options options_;
    std::array<bool, 256> held_{};
    bool at_interrupt_ = false;
    std::uint16_t interrupt_pc_ = 0; // the PC that the interrupt being delivered pushes
    const Formats::Symbols* symbols_ = nullptr;
    const Formats::Line_Map* lines_ = nullptr;
    Inspector inspector_;
    std::ostream* watch_out_ = nullptr;
    std::ostream* trace_ = nullptr;
};

} // namespace Drovask
