// drovask-run: runs a ROM image of the machine without a window. See `usage` below.

#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "formats/key_script.hpp"
#include "formats/line_map.hpp"
#include "formats/state_file.hpp"
#include "formats/symbols.hpp"
#include "machine/rom_file.hpp"
#include "tools/drovask-run/inspection.hpp"
#include "tools/drovask-run/pictures.hpp"
#include "tools/drovask-run/runner.hpp"
#include "tools/files/format_files.hpp"
#include "tools/files/input_file.hpp"
#include "tools/files/messages.hpp"
#include "tools/files/numbers.hpp"
#include "tools/files/output_file.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int exit_reported =
    1;                          // the audit found something, the program failed, or output was lost
constexpr int exit_refused = 2; // bad arguments or files: nothing was run or written
constexpr int exit_not_reached = 3; // no breakpoint was reached
constexpr std::uint64_t default_every = 2;

const std::string usage = R"(Usage: drovask-run ROM.bin... [options]
Runs an 8,192-byte ROM image (files joined in order; - reads standard input) with no window, on
a clock that counts instructions: the same ROM and input give the same pictures everywhere.
  --frames N          run N frames (default 120); a frame is two interrupts, 1/60 s
  --input SCRIPT      key events (- reads standard input), one a line: "at FRAME press|release
                      KEY", in order of FRAME, the number of frames run before the event;
                      "#" starts a comment; KEY is one of
)" + Drovask::machine_keys_text(90, std::string(22, ' ')) +
                          R"(
  --screenshot FILE.png   the upright 224 x 256 picture after the last frame
  --animation FILE.gif    an animated GIF of the picture after every K-th frame
  --every K           K for --animation (default 2: 30 pictures a second; 1 plays at 50
                      a second, 5/6 of the machine's speed: no GIF picture is shorter)
  --audit             report each store dropped outside RAM (2000-3FFF), store through HL
                      into the ROM or above RAM, IN or OUT on a port the machine ignores (it
                      answers IN 0, 1, 3 and OUT 2, 4), change of SP to outside RAM, with PC
  --instructions-per-interrupt N   interrupt after every N instructions (default 1938: the
                      16,667 cycles of a 2 MHz 8080 in 1/120 s, at 8.6 cycles an instruction)
Looking inside (ADDR: a name from --symbols or a number; shown as NAME or LABEL+offset):
  --symbols FILE      names for addresses, as asm8080 --symbols writes them
  --lines FILE        source lines (FILE:LINE) beside addresses, as asm8080 --lines writes them
  --trace FILE        a line per instruction: address, bytes, disassembly, then the registers
                      after it (A=xx BC=xxxx DE=xxxx HL=xxxx SP=xxxx F=xx, flags spelled out);
                      interrupts, frames and key events on lines beginning with "--"
  --trace-from F, --trace-frames N   trace only N frames (default: all) from frame F
  --break ADDR        stop before the instruction at ADDR, or at FILE:LINE with --lines, and
                      print frame, count, registers, next instructions, stack (repeatable)
  --watch ADDR[:N]    print each store into the N bytes from ADDR (default 1), dropped and
                      unchanged ones too, with frame, PC, old and new byte (repeatable)
  --state FILE        registers, flags, interrupts, shift register, input and RAM at the end
  --save-state FILE   the whole machine (.tmstate) where the run ends, or with
                      --save-state-at F once it has run F frames from power-on
  --load-state FILE   go on from a saved state: --frames N runs N more; --input's FRAME,
                      --trace-from and --save-state-at count frames from power-on
Numbers: decimal, 0x2000 or 2000H. An output named - or /dev/stdout goes to standard output.
Exit status: 0 done, or stopped at a breakpoint; 1 the audit reported faults, an unimplemented
instruction ended the run (message and PC printed, trace and state written, no picture or saved
state) or standard output was lost; 2 a bad argument or input or output file; 3 no --break was
reached ("not reached in N frames"). Outputs appear only complete, only over a regular file.
)";

struct Options {
    std::vector<fs::path> roms; // joined in order
    std::uint64_t frames = 120;
    std::optional<fs::path> input;
    std::optional<fs::path> screenshot;
    std::optional<fs::path> animation;
    std::optional<std::uint64_t> every;
    bool audit = false;
    std::uint32_t instructions_per_interrupt = Drovask::default_instructions_per_interrupt;
    std::optional<fs::path> symbols;
    std::optional<fs::path> lines;
    std::optional<fs::path> trace;
    std::optional<std::uint64_t> trace_from;
    std::optional<std::uint64_t> trace_frames;
    std::vector<std::string> breaks;  // ADDR, read once the symbols are
    std::vector<std::string> watches; // ADDR[:LENGTH]
    std::optional<fs::path> state;
    std::optional<fs::path> save_state;
    std::optional<std::uint64_t> save_state_at;
    std::optional<fs::path> load_state;
};

[[noreturn]] void refuse(const std::string& message) {
    throw Tavrin::Exception{message};
}

std::uint64_t whole_number(std::string_view option, std::string_view text, std::uint64_t max,
                           std::uint64_t min = 1) {
    const auto value = Tools::parse_number(text);
    if (!value || *value < min || *value > max) {
        refuse(std::string(option) + " takes a whole number from " + std::to_string(min) + " to " +
               std::to_string(max) + " (" + std::string(Tools::number_forms) + "), not \"" +
               std::string(text) + "\"");
    }
    return *value;
}

// "-" names standard input.
fs::path input_path(std::string_view argument) {
    return argument == "-" ? fs::path("/dev/stdin") : fs::path(argument);
}

// A picture's name says its format: a PNG under a GIF's name would mislead every program that
// opens it.
void check_extension(std::string_view option, const std::optional<fs::path>& path,
                     std::string_view extension) {
    if (!path || Tools::names_standard_output(*path)) {
        return;
    }
    std::string given = path->extension().string();
    for (char& c : given) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (given != extension) {
        refuse(std::string(option) + " writes a " + std::string(extension.substr(1)) +
               " file: give it a name ending in " + std::string(extension) + ", not " +
               path->string());
    }
}

Options parse_arguments(int argc, char** argv) {
    Options options;
    std::vector<std::string_view> rest;
    for (int i = 1; i < argc; ++i) {
        rest.emplace_back(argv[i]);
    }
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const std::string_view argument = rest[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 == rest.size()) {
                refuse(std::string(argument) + " needs a value; see drovask-run --help");
            }
            return rest[++i];
        };
        if (argument == "--frames") {
            options.frames = whole_number(argument, value(), Formats::max_script_frame);
        } else if (argument == "--input") {
            options.input = input_path(value());
        } else if (argument == "--screenshot") {
            options.screenshot = fs::path(value());
        } else if (argument == "--animation") {
            options.animation = fs::path(value());
        } else if (argument == "--every") {
            options.every = whole_number(argument, value(), 1'000'000);
        } else if (argument == "--audit") {
            options.audit = true;
        } else if (argument == "--instructions-per-interrupt") {
            options.instructions_per_interrupt =
                static_cast<std::uint32_t>(whole_number(argument, value(), 1'000'000'000));
        } else if (argument == "--symbols") {
            options.symbols = fs::path(value());
        } else if (argument == "--lines") {
            options.lines = fs::path(value());
        } else if (argument == "--trace") {
            options.trace = fs::path(value());
        } else if (argument == "--trace-from") {
            options.trace_from = whole_number(argument, value(), Formats::max_script_frame, 0);
        } else if (argument == "--trace-frames") {
            options.trace_frames = whole_number(argument, value(), Formats::max_script_frame);
        } else if (argument == "--break") {
            options.breaks.emplace_back(value());
        } else if (argument == "--watch") {
            options.watches.emplace_back(value());
        } else if (argument == "--state") {
            options.state = fs::path(value());
        } else if (argument == "--save-state") {
            options.save_state = fs::path(value());
        } else if (argument == "--save-state-at") {
            options.save_state_at = whole_number(argument, value(), Formats::max_script_frame, 0);
        } else if (argument == "--load-state") {
            options.load_state = input_path(value());
        } else if (argument.starts_with("-") && argument != "-") {
            refuse("unknown option " + std::string(argument) + "; see drovask-run --help");
        } else {
            options.roms.push_back(input_path(argument));
        }
    }
    if (options.roms.empty()) {
        refuse("no ROM image given; see drovask-run --help");
    }
    const auto from_standard_input = [](const fs::path& path) { return path == "/dev/stdin"; };
    if (std::count_if(options.roms.begin(), options.roms.end(), from_standard_input) +
            (options.input && from_standard_input(*options.input)) +
            (options.load_state && from_standard_input(*options.load_state)) >
        1) {
        refuse("standard input can be read once: name it (-) for one input only");
    }
    if ((options.trace_from || options.trace_frames) && !options.trace) {
        refuse("--trace-from and --trace-frames choose the frames of --trace, which is missing");
    }
    if (options.save_state_at && !options.save_state) {
        refuse("--save-state-at chooses the frame of --save-state, which is missing");
    }
    if (options.every && !options.animation) {
        refuse("--every sets the pictures of --animation, which is missing");
    }
    if (options.animation && options.every.value_or(default_every) > options.frames) {
        refuse("the animation would have no picture: --every " +
               std::to_string(options.every.value_or(default_every)) + " is more than the " +
               std::to_string(options.frames) + " frames run");
    }
    return options;
}

// An output must not replace one of the run's own inputs, nor the other output.
void check_outputs(const Options& options) {
    std::vector<fs::path> inputs = options.roms;
    for (const auto& input : {options.input, options.symbols, options.lines, options.load_state}) {
        if (input) {
            inputs.push_back(*input);
        }
    }
    const std::pair<const char*, std::optional<fs::path>> outputs[] = {
        {"the screenshot", options.screenshot},
        {"the animation", options.animation},
        {"the trace", options.trace},
        {"the state", options.state},
        {"the saved state", options.save_state}};
    const char* to_standard_output = nullptr;
    for (const auto& [role, output] : outputs) {
        if (output && Tools::names_standard_output(*output)) {
            if (to_standard_output != nullptr) {
                refuse(std::string(to_standard_output) + " and " + role +
                       " would both go to standard output; choose a file for one");
            }
            to_standard_output = role;
            continue;
        }
        for (const fs::path& input : inputs) {
            if (output && Tools::same_file(*output, input)) {
                refuse("the output " + output->string() + " is the input " + input.string() +
                       "; choose another name");
            }
        }
    }
    for (std::size_t i = 0; i < std::size(outputs); ++i) {
        for (std::size_t j = i + 1; j < std::size(outputs); ++j) {
            const auto& [role, output] = outputs[i];
            const auto& [other_role, other] = outputs[j];
            if (output && other && !Tools::names_standard_output(*output) &&
                Tools::same_file(*output, *other)) {
                refuse(std::string(role) + " " + output->string() + " and " + other_role + " " +
                       other->string() + " would be one file; choose two names");
            }
        }
    }
}

void warn(const std::string& message) {
    std::cerr << "drovask-run: warning: " << Tools::printable(message) << '\n';
}

std::uint16_t address_argument(std::string_view option, std::string_view text,
                               const Formats::Symbols* symbols) {
    const auto address = Tools::parse_address(text, symbols);
    if (!address) {
        refuse(std::string(option) + " takes an address, 1A2BH or 0x1A2B" +
               (symbols != nullptr ? " or a name from --symbols" : " (or a name, with --symbols)") +
               ", not \"" + std::string(text) + "\"");
    }
    return *address;
}

// A breakpoint: an address, or FILE:LINE through the line map.
std::uint16_t break_address(const std::string& text, const Drovask::Runner& runner) {
    if (text.find(':') == std::string::npos) {
        return address_argument("--break", text, runner.symbols());
    }
    if (runner.line_map() == nullptr) {
        refuse("--break " + text + " names a source line: give the line map too (--lines FILE, " +
               "as asm8080 --lines writes it)");
    }
    const auto address = runner.line_map()->address_of(text);
    if (!address) {
        refuse("--break " + text + ": no instruction or data starts on that line in the line " +
               "map; choose a line with code (FILE as the map names it, or its name alone)");
    }
    return *address;
}

// Breakpoints and watches, once the symbols and the line map that may name their addresses are
// read. Returns the breakpoints.
std::vector<std::uint16_t> look_inside(Drovask::Runner& runner, const Options& options) {
    std::vector<std::uint16_t> breakpoints;
    for (const std::string& text : options.breaks) {
        breakpoints.push_back(break_address(text, runner));
        runner.add_breakpoint(breakpoints.back());
    }
    for (const std::string& text : options.watches) {
        const std::size_t colon = text.find(':');
        const std::uint16_t first =
            address_argument("--watch", std::string_view(text).substr(0, colon), runner.symbols());
        const std::uint64_t length =
            colon == std::string::npos
                ? 1
                : whole_number("--watch's LENGTH", std::string_view(text).substr(colon + 1), 65536);
        runner.add_watch(first, static_cast<std::uint32_t>(length), std::cout);
    }
    return breakpoints;
}

// Writes what `write` puts into a text stream to `file`.
template <typename Write>
void write_text(Tools::Output& file, Write&& write) {
    std::ostringstream text;
    write(text);
    const std::string bytes = text.str();
    std::fwrite(bytes.data(), 1, bytes.size(), file.stream());
}

using Events = std::vector<Formats::Key_Event>;

// The files a run writes. Each is opened, as a temporary beside its target, before the machine
// starts, so a name that may not be written is refused before anything runs; each appears only
// at its commit, complete.
struct Outputs {
    std::optional<Tools::Output> screenshot;
    std::optional<Tools::Output> animation_file;
    std::optional<Drovask::Gif_Writer> animation;
    std::optional<Tools::Output> trace;
    std::ostringstream frame_trace; // the trace of the frame being run, written after it
    std::optional<Tools::Output> state;
    std::optional<Tools::Output> saved_state;
};

Events read_events(const Options& options) {
    return options.input ? Tools::read_key_script(*options.input) : Events{};
}

// What is legal but likely not meant: script events out of the ordinary, GIF delays too long.
void warn_about_inputs(const Options& options, const Events& events) {
    if (options.input) {
        for (const std::string& warning :
             Formats::key_script_warnings(events, options.input->string())) {
            warn(warning);
        }
    }
    const std::uint64_t every = options.every.value_or(default_every);
    if (options.animation && every > Drovask::longest_gif_frames_apart) {
        warn("--every " + std::to_string(every) +
             " is longer than a GIF picture may last: each is shown for 655.35 s instead of " +
             std::to_string(every / 60) + " s");
    }
}

void open_pictures(Outputs& outputs, const Options& options) {
    if (options.screenshot) {
        outputs.screenshot.emplace(*options.screenshot);
    }
    if (options.animation) {
        outputs.animation_file.emplace(*options.animation);
        outputs.animation.emplace(outputs.animation_file->stream(),
                                  options.every.value_or(default_every));
    }
}

void open_text_outputs(Outputs& outputs, const Options& options) {
    if (options.trace) {
        outputs.trace.emplace(*options.trace);
    }
    if (options.state) {
        outputs.state.emplace(*options.state);
    }
    if (options.save_state) {
        outputs.saved_state.emplace(*options.save_state);
    }
}

// The machine as a state file, committed at once: a later fault of the program does not take
// it back.
void save_state(Outputs& outputs, const Drovask::Runner& runner, Drovask::Rom rom) {
    const std::vector<std::uint8_t> bytes = Formats::format_state_file(runner.session, rom);
    std::fwrite(bytes.data(), 1, bytes.size(), outputs.saved_state->stream());
    outputs.saved_state->commit();
    outputs.saved_state.reset();
}

// The machine from a state file instead of power-on.
void load_state(Drovask::Runner& runner, const fs::path& path, Drovask::Rom rom,
                const Options& options) {
    // One byte more than a state file of this version has: a longer one is damaged.
    constexpr std::size_t limit = 1 << 17;
    const Tools::Input input = Tools::read_at_most(path, limit);
    const std::string name = "the saved state " + path.string();
    if (input.error == std::errc::is_a_directory) {
        refuse(name + " is a directory; give the .tmstate file that --save-state wrote");
    }
    if (input.error) {
        refuse("cannot read " + name + ": " + input.error.message());
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.bytes.data());
    runner.restore(Formats::parse_state_file({bytes, input.bytes.size()}, rom,
                                             options.instructions_per_interrupt, name));
}

// Moves the trace gathered in memory to its file.
void write_frame_trace(Outputs& outputs) {
    if (outputs.trace) {
        write_text(*outputs.trace, [&](std::ostream& out) { out << outputs.frame_trace.str(); });
        outputs.frame_trace.str({});
    }
}

void commit_trace_and_state(Outputs& outputs, const Drovask::Runner& runner) {
    if (outputs.trace) {
        outputs.trace->commit();
    }
    if (outputs.state) {
        write_text(*outputs.state, [&](std::ostream& out) { Drovask::write_state(out, runner); });
        outputs.state->commit();
    }
}

// An unimplemented instruction ended the run in `frame`: its message with the PC, the audit so
// far, and the trace and state up to it. The pictures are not written.
void report_program_error(const Tavrin::Exception& exception, std::uint64_t frame,
                          Drovask::Runner& runner, Outputs& outputs, const Options& options) {
    const std::string where = "at PC " + Formats::hex(runner.instruction_pc(), 4) + ", in frame " +
                              std::to_string(frame) + ": ";
    std::cerr << "drovask-run: " << where << Tools::printable(exception.message) << '\n';
    if (options.audit) {
        runner.audit.report(std::cout);
    }
    write_frame_trace(outputs);
    commit_trace_and_state(outputs, runner);
}

// The frames of the run, each with its key events first, its trace and its animation picture.
// Returns the first event not used, or nothing when a program error ended the run (reported).
std::optional<Events::const_iterator> run_frames(Drovask::Runner& runner, Outputs& outputs,
                                                 const Options& options, const Events& events,
                                                 Drovask::Rom rom) {
    const std::uint64_t every = options.every.value_or(default_every);
    const std::uint64_t start = runner.frames(); // 0, or the loaded state's
    const std::uint64_t end = start + options.frames;
    const std::uint64_t trace_from = options.trace_from.value_or(start);
    const std::uint64_t trace_end = options.trace_frames ? trace_from + *options.trace_frames : end;
    Drovask::Screen screen{};
    // The events before a loaded state's frame were played before it was saved: the keys they
    // left held are in the state.
    auto next_event = std::find_if(events.begin(), events.end(),
                                   [&](const Formats::Key_Event& e) { return e.frame >= start; });
    if (outputs.saved_state && options.save_state_at == start) {
        save_state(outputs, runner, rom);
    }
    for (std::uint64_t frame = start; frame < end && !runner.stopped(); ++frame) {
        if (outputs.trace) {
            const bool traced = frame >= trace_from && frame < trace_end;
            runner.trace_to(traced ? &outputs.frame_trace : nullptr);
        }
        for (; next_event != events.end() && next_event->frame == frame; ++next_event) {
            runner.hold(next_event->key, next_event->press);
        }
        try {
            runner.frame();
        } catch (const Tavrin::Exception& exception) {
            report_program_error(exception, frame, runner, outputs, options);
            return std::nullopt; // the pictures' temporaries go with their holders
        }
        write_frame_trace(outputs);
        if (outputs.animation && !runner.stopped() && (frame + 1 - start) % every == 0) {
            Drovask::convert_screen(runner.board.processor, screen);
            outputs.animation->add(screen);
        }
        if (outputs.saved_state && options.save_state_at == runner.frames()) {
            save_state(outputs, runner, rom);
        }
    }
    return next_event;
}

// Where the run stopped at a breakpoint, or what its frames did not reach: key events, the trace's
// first frame.
void report_end(const Drovask::Runner& runner, const Options& options, const Events& events,
                Events::const_iterator next_event, std::uint64_t end) {
    if (runner.stopped()) {
        Drovask::write_break_report(std::cout, runner);
        return;
    }
    if (options.trace_from && *options.trace_from >= end) {
        std::cerr << "drovask-run: note: --trace-from " << *options.trace_from
                  << " is not reached in a run of " << options.frames
                  << " frames; the trace has no instruction\n";
    }
    if (next_event != events.end()) {
        std::cerr << "drovask-run: note: "
                  << Tools::printable(options.input->string() + ":" +
                                      std::to_string(next_event->line) + ": frame " +
                                      std::to_string(next_event->frame) +
                                      " is not reached in a run of " +
                                      std::to_string(options.frames) + " frames")
                  << "; that event and any after it were not used\n";
    }
}

// Power-on, or the loaded state; a frame to save at must then lie within the run.
void start_from(Drovask::Runner& runner, Drovask::Rom rom, const Options& options) {
    if (options.load_state) {
        load_state(runner, *options.load_state, rom, options);
    }
    const std::uint64_t start = runner.frames();
    if (options.save_state_at &&
        (*options.save_state_at < start || *options.save_state_at > start + options.frames)) {
        refuse("--save-state-at " + std::to_string(*options.save_state_at) +
               " is not a frame of this run, which goes from frame " + std::to_string(start) +
               " to frame " + std::to_string(start + options.frames));
    }
}

// Says so when there were breakpoints and the run ended without reaching one.
bool breakpoints_reached(const Drovask::Runner& runner,
                         const std::vector<std::uint16_t>& breakpoints, std::uint64_t frames) {
    if (breakpoints.empty() || runner.stopped()) {
        return true;
    }
    std::string addresses;
    for (const std::uint16_t address : breakpoints) {
        addresses +=
            (addresses.empty() ? "" : ", ") + Drovask::address_text(address, runner.symbols());
    }
    std::cerr << "drovask-run: --break " << Tools::printable(addresses) << ": not reached in "
              << frames << " frames\n";
    return false;
}

void commit_pictures(Outputs& outputs, const Drovask::Runner& runner) {
    if (outputs.screenshot) {
        Drovask::Screen screen{};
        Drovask::convert_screen(runner.board.processor, screen);
        Drovask::write_png(screen, outputs.screenshot->stream());
        outputs.screenshot->commit();
    }
    if (outputs.animation) {
        outputs.animation->finish();
        outputs.animation_file->commit();
    }
}

int run(const Options& options) {
    const auto rom_bytes = Drovask::read_rom_files(options.roms);
    const Events events = read_events(options);
    check_outputs(options);
    warn_about_inputs(options, events);
    Outputs outputs;
    open_pictures(outputs, options);
    check_extension("--screenshot", options.screenshot, ".png");
    check_extension("--animation", options.animation, ".gif");
    std::optional<Formats::Symbols> symbols;
    if (options.symbols) {
        symbols = Tools::read_symbol_file(*options.symbols);
    }
    std::optional<Formats::Line_Map> lines;
    if (options.lines) {
        lines = Tools::read_line_map(*options.lines);
    }
    open_text_outputs(outputs, options);

    const Drovask::Rom rom{rom_bytes.data(), Drovask::rom_size};
    Drovask::Runner runner(rom, {options.instructions_per_interrupt, options.audit});
    start_from(runner, rom, options);
    const std::uint64_t end = runner.frames() + options.frames;
    runner.use_symbols(symbols ? &*symbols : nullptr);
    runner.use_line_map(lines ? &*lines : nullptr);
    const std::vector<std::uint16_t> breakpoints = look_inside(runner, options);
    const auto next_event = run_frames(runner, outputs, options, events, rom);
    if (!next_event) {
        return exit_reported;
    }
    report_end(runner, options, events, *next_event, end);
    commit_pictures(outputs, runner);
    commit_trace_and_state(outputs, runner);
    if (outputs.saved_state && !options.save_state_at) {
        save_state(outputs, runner, rom);
    } else if (outputs.saved_state) {
        std::cerr << "drovask-run: note: --save-state-at " << *options.save_state_at
                  << " is not reached: the run stopped in frame " << runner.frames()
                  << "; no state was saved\n";
    }
    if (options.audit) {
        runner.audit.report(std::cout);
        if (runner.audit.total() != 0) {
            return exit_reported;
        }
    }
    return breakpoints_reached(runner, breakpoints, options.frames) ? 0 : exit_not_reached;
}

} // namespace

int main(int argc, char** argv) {
    return Tools::run_tool("drovask-run", usage, argc, argv,
                           {.refused = exit_refused, .failed = exit_reported},
                           [&] { return run(parse_arguments(argc, argv)); });
}
