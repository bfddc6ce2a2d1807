#pragma once

// Paces the counted schedule to the real time that has passed, for a host that runs the machine
// in whole periods or frames once per window update (the browser's page, the ROM player): it
// says how many are due and keeps the rest of the time for the next call. It keeps no schedule
// of its own; the session runs what is due.
//
//     Drovask::Real_Time pace(Tavrin::steady_seconds());
//     for (std::uint32_t due = pace.due(now, Drovask::frame_interval); due > 0; --due) {
//         session.run_frame(keys);
//     }

#include "machine/board.hpp"

#include <cmath>
#include <cstdint>

namespace Drovask {

inline constexpr double frame_interval = interrupts_per_frame * interrupt_interval;

class Real_Time {
public:
    // A host that was not called for longer than this (a hidden page, a dragged window) goes on
    // from `now - max_catch_up` rather than running minutes of the machine at once.
    static constexpr double max_catch_up = 0.25; // seconds

    explicit Real_Time(double now = 0.0) : last_(now) {}

    // The schedule starts again from `now` (after a pause, say): nothing is due before it.
    void restart(double now) { last_ = now; }

    // How many whole `period`s `now` is past the last one counted, which moves on by them.
    std::uint32_t due(double now, double period) {
        if (!(now >= last_)) {
            // A clock that went back (a host that restarted its time base) starts again from
            // there; a time that is no number changes nothing.
            last_ = std::isnan(now) ? last_ : now;
            return 0;
        }
        if (now - last_ > max_catch_up) {
            last_ = now - max_catch_up;
        }
        // Counted rather than added up period by period, which would drift by rounding.
        const auto count = static_cast<std::uint32_t>((now - last_) / period);
        last_ += count * period;
        return count;
    }

private:
    double last_;
};

} // namespace Drovask
