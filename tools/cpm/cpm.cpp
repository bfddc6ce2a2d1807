#include "tools/cpm/cpm.hpp"

#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "processor/opcodes.hpp"
#include "tools/files/input_file.hpp"

#include <charconv>

namespace Cpm {

namespace {

std::string hex_word(unsigned value) {
    return "0x" + Formats::hex(value, 4);
}

void print(char character, Result& result, std::ostream* echo) {
    result.output.push_back(character);
    if (echo != nullptr) {
        echo->put(character);
        if (character == '\n') {
            echo->flush();
        }
    }
}

// The length of the string for BDOS function 9 at `start`, up to its '$' (memory wraps round),
// or nothing when no byte of memory is a '$'.
std::optional<std::size_t> string_length(const Intel_8080& p, std::uint16_t start) {
    for (std::size_t length = 0; length < p.memory.size(); ++length) {
        if (p.memory[(start + length) % p.memory.size()] == '$') {
            return length;
        }
    }
    return std::nullopt;
}

// Answers the BDOS call at 0x0005 and returns as RET would. Returns false for function 0, which
// ends the program.
bool call_bdos(Intel_8080& p, Result& result, std::ostream* echo) {
    switch (p.c) {
    case 0:
        return false;
    case 2:
        print(static_cast<char>(p.e), result, echo);
        break;
    case 9: {
        const std::uint16_t start = get_de(p);
        const auto length = string_length(p, start);
        if (!length) {
            throw Tavrin::Exception{"The string printed by BDOS function 9 from " +
                                    hex_word(start) + " has no terminating '$'."};
        }
        for (std::size_t k = 0; k < *length; ++k) {
            print(static_cast<char>(p.memory[(start + k) % p.memory.size()]), result, echo);
        }
        break;
    }
    default:
        throw Tavrin::Exception{"The program called BDOS function " + std::to_string(p.c) +
                                ", which this runner does not provide (only 0, 2 and 9)."};
    }
    p.pc = pop(p);
    return true;
}

// Names where a failure happened: the address of the instruction and how far the run had got.
void locate(Tavrin::Exception& error, std::uint16_t address, std::uint64_t instructions) {
    error.message = "At " + hex_word(address) + " after " + std::to_string(instructions) +
                    " instructions: " + error.message;
}

} // namespace

std::vector<std::uint8_t> load_program(const std::filesystem::path& path) {
    const Tools::Input input = Tools::read_at_most(path, max_program_size);
    const std::string name = "\"" + path.string() + "\"";
    if (input.error) {
        throw Tavrin::Exception{"Could not open " + name + ": " + input.error.message() + "."};
    }
    if (input.longer) {
        throw Tavrin::Exception{name + " is larger than the " + std::to_string(max_program_size) +
                                " bytes of the transient program area."};
    }
    if (input.bytes.empty()) {
        throw Tavrin::Exception{name + " is empty."};
    }
    return {input.bytes.begin(), input.bytes.end()};
}

std::unique_ptr<Intel_8080> make_processor(std::span<const std::uint8_t> program) {
    if (program.size() > max_program_size) {
        throw Tavrin::Exception{"The program has " + std::to_string(program.size()) +
                                " bytes; the transient program area holds " +
                                std::to_string(max_program_size) + "."};
    }
    auto processor = std::make_unique<Intel_8080>();
    Intel_8080& p = *processor;
    p.writable_start = 0x0000;
    p.writable_end = 0xFFFF;
    p.memory[0x0000] = opcodes::hlt; // never executed: reaching 0x0000 ends the run
    p.memory[bdos_entry] = opcodes::jmp;
    p.memory[bdos_entry + 1] = static_cast<std::uint8_t>(bdos_base);
    p.memory[bdos_entry + 2] = static_cast<std::uint8_t>(bdos_base >> 8);
    p.memory[bdos_base] = opcodes::ret;
    std::copy(program.begin(), program.end(), p.memory.begin() + load_address);
    p.pc = load_address;
    // A return from the program's top level lands on the warm start at 0x0000.
    p.sp = initial_stack;
    push(p, 0x0000);
    return processor;
}

std::optional<std::uint64_t> parse_limit(std::string_view text) {
    std::uint64_t limit = 0;
    const char* end = text.data() + text.size();
    // from_chars takes no sign, no space and no base prefix for an unsigned number.
    const auto [last, error] = std::from_chars(text.data(), end, limit);
    if (text.empty() || error != std::errc() || last != end || limit == 0) {
        return std::nullopt;
    }
    return limit;
}

Result run(Intel_8080& p, std::uint64_t limit, std::ostream* echo) {
    Result result{{}, 0, false};
    // Counted in a local rather than in `result`, which lives in the caller's memory: a count kept
    // there would be stored and loaded again at every instruction, each step waiting for the last.
    std::uint64_t instructions = 0;
    std::uint16_t last = p.pc; // the instruction that reached the BDOS entry
    try {
        while (instructions < limit) {
            if (p.pc == 0x0000) {
                result.finished = true;
                break;
            }
            if (p.pc == bdos_entry) {
                if (!call_bdos(p, result, echo)) {
                    result.finished = true;
                    break;
                }
                ++instructions;
                continue;
            }
            // The program's own instructions up to its next BDOS call or its end, in a loop of
            // their own: with nothing else in it, the compiler keeps the processor's registers in
            // machine registers from one instruction to the next. One comparison stops it at both
            // addresses (and at the four between them, which the loop above then runs one by one).
            static_assert(bdos_entry > 0x0000);
            do {
                last = p.pc;
                execute(p);
                ++instructions;
            } while (p.pc > bdos_entry && instructions < limit);
        }
    } catch (Tavrin::Exception& error) {
        locate(error, last, instructions);
        throw;
    }
    result.instructions = instructions;
    return result;
}

} // namespace Cpm
