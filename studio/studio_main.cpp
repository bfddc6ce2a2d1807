// The studio's WebAssembly side: the assembler, the disassembler and the debugger's machine
// behind plain C functions that the page calls (studio/web/core.js wraps them). Source files
// live in an in-memory folder, /project, where INCLUDE finds them; the project's own programs
// are put there at start-up as examples. Results too long for a number come back as the text
// or bytes of the last call: studio_output(kind) and studio_output_size(kind).

#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "formats/key_script.hpp"
#include "formats/line_map.hpp"
#include "formats/symbols.hpp"
#include "studio/debugger.hpp"
#include "studio/examples.hpp"
#include "tools/asm8080/assembler.hpp"
#include "tools/disassembler/disassembler.hpp"

#include <emscripten/emscripten.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

const std::filesystem::path project_folder = "/project";

enum Output : int {
    errors,      // "LINE\tFILE\tMESSAGE\n" for each error of the last assembly
    listing,     // of the last assembly
    symbols,     // its symbol file
    lines,       // its line map: "XXXX FILE:LINE\n" for each address that starts code or data
    recording,   // the key script of the keys used since power-on
    disassembly, // "XXXX\tBYTES\tTEXT\n" for each instruction asked for
    message,     // what went wrong in the last call that failed
    examples,    // the examples' file names, one a line
    output_count
};

std::array<std::string, output_count> outputs;
std::array<std::uint8_t, Drovask::rom_size> rom{};
bool assembled = false;
Formats::Symbols rom_symbols;
std::unique_ptr<Studio::Debugger> debugger;

using Formats::hex;

// The stop as one number: its reason in the low byte, the address above it; -1 for an error.
int stop_code(const Studio::Stop& stop) {
    return static_cast<int>(stop.reason) | stop.address << 8;
}

template <typename Action>
int on_machine(Action&& action) {
    if (!debugger) {
        outputs[message] = "Assemble a program first: there is no ROM yet.";
        return -1;
    }
    try {
        return stop_code(action(*debugger));
    } catch (const Tavrin::Exception& exception) {
        debugger->back_to_fault();
        outputs[message] = exception.message;
        return -1;
    }
}

void write_file(const std::filesystem::path& path, std::string_view text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
}

} // namespace

int main() {
    for (const Studio::Example& example : Studio::examples()) {
        write_file(project_folder / example.name, example.text);
        outputs[examples] += std::string(example.name) + '\n';
    }
    return 0;
}

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* studio_output(int kind) {
    return outputs[static_cast<std::size_t>(kind)].data();
}

EMSCRIPTEN_KEEPALIVE std::size_t studio_output_size(int kind) {
    return outputs[static_cast<std::size_t>(kind)].size();
}

// The text of the `index`-th example (in the order of the examples output).
EMSCRIPTEN_KEEPALIVE const char* studio_example_text(std::size_t index) {
    return Studio::examples()[index].text.data();
}

EMSCRIPTEN_KEEPALIVE std::size_t studio_example_size(std::size_t index) {
    return Studio::examples()[index].text.size();
}

// Puts a source file into the project folder (a name without folders), for INCLUDE to find.
EMSCRIPTEN_KEEPALIVE void studio_put_file(const char* name, std::size_t name_size, const char* text,
                                          std::size_t text_size) {
    write_file(project_folder / std::string(name, name_size), std::string_view(text, text_size));
}

// Assembles the project's file `name` into an 8 KiB ROM from 0000H. Returns 1 when it
// assembled; the errors, listing, symbols and line map are outputs, the ROM is studio_rom().
EMSCRIPTEN_KEEPALIVE int studio_assemble(const char* name, std::size_t name_size) {
    const Asm8080::Program program = Asm8080::assemble_file(
        project_folder / std::string(name, name_size), {.base = 0, .size = Drovask::rom_size});
    outputs[errors].clear();
    for (const Asm8080::Diagnostic& error : program.errors) {
        const std::string file = std::filesystem::path(error.file).filename();
        outputs[errors] += std::to_string(error.line) + '\t' + file + '\t' + error.message + '\n';
    }
    outputs[listing] = Asm8080::format_listing(program);
    outputs[symbols] = Formats::format_symbol_file(program.symbols, program.values);
    outputs[lines] = Formats::format_line_map(Asm8080::line_map_of(program));
    assembled = program.ok() && program.image.size() == rom.size();
    if (assembled) {
        std::copy(program.image.begin(), program.image.end(), rom.begin());
        rom_symbols = Formats::parse_symbol_file(outputs[symbols], "symbols");
    }
    return assembled ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* studio_rom() {
    return rom.data();
}

// The machine at power-on with the last ROM assembled, no breakpoint, no watch, no key held.
EMSCRIPTEN_KEEPALIVE int studio_reset() {
    if (!assembled) {
        outputs[message] = "Assemble a program first: there is no ROM yet.";
        return 0;
    }
    debugger = std::make_unique<Studio::Debugger>(rom);
    return 1;
}

EMSCRIPTEN_KEEPALIVE int studio_step() {
    return on_machine([](Studio::Debugger& d) { return d.step(); });
}

EMSCRIPTEN_KEEPALIVE int studio_step_over(std::uint32_t max_frames) {
    return on_machine([=](Studio::Debugger& d) { return d.step_over(max_frames); });
}

EMSCRIPTEN_KEEPALIVE int studio_run_frames(std::uint32_t count) {
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

EMSCRIPTEN_KEEPALIVE void studio_clear_watches() {
    if (debugger) {
        debugger->clear_watches();
    }
}

// `key` is one of the machine's keys ('C', 'Q', 'E', 'A', 'D', 'S').
EMSCRIPTEN_KEEPALIVE void studio_key(char key, bool down) {
    if (debugger) {
        debugger->key(key, down);
    }
}

// Replays a key script from the machine's next frame on; returns 0 and says why when it is
// wrong.
EMSCRIPTEN_KEEPALIVE int studio_replay(const char* text, std::size_t size) {
    if (!debugger) {
        outputs[message] = "Assemble a program first: there is no ROM yet.";
        return 0;
    }
    try {
        debugger->replay(Formats::parse_key_script(std::string_view(text, size), "key script"));
        return 1;
    } catch (const Tavrin::Exception& exception) {
        outputs[message] = exception.message;
        return 0;
    }
}

EMSCRIPTEN_KEEPALIVE void studio_make_recording() {
    outputs[recording] = debugger ? debugger->recording() : std::string();
}

// PC, A, BC, DE, HL, SP, flags, interrupts enabled, frames, instructions (low and high 32 bits),
// instructions since the last interrupt, interrupts in this frame.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* studio_state() {
    static std::array<std::uint32_t, 13> state;
    if (!debugger) {
        return nullptr;
    }
    const Intel_8080& p = debugger->board().processor;
    state = {p.pc,
             p.a,
             static_cast<std::uint32_t>(p.b << 8 | p.c),
             static_cast<std::uint32_t>(p.d << 8 | p.e),
             static_cast<std::uint32_t>(p.h << 8 | p.l),
             p.sp,
             p.flags,
             p.interrupts_enabled ? 1u : 0u,
             static_cast<std::uint32_t>(debugger->frames()),
             static_cast<std::uint32_t>(debugger->instructions()),
             static_cast<std::uint32_t>(debugger->instructions() >> 32),
             debugger->period_position(),
             static_cast<std::uint32_t>(debugger->frame_position())};
    return state.data();
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

// `count` instructions from `address`, with the last assembly's names: an output.
EMSCRIPTEN_KEEPALIVE void studio_disassemble(std::uint16_t address, std::uint32_t count) {
    outputs[disassembly].clear();
    if (!debugger) {
        return;
    }
    const auto& memory = debugger->board().processor.memory;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::array<std::uint8_t, 3> bytes{memory[address],
                                                memory[static_cast<std::uint16_t>(address + 1)],
                                                memory[static_cast<std::uint16_t>(address + 2)]};
        const Asm8080::Disassembly line = Asm8080::disassemble(bytes, &rom_symbols);
        std::string bytes_text;
        for (std::size_t b = 0; b < line.size; ++b) {
            bytes_text += hex(bytes[b], 2) + ' ';
        }
        outputs[disassembly] += hex(address, 4) + '\t' + bytes_text + '\t' + line.text + '\n';
        address = static_cast<std::uint16_t>(address + line.size);
    }
}

} // extern "C"
