#pragma once

// drovask-play's saved states: a few numbered slots, each a state file (.tmstate) beside the ROM
// file it plays, named after it: demo.bin's slot 2 is demo.2.tmstate in demo.bin's folder (for a
// ROM in several files, beside the first). A slot is written through Tools::Output_File, so it
// is either the old state or the whole new one, never a part.
//
//     const State_Slots slots("roms/demo.bin");
//     slots.save(2, session, rom);          // roms/demo.2.tmstate
//     session.restore(slots.load(2, rom, session.instructions_per_interrupt()));
//
// Both throw Tavrin::Exception with what is wrong and the slot's file: one that cannot be
// written, or read, or that Formats::parse_state_file refuses (cut short, damaged, another ROM).
// A load that throws leaves the session to go on as it was.

#include "machine/session.hpp"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

class State_Slots {
public:
    explicit State_Slots(const std::filesystem::path& rom);

    std::filesystem::path path(unsigned slot) const;

    void save(unsigned slot, const Drovask::Session& session, Drovask::Rom rom) const;
    Drovask::Session::State load(unsigned slot, Drovask::Rom rom,
                                 std::uint32_t instructions_per_interrupt) const;

private:
    std::filesystem::path folder_;
    std::string stem_;
};

// Writes `bytes` to `path` through Tools::Output_File. Throws Tavrin::Exception.
void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
