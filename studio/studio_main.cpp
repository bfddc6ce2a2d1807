// The studio's WebAssembly side: the assembler, the disassembler and the debugger's machine
// behind plain C functions that the page calls (studio/web/core.js wraps them). Source files
// live in an in-memory folder, /project, where INCLUDE finds them; the project's own programs
// are put there at start-up as examples. What a call returns beyond a number is JSON text with
// named fields (valid until the next such call), so the page reads every value by its name; only
// the bulk bytes (the ROM, the memory, the picture) are read in place.

#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "formats/key_script.hpp"
#include "formats/line_map.hpp"
#include "formats/symbols.hpp"
#include "studio/debugger.hpp"
#include "studio/examples.hpp"
#include "studio/json.hpp"
#include "tools/asm8080/assembler.hpp"
#include "tools/disassembler/disassembler.hpp"
#include "tools/drovask-dap/expressions.hpp"

#include <emscripten/emscripten.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

namespace Json = Studio::Json;

const std::filesystem::path project_folder = "/project";
const std::string no_rom_yet = "Assemble a program first: there is no ROM yet.";

std::string reply; // the JSON text of the last call that returns one
std::array<std::uint8_t, Drovask::rom_size> rom{};
bool assembled = false;
Formats::Symbols rom_symbols;
std::unique_ptr<Studio::Debugger> debugger;

const char* answer(std::string json) {
    reply = std::move(json);
    return reply.c_str();
}

std::string error_json(std::string_view message) {
    return Json::object({{"error", Json::string(message)}});
}

using Formats::hex;

// {"reason":"breakpoint","address":291}, or {"error":"..."} when the machine failed; a stop at a
// fault says which: {"reason":"fault","address":291,"fault":"PC 0123: store to 1FFF dropped..."}.
template <typename Action>
const char* on_machine(Action&& action) {
    if (!debugger) {
        return answer(error_json(no_rom_yet));
    }
    try {
        const Studio::Stop stop = action(*debugger);
        const std::string reason = Json::string(Drovask::stop_reason_name(stop.reason));
        if (stop.reason == Studio::Stop_Reason::fault && debugger->last_fault()) {
            return answer(Json::object(
                {{"reason", reason},
                 {"address", Json::number(stop.address)},
                 {"fault", Json::string(Drovask::describe(*debugger->last_fault()))}}));
        }
        return answer(Json::object({{"reason", reason}, {"address", Json::number(stop.address)}}));
    } catch (const Tavrin::Exception& exception) {
        debugger->back_to_fault();
        return answer(error_json(exception.message));
    }
}

void write_file(const std::filesystem::path& path, std::string_view text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
}

// A file of the project by its name alone: the folder is the same for all of them.
std::string file_name(const std::string& path) {
    return std::filesystem::path(path).filename();
}

std::string errors_json(const std::vector<Asm8080::Diagnostic>& errors) {
    return Json::array(errors, [](const Asm8080::Diagnostic& error) {
        return Json::object({{"line", Json::number(error.line)},
                             {"file", Json::string(file_name(error.file))},
                             {"message", Json::string(error.message)}});
    });
}

std::string line_map_json(const Formats::Line_Map& map) {
    return Json::array(map.entries(), [](const Formats::Line_Map::Entry& entry) {
        return Json::object({{"address", Json::number(entry.address)},
                             {"file", Json::string(file_name(entry.file))},
                             {"line", Json::number(entry.line)}});
    });
}

// [{"address", "file", "line"}] of the code and data that macros and repetitions wrote, with
// the line of the body that wrote each: a breakpoint there stops at every expansion.
std::string body_lines_json(const Asm8080::Program& program) {
    std::vector<std::string> entries;
    for (const Asm8080::Listing_Line& line : program.listing) {
        if (line.body_line != 0 && line.address && !line.bytes.empty()) {
            entries.push_back(
                Json::object({{"address", Json::number(*line.address)},
                              {"file", Json::string(file_name(program.files[line.body_file]))},
                              {"line", Json::number(line.body_line)}}));
        }
    }
    return Json::array(entries, [](const std::string& entry) { return entry; });
}

std::string symbols_json(const Formats::Symbols& symbols) {
    return Json::array(symbols.all(), [](const Formats::Symbol& symbol) {
        return Json::object({{"name", Json::string(symbol.name)},
                             {"value", Json::number(symbol.value)},
                             {"label", Json::boolean(symbol.label)}});
    });
}

// The project folder with the examples alone, the files that INCLUDE finds when the author's
// own files have none of that name.
void write_examples() {
    std::filesystem::remove_all(project_folder);
    for (const Studio::Example& example : Studio::examples()) {
        write_file(project_folder / example.name, example.text);
    }
}

} // namespace

int main() {
    write_examples();
    return 0;
}

extern "C" {

// [{"name", "text"}] of the examples.
EMSCRIPTEN_KEEPALIVE const char* studio_examples() {
    return answer(Json::array(Studio::examples(), [](const Studio::Example& example) {
        return Json::object(
            {{"name", Json::string(example.name)}, {"text", Json::string(example.text)}});
    }));
}

// [{"key": "C", "label": "coin"}] of the machine's keys, in the board's order.
EMSCRIPTEN_KEEPALIVE const char* studio_keys() {
    return answer(Json::array(Drovask::input_keys, [](const Drovask::Input_Key& key) {
        return Json::object({{"key", Json::string(std::string_view(&key.key, 1))},
                             {"label", Json::string(key.label)}});
    }));
}

// The sizes of the byte views (studio_rom, studio_memory, studio_picture) and the memory map:
// {"rom_size", "memory_size", "picture_width", "picture_height", "ram_start", "video_start",
// "ram_end" (the last address of RAM)}.
EMSCRIPTEN_KEEPALIVE const char* studio_layout() {
    return answer(Json::object(
        {{"rom_size", Json::number(Drovask::rom_size)},
         {"memory_size", Json::number(std::tuple_size_v<decltype(Intel_8080::memory)>)},
         {"picture_width", Json::number(Drovask::screen_size.width)},
         {"picture_height", Json::number(Drovask::screen_size.height)},
         {"ram_start", Json::number(Drovask::writable_start)},
         {"video_start", Json::number(Drovask::video_start)},
         {"ram_end", Json::number(Drovask::writable_end)}}));
}

// [{"mask": 1, "short": "S", "name": "sign"}] of the processor's flags, as its flags byte holds
// them (the state's "flags").
EMSCRIPTEN_KEEPALIVE const char* studio_flags() {
    struct Flag {
        std::uint8_t mask;
        std::string_view short_name, name;
    };
    static constexpr std::array<Flag, 5> flags{{{flag::sign, "S", "sign"},
                                                {flag::zero, "Z", "zero"},
                                                {flag::auxiliary_carry, "AC", "aux carry"},
                                                {flag::parity, "P", "parity"},
                                                {flag::carry, "CY", "carry"}}};
    return answer(Json::array(flags, [](const Flag& flag) {
        return Json::object({{"mask", Json::number(flag.mask)},
                             {"short", Json::string(flag.short_name)},
                             {"name", Json::string(flag.name)}});
    }));
}

// Takes the author's files out of the project folder: the examples stay, as at start-up.
EMSCRIPTEN_KEEPALIVE void studio_clear_files() {
    write_examples();
}

// Puts a source file into the project folder (a name without folders), for INCLUDE to find.
EMSCRIPTEN_KEEPALIVE void studio_put_file(const char* name, std::size_t name_size, const char* text,
                                          std::size_t text_size) {
    write_file(project_folder / std::string(name, name_size), std::string_view(text, text_size));
}

// Assembles the project's file `name` into an 8 KiB ROM from 0000H: {"ok", "errors": [{"line",
// "file", "message"}], "notes" (warnings, as the errors), "listing", "symbol_file" (its text),
// "symbols": [{"name", "value", "label"}], "lines": [{"address", "file", "line"}], "body_lines" (as
// "lines", for what macros and repetitions wrote: the lines of their bodies)}; the ROM is
// studio_rom().
EMSCRIPTEN_KEEPALIVE const char* studio_assemble(const char* name, std::size_t name_size) {
    const Asm8080::Program program = Asm8080::assemble_file(
        project_folder / std::string(name, name_size), {.base = 0, .size = Drovask::rom_size});
    const std::string symbol_file = Formats::format_symbol_file(program.symbols, program.values);
    const Formats::Symbols symbols = Formats::parse_symbol_file(symbol_file, "symbols");
    const Formats::Line_Map lines = Asm8080::line_map_of(program);
    assembled = program.ok() && program.image.size() == rom.size();
    if (assembled) {
        std::copy(program.image.begin(), program.image.end(), rom.begin());
        rom_symbols = symbols;
    }
    return answer(Json::object({{"ok", Json::boolean(assembled)},
                                {"errors", errors_json(program.errors)},
                                {"notes", errors_json(program.notes)},
                                {"listing", Json::string(Asm8080::format_listing(program))},
                                {"symbol_file", Json::string(symbol_file)},
                                {"symbols", symbols_json(symbols)},
                                {"lines", line_map_json(lines)},
                                {"body_lines", body_lines_json(program)}}));
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* studio_rom() {
    return rom.data();
}

// The machine at power-on with the last ROM assembled, no breakpoint, no watch, no key held;
// 0 when nothing has assembled yet.
EMSCRIPTEN_KEEPALIVE int studio_reset() {
    if (!assembled) {
        return 0;
    }
    debugger = std::make_unique<Studio::Debugger>(rom);
    return 1;
}

EMSCRIPTEN_KEEPALIVE const char* studio_step() {
    return on_machine([](Studio::Debugger& d) { return d.step(); });
}

EMSCRIPTEN_KEEPALIVE const char* studio_step_over(std::uint32_t max_frames) {
    return on_machine([=](Studio::Debugger& d) { return d.step_over(max_frames); });
}

// Until the innermost call returns; outside every call, as studio_run_frames(max_frames).
EMSCRIPTEN_KEEPALIVE const char* studio_step_out(std::uint32_t max_frames) {
    return on_machine([=](Studio::Debugger& d) { return d.step_out(max_frames); });
}

// Until PC is at `address`, a breakpoint or a watch: {"reason", "address"}; "limit" after
// `max_frames` frames.
EMSCRIPTEN_KEEPALIVE const char* studio_run_to(std::uint16_t address, std::uint32_t max_frames) {
    return on_machine([=](Studio::Debugger& d) { return d.run_to(address, max_frames); });
}

// The machine off, as before the first assembly (an assembly that failed leaves it so).
EMSCRIPTEN_KEEPALIVE void studio_power_off() {
    debugger.reset();
}

// The calls PC is inside, outermost first: [{"call", "target", "return", "sp", "interrupt"}].
EMSCRIPTEN_KEEPALIVE const char* studio_call_stack() {
    if (!debugger) {
        return answer("[]");
    }
    return answer(Json::array(debugger->call_stack(), [](const Drovask::Call_Frame& frame) {
        return Json::object({{"call", Json::number(frame.call)},
                             {"target", Json::number(frame.target)},
                             {"return", Json::number(frame.return_address)},
                             {"sp", Json::number(frame.sp)},
                             {"interrupt", Json::boolean(frame.interrupt)}});
    }));
}

// A watch expression's value now: the debug adapter's expressions (numbers, registers, the last
// assembly's symbols, `$`, [ADDRESS] for a byte, + and -), or b[ADDRESS] for the byte and
// w[ADDRESS] for the word there. {"value", "digits" (2 for a byte, else 4)} or {"error"}.
EMSCRIPTEN_KEEPALIVE const char* studio_evaluate(const char* text, std::size_t size) {
    if (!debugger) {
        return answer(error_json(no_rom_yet));
    }
    const std::string_view expression(text, size);
    const Intel_8080& p = debugger->board().processor;
    try {
        const auto size_of = [&]() -> int {
            if (expression.size() < 3 || expression.back() != ']' || expression[1] != '[') {
                return 0;
            }
            const char kind = static_cast<char>(std::tolower(expression[0]));
            return kind == 'b' ? 1 : kind == 'w' ? 2 : 0;
        };
        const int bytes = size_of();
        unsigned value = 0;
        int digits = 4;
        if (bytes == 0) {
            value = Dap::evaluate(expression, p, rom_symbols);
            const auto trimmed = expression.substr(expression.find_first_not_of(' '));
            digits = trimmed.starts_with('[') && trimmed.ends_with(']') ? 2 : 4;
        } else {
            const auto address = static_cast<std::uint16_t>(
                Dap::evaluate(expression.substr(2, expression.size() - 3), p, rom_symbols));
            value = p.memory[address];
            if (bytes == 2) {
                value |= unsigned{p.memory[static_cast<std::uint16_t>(address + 1)]} << 8;
            }
            digits = 2 * bytes;
        }
        return answer(
            Json::object({{"value", Json::number(value)}, {"digits", Json::number(digits)}}));
    } catch (const Tavrin::Exception& exception) {
        return answer(error_json(exception.message));
    }
}

EMSCRIPTEN_KEEPALIVE const char* studio_run_frames(std::uint32_t count) {
    return on_machine([=](Studio::Debugger& d) { return d.run_frames(count); });
}

EMSCRIPTEN_KEEPALIVE void studio_break(std::uint16_t address, bool on) {
    if (debugger) {
        debugger->set_breakpoint(address, on);
    }
}

EMSCRIPTEN_KEEPALIVE void studio_clear_breaks() {
    if (debugger) {
        debugger->clear_breakpoints();
    }
}

EMSCRIPTEN_KEEPALIVE void studio_watch(std::uint16_t first, std::uint32_t length) {
    if (debugger) {
        debugger->add_watch(first, length);
    }
}

// The audit's faults met since power-on: {"total" (every time one was met), "faults": [{"pc",
// "interrupt", "times", "text"}]}, the first 100 distinct ones in the order they came.
EMSCRIPTEN_KEEPALIVE const char* studio_faults() {
    if (!debugger) {
        return answer(Json::null);
    }
    const Drovask::Audit& audit = debugger->audit();
    const auto& entries = audit.entries();
    const std::span<const Drovask::Audit::Entry> shown(entries.data(),
                                                       std::min<std::size_t>(entries.size(), 100));
    return answer(Json::object(
        {{"total", Json::number(static_cast<std::int64_t>(audit.total()))},
         {"faults", Json::array(shown, [](const Drovask::Audit::Entry& entry) {
              return Json::object({{"pc", Json::number(entry.fault.pc)},
                                   {"interrupt", Json::boolean(entry.fault.at_interrupt)},
                                   {"times", Json::number(static_cast<std::int64_t>(entry.times))},
                                   {"text", Json::string(Drovask::describe(entry.fault))}});
          })}}));
}

// Whether a fault stops the machine after the instruction that made it.
EMSCRIPTEN_KEEPALIVE void studio_stop_on_faults(bool on) {
    if (debugger) {
        debugger->stop_on_faults(on);
    }
}

EMSCRIPTEN_KEEPALIVE void studio_clear_watches() {
    if (debugger) {
        debugger->clear_watches();
    }
}

// `key` is one of the machine's keys (studio_keys()).
EMSCRIPTEN_KEEPALIVE void studio_key(char key, bool down) {
    if (debugger) {
        debugger->key(key, down);
    }
}

// Replays a key script from the machine's next frame on: null, or {"error"} that says why it is
// wrong.
EMSCRIPTEN_KEEPALIVE const char* studio_replay(const char* text, std::size_t size) {
    if (!debugger) {
        return answer(error_json(no_rom_yet));
    }
    try {
        debugger->replay(Formats::parse_key_script(std::string_view(text, size), "key script"));
        return answer(Json::null);
    } catch (const Tavrin::Exception& exception) {
        return answer(error_json(exception.message));
    }
}

// The key script of the keys used since power-on, as a JSON string.
EMSCRIPTEN_KEEPALIVE const char* studio_recording() {
    return answer(Json::string(debugger ? debugger->recording() : std::string()));
}

// Going back: as the steps forwards, {"reason", "address"} or {"error"}; reason "limit" when
// the history does not reach back that far.
EMSCRIPTEN_KEEPALIVE const char* studio_step_back() {
    return on_machine([](Studio::Debugger& d) { return d.step_back(); });
}

EMSCRIPTEN_KEEPALIVE const char* studio_step_back_over() {
    return on_machine([](Studio::Debugger& d) { return d.step_back_over(); });
}

EMSCRIPTEN_KEEPALIVE const char* studio_reverse_continue(std::uint32_t max_frames) {
    return on_machine([=](Studio::Debugger& d) { return d.reverse_continue(max_frames); });
}

// To the start of frame `frame` within the history: 1, or 0 outside it (the machine stays).
EMSCRIPTEN_KEEPALIVE int studio_seek(std::uint32_t frame) {
    return debugger && debugger->seek_frame(frame) ? 1 : 0;
}

// To the point after `instructions` instructions in all (what studio_who_wrote's "instruction"
// names): 1, or 0 outside the history.
EMSCRIPTEN_KEEPALIVE int studio_seek_instruction(double instructions) {
    return debugger && instructions >= 0 && debugger->seek(static_cast<std::uint64_t>(instructions))
               ? 1
               : 0;
}

// The last store into `address` that wrote it: {"frame", "instruction", "pc", "interrupt"}, or
// null when the history holds none.
EMSCRIPTEN_KEEPALIVE const char* studio_who_wrote(std::uint16_t address) {
    const std::optional<Studio::Writer> writer =
        debugger ? debugger->who_wrote(address) : std::nullopt;
    if (!writer) {
        return answer(Json::null);
    }
    return answer(
        Json::object({{"frame", Json::number(static_cast<std::int64_t>(writer->frame))},
                      {"instruction", Json::number(static_cast<std::int64_t>(writer->instruction))},
                      {"pc", Json::number(writer->pc)},
                      {"interrupt", Json::boolean(writer->interrupt)}}));
}

// The video byte that holds the picture's pixel at column `x`, row `y`.
EMSCRIPTEN_KEEPALIVE int studio_picture_address(std::uint32_t x, std::uint32_t y) {
    return Studio::picture_address(x, y);
}

// What the history holds: {"earliest_frame", "latest_frame" (the frames whose starts it can go
// to), "bytes"}, or null before power-on.
EMSCRIPTEN_KEEPALIVE const char* studio_history() {
    if (!debugger) {
        return answer(Json::null);
    }
    const Drovask::History& history = debugger->history();
    const std::uint64_t per_frame = std::uint64_t{Drovask::interrupts_per_frame} *
                                    debugger->session().instructions_per_interrupt();
    const std::uint64_t latest = std::max(history.latest(), debugger->instructions());
    return answer(
        Json::object({{"earliest_frame", Json::number(static_cast<std::int64_t>(
                                             (history.earliest() + per_frame - 1) / per_frame))},
                      {"latest_frame", Json::number(static_cast<std::int64_t>(latest / per_frame))},
                      {"bytes", Json::number(static_cast<std::int64_t>(history.memory_bytes()))}}));
}

// The registers and the schedule's counts by name, or null before power-on.
EMSCRIPTEN_KEEPALIVE const char* studio_state() {
    if (!debugger) {
        return answer(Json::null);
    }
    const Intel_8080& p = debugger->board().processor;
    const auto pair = [](std::uint8_t high, std::uint8_t low) {
        return Json::number(high << 8 | low);
    };
    return answer(Json::object(
        {{"pc", Json::number(p.pc)},
         {"a", Json::number(p.a)},
         {"bc", pair(p.b, p.c)},
         {"de", pair(p.d, p.e)},
         {"hl", pair(p.h, p.l)},
         {"sp", Json::number(p.sp)},
         {"flags", Json::number(p.flags)},
         {"interrupts_enabled", Json::boolean(p.interrupts_enabled)},
         {"frames", Json::number(static_cast<std::int64_t>(debugger->frames()))},
         {"instructions", Json::number(static_cast<std::int64_t>(debugger->instructions()))},
         {"in_period", Json::number(debugger->period_position())},
         {"in_frame", Json::number(debugger->frame_position())}}));
}

// All 64 KiB of the machine's memory.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* studio_memory() {
    return debugger ? debugger->board().processor.memory.data() : nullptr;
}

// The upright 224 x 256 picture, one byte a pixel (0 or 255).
EMSCRIPTEN_KEEPALIVE const std::uint8_t* studio_picture() {
    static Drovask::Screen picture{};
    if (debugger) {
        Drovask::convert_screen(debugger->board().processor, picture);
    }
    return picture.data();
}

// `count` instructions from `address`, with the last assembly's names: [{"address", "bytes"
// ("C3 00 20"), "text"}].
EMSCRIPTEN_KEEPALIVE const char* studio_disassemble(std::uint16_t address, std::uint32_t count) {
    std::vector<std::string> lines;
    if (debugger) {
        const auto& memory = debugger->board().processor.memory;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::array<std::uint8_t, 3> bytes{
                memory[address], memory[static_cast<std::uint16_t>(address + 1)],
                memory[static_cast<std::uint16_t>(address + 2)]};
            const Asm8080::Disassembly line = Asm8080::disassemble(bytes, &rom_symbols);
            std::string bytes_text;
            for (std::size_t b = 0; b < line.size; ++b) {
                bytes_text += (b ? " " : "") + hex(bytes[b], 2);
            }
            lines.push_back(Json::object({{"address", Json::number(address)},
                                          {"bytes", Json::string(bytes_text)},
                                          {"text", Json::string(line.text)}}));
            address = static_cast<std::uint16_t>(address + line.size);
        }
    }
    return answer(Json::array(lines, [](const std::string& line) { return line; }));
}

} // extern "C"
