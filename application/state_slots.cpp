#include "application/state_slots.hpp"

#include "base/exception.hpp"
#include "formats/state_file.hpp"
#include "tools/files/input_file.hpp"
#include "tools/files/messages.hpp"
#include "tools/files/output_file.hpp"

#include <cstdio>
#include <string>
#include <system_error>

namespace {

// One byte more than a state file of this version has: a longer one is damaged.
constexpr std::size_t state_file_limit = 1 << 17;

} // namespace

State_Slots::State_Slots(const std::filesystem::path& rom)
    : folder_(rom.parent_path()), stem_(rom.stem().string()) {}

std::filesystem::path State_Slots::path(unsigned slot) const {
    return folder_ /
           (stem_ + "." + std::to_string(slot) + std::string(Formats::state_file_extension));
}

void State_Slots::save(unsigned slot, const Drovask::Session& session, Drovask::Rom rom) const {
    write_file(path(slot), Formats::format_state_file(session, rom));
}

Drovask::Session::State State_Slots::load(unsigned slot, Drovask::Rom rom,
                                          std::uint32_t instructions_per_interrupt) const {
    const std::filesystem::path file = path(slot);
    const std::string name = Tools::printable(file.string());
    const Tools::Input input = Tools::read_at_most(file, state_file_limit);
    if (input.error == std::errc::no_such_file_or_directory) {
        throw Tavrin::Exception{"slot " + std::to_string(slot) + " (" + name +
                                ") is empty; save a state in it first"};
    }
    if (input.error) {
        throw Tavrin::Exception{"cannot read " + name + ": " + input.error.message()};
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.bytes.data());
    return Formats::parse_state_file({bytes, input.bytes.size()}, rom, instructions_per_interrupt,
                                     name);
}

void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    Tools::Output_File file(path);
    std::fwrite(bytes.data(), 1, bytes.size(), file.stream()); // commit finds a failed write
    file.commit();
}
