// Time as the player link sees it: the cycle pause, the reply wait, and the
// silence and reopen timers. The link thread sleeps only through its clock,
// so a test can run the link on a clock of its own instead of the real
// 30 ms cycle.
#pragma once

#include <chrono>
#include <memory>

#include "startup/Worker.h"

namespace morvia {

class LinkClock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;

    virtual ~LinkClock() = default;
    virtual time_point now() const = 0;
    // Sleeps `d` on the calling thread; on `worker`'s own thread a stop cuts
    // the sleep short, and the result is false then.
    virtual bool sleep(Worker& worker, duration d) = 0;

    // The steady clock; sleeps for real.
    static std::shared_ptr<LinkClock> steady();
};

}  // namespace morvia
