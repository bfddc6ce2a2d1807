#pragma once

// The audit: what a program does wrong that the screen does not show (stores outside RAM, the
// stack leaving RAM, ports that nothing answers), found by looking at each step of the machine.
// The rules are pure functions of the step, for every host that runs the machine looking at each
// instruction (drovask-run's audit, drovask-dap's exception filters, the studio's warnings);
// `Audit` keeps what a run met.
//
//     if (const auto fault = Drovask::stack_fault(sp_before, p.sp, pc, false)) {
//         audit.record(*fault);      // each distinct fault once, with its count
//     }
//     Drovask::describe(*fault);     // "PC 0123: SP left RAM (2000-3FFF): 4002"

#include "machine/board.hpp"
#include "processor/opcodes.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace Drovask {

enum class Fault_Kind : std::uint8_t {
    dropped_store,       // a guarded store (or an interrupt's push) outside RAM: dropped
    rom_store,           // a store through HL (MOV M, MVI M, INR M, DCR M) into the ROM
    store_above_ram,     // a store through HL above RAM
    ignored_input_port,  // IN from a port that the machine does not answer
    ignored_output_port, // OUT to a port that the machine does not answer
    stack_outside_ram,   // SP changed to a value outside RAM
};
inline constexpr std::size_t fault_kind_count = 6;

struct Fault {
    Fault_Kind kind;
    std::uint16_t pc;      // the instruction's address; at an interrupt, the interrupted PC
    std::uint16_t address; // the store's address, the port, or the new SP
    bool at_interrupt = false;

    bool operator==(const Fault&) const = default;
};

// One line of text for a fault, such as "PC 0123: store to 1FFF dropped (outside RAM,
// 2000-3FFF)".
std::string describe(const Fault& fault);

// The audit's rules, inline: a debugger applies them at every instruction. A store that the
// processor's store observer heard, made by the instruction at `pc` or by the entry of the
// interrupt that came at `pc`:
inline std::optional<Fault> store_fault(const Intel_8080& p, std::uint16_t address, Store store,
                                        std::uint16_t pc, bool at_interrupt) {
    if (store == Store::dropped) {
        return Fault{Fault_Kind::dropped_store, pc, address, at_interrupt};
    }
    if (store == Store::unguarded && address < p.writable_start) {
        return Fault{Fault_Kind::rom_store, pc, address};
    }
    if (store == Store::unguarded && address > p.writable_end) {
        return Fault{Fault_Kind::store_above_ram, pc, address};
    }
    return std::nullopt;
}

// The instruction at `pc`, whose bytes were `bytes` before it ran: an IN or OUT that no port
// answers.
inline std::optional<Fault> port_fault(const std::array<std::uint8_t, 3>& bytes, std::uint16_t pc) {
    if (bytes[0] == opcodes::in && !is_input_port(bytes[1])) {
        return Fault{Fault_Kind::ignored_input_port, pc, bytes[1]};
    }
    if (bytes[0] == opcodes::out && !is_output_port(bytes[1])) {
        return Fault{Fault_Kind::ignored_output_port, pc, bytes[1]};
    }
    return std::nullopt;
}

// An instruction or an interrupt's entry that changed SP from `sp_before` to `sp_after`: to a
// place outside RAM. SP may stand anywhere from the bottom of RAM to just past its top (an empty
// stack).
inline std::optional<Fault> stack_fault(std::uint16_t sp_before, std::uint16_t sp_after,
                                        std::uint16_t pc, bool at_interrupt) {
    if (sp_after != sp_before && (sp_after < writable_start || sp_after > writable_end + 1)) {
        return Fault{Fault_Kind::stack_outside_ram, pc, sp_after, at_interrupt};
    }
    return std::nullopt;
}

// The faults of a run: a count per kind and each distinct fault with the number of times it
// happened, in the order of first occurrence.
class Audit {
public:
    void record(const Fault& fault);

    std::uint64_t total() const { return total_; }
    std::uint64_t count(Fault_Kind kind) const { return counts_[static_cast<std::size_t>(kind)]; }

    struct Entry {
        Fault fault;
        std::uint64_t times;
    };
    const std::vector<Entry>& entries() const { return entries_; }

    // A line per distinct fault (at most `max_lines`, then how many more there are), then the
    // counts. Says so when there was nothing to report.
    void report(std::ostream& out, std::size_t max_lines = 200) const;

private:
    // Distinct faults kept; beyond this many, faults are only counted.
    static constexpr std::size_t max_entries = 100000;

    std::uint64_t total_ = 0;
    std::array<std::uint64_t, fault_kind_count> counts_{};
    std::vector<Entry> entries_;
    std::unordered_map<std::uint64_t, std::size_t> index_;
};

} // namespace Drovask
