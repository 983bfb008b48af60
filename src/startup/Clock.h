// The one clock of the program. Code that reads the time or waits takes a
// Clock: the link's cycle and reply wait, the controller's delays and its
// status hold, the client connections' stall timer. The steady clock reads
// and sleeps for real; tests hand in clocks of their own (a stepped clock
// that moves only when asked, one that records every delay), so that long
// sequences run at once and are asserted exactly.
//
// Thread-safety: every member of the steady clock may be called from any
// thread; a test clock says what it allows.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace morvia {

class Worker;

class Clock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;
    // Sleeps at most the time it is given; false when something cut it short.
    using Wait = std::function<bool(duration)>;

    virtual ~Clock() = default;
    virtual time_point now() const = 0;
    // Sleeps `d` on the calling thread; on `worker`'s own thread a stop cuts
    // the sleep short, and the result is false then.
    virtual bool sleep(Worker& worker, duration d) = 0;
    // A delay of `d` that something else may cut short through `wait`. The
    // steady clock hands `wait` the whole delay; a test clock takes the delay
    // in its own time and hands `wait` zero, so that a cut asked for
    // meanwhile still counts. Returns what `wait` returned.
    virtual bool delay(duration d, const Wait& wait) = 0;
    // A delay nothing cuts short.
    void sleepFor(duration d);

    // The real clock: std::chrono::steady_clock, sleeping for real.
    static std::shared_ptr<Clock> steady();
    // Waits for real at most `d` (the steady clock's own wait, for Wait
    // functions that have nothing to wake them).
    static bool realSleep(duration d);
};

}  // namespace morvia
