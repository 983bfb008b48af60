// A test clock whose time moves only when something sleeps on it or the test
// advances it. A sleep moves time on by the whole amount at once and pauses
// the thread for real only briefly (not at all with a zero pause), so a test
// sees many link cycles in little time, or steps the link's cycle itself
// with no thread at all, and no timer depends on how loaded the machine is.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "startup/Clock.h"
#include "startup/Worker.h"

namespace morvia::test {

class SteppedClock : public Clock {
public:
    explicit SteppedClock(duration realPause = std::chrono::milliseconds(1)) : realPause_(realPause) {}

    time_point now() const override { return time_point(duration(ticks_.load())); }
    bool sleep(Worker& worker, duration d) override {
        advance(d);
        if (worker.onThread()) return worker.sleepFor(realPause_);
        return realSleep(realPause_);
    }
    bool delay(duration d, const Wait& wait) override {
        advance(d);
        return wait(duration::zero());  // a cut asked for meanwhile still counts
    }
    // Moves time on without sleeping (a test's own wait).
    void advance(duration d) { ticks_.fetch_add(d.count()); }

private:
    const duration realPause_;
    // Starts well past the epoch, as a steady clock does.
    std::atomic<duration::rep> ticks_{std::chrono::duration_cast<duration>(std::chrono::hours(1)).count()};
};

}  // namespace morvia::test
