#include "machine/last_writers.hpp"

namespace Drovask {

void Last_Writers::start(const Session& session) {
    entries_.assign(std::size_t{1} << 16, Entry{0, 0, 0, Kind::never});
    at_ = session.instructions();
}

void Last_Writers::moved_to(std::uint64_t instructions) {
    // Back: the stores before that point are still the last before it. Forward past where the
    // table stood: a store in between may have come after any of them.
    const bool back = instructions < at_;
    for (Entry& entry : entries_) {
        if (!back || (entry.kind != Kind::never && entry.done_at() > instructions)) {
            entry.kind = Kind::unknown;
        }
    }
    at_ = instructions;
}

Last_Writers::Answer Last_Writers::find(std::uint16_t address, std::uint64_t now,
                                        std::uint64_t earliest) const {
    if (!started() || now > at_) {
        return {false, std::nullopt};
    }
    const Entry& entry = entries_[address];
    if (entry.kind == Kind::unknown || (entry.kind != Kind::never && entry.done_at() > now)) {
        return {false, std::nullopt};
    }
    if (entry.kind == Kind::never || entry.done_at() <= earliest) {
        return {true, std::nullopt};
    }
    return {true, Write{entry.frame, entry.instruction, entry.pc, entry.kind == Kind::interrupt}};
}

} // namespace Drovask
