#pragma once

#include <chrono>
#include <cstdint>

namespace Tavrin {

// The steady clock as seconds: whole nanoseconds of the monotonic clock divided by 10^9.
inline double steady_seconds() {
    const std::int64_t nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count();
    return static_cast<double>(nanoseconds) / 1'000'000'000.0;
}

} // namespace Tavrin
