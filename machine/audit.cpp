#include "machine/audit.hpp"

#include "formats/hex.hpp"

#include <ostream>

namespace Drovask {

namespace {

const char* kind_name(Fault_Kind kind) {
    switch (kind) {
    case Fault_Kind::dropped_store:
        return "stores dropped outside RAM";
    case Fault_Kind::rom_store:
        return "stores through HL into the ROM";
    case Fault_Kind::store_above_ram:
        return "stores through HL above RAM";
    case Fault_Kind::ignored_input_port:
        return "INs from ignored ports";
    case Fault_Kind::ignored_output_port:
        return "OUTs to ignored ports";
    case Fault_Kind::stack_outside_ram:
        return "changes of SP to outside RAM";
    }
    return "?";
}

} // namespace

std::string describe(const Fault& fault) {
    const std::string where =
        (fault.at_interrupt ? "interrupt at PC " : "PC ") + Formats::hex(fault.pc, 4);
    const std::string address = Formats::hex(fault.address, 4);
    const std::string ram = Formats::hex(writable_start, 4) + "-" + Formats::hex(writable_end, 4);
    switch (fault.kind) {
    case Fault_Kind::dropped_store:
        return where + ": store to " + address + " dropped (outside RAM, " + ram + ")";
    case Fault_Kind::rom_store:
        return where + ": store through HL into the ROM at " + address;
    case Fault_Kind::store_above_ram:
        return where + ": store through HL above RAM at " + address;
    case Fault_Kind::ignored_input_port:
        return where + ": IN from port " + std::to_string(fault.address) +
               ", which the machine ignores";
    case Fault_Kind::ignored_output_port:
        return where + ": OUT to port " + std::to_string(fault.address) +
               ", which the machine ignores";
    case Fault_Kind::stack_outside_ram:
        return where + ": SP left RAM (" + ram + "): " + address;
    }
    return where;
}

void Audit::record(const Fault& fault) {
    ++total_;
    ++counts_[static_cast<std::size_t>(fault.kind)];
    const std::uint64_t key = std::uint64_t{static_cast<std::uint8_t>(fault.kind)} << 40 |
                              std::uint64_t{fault.at_interrupt} << 32 |
                              std::uint64_t{fault.pc} << 16 | fault.address;
    if (const auto found = index_.find(key); found != index_.end()) {
        ++entries_[found->second].times;
    } else if (entries_.size() < max_entries) {
        index_.emplace(key, entries_.size());
        entries_.push_back({fault, 1});
    }
}

void Audit::report(std::ostream& out, std::size_t max_lines) const {
    if (total_ == 0) {
        out << "audit: nothing to report\n";
        return;
    }
    std::size_t lines = 0;
    for (const Entry& entry : entries_) {
        if (lines++ == max_lines) {
            break;
        }
        out << describe(entry.fault);
        if (entry.times > 1) {
            out << " (" << entry.times << " times)";
        }
        out << '\n';
    }
    if (entries_.size() > max_lines) {
        out << "... and " << entries_.size() - max_lines << " more distinct faults\n";
    }
    out << "audit: " << total_ << (total_ == 1 ? " fault:" : " faults:");
    const char* separator = " ";
    for (std::size_t kind = 0; kind < fault_kind_count; ++kind) {
        if (counts_[kind] != 0) {
            out << separator << counts_[kind] << ' ' << kind_name(static_cast<Fault_Kind>(kind));
            separator = ", ";
        }
    }
    out << '\n';
}

} // namespace Drovask
