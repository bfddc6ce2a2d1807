#include "machine/inspector.hpp"

namespace Drovask {

const char* stop_reason_name(Stop_Reason reason) {
    switch (reason) {
    case Stop_Reason::done:
        return "done";
    case Stop_Reason::breakpoint:
        return "breakpoint";
    case Stop_Reason::watch:
        return "watch";
    case Stop_Reason::limit:
        return "limit";
    case Stop_Reason::fault:
        return "fault";
    }
    return "?";
}

void Inspector::add_watch(std::uint16_t first, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length && i < 65536; ++i) {
        watched_[static_cast<std::uint16_t>(first + i)] = true;
    }
}

} // namespace Drovask
