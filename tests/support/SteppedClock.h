// A clock for the player link in tests: every sleep moves its time on by the
// whole amount at once and pauses the thread only briefly for real, so a
// test sees many link cycles in little time and no timer of the link depends
// on how loaded the machine is.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "player/LinkClock.h"

namespace morvia::test {

class SteppedClock : public LinkClock {
public:
    explicit SteppedClock(duration realPause = std::chrono::milliseconds(1)) : realPause_(realPause) {}

    time_point now() const override { return time_point(duration(ticks_.load())); }
    bool sleep(Worker& worker, duration d) override {
        advance(d);
        if (!worker.onThread()) {
            std::this_thread::sleep_for(realPause_);
            return true;
        }
        return worker.sleepFor(realPause_);
    }
    // Moves time on without sleeping (a test's own wait).
    void advance(duration d) { ticks_.fetch_add(d.count()); }

private:
    const duration realPause_;
    // Starts well past the epoch, as a steady clock does.
    std::atomic<duration::rep> ticks_{std::chrono::duration_cast<duration>(std::chrono::hours(1)).count()};
};

}  // namespace morvia::test
