// A request to end long operations early, raised from any thread.
//
// Each raise moves a generation counter on. An operation remembers the
// generation it started at and ends at its next check once the counter has
// moved, so a request reaches exactly the operations already running; one
// started afterwards runs normally. latch() is the last request of the
// process (the window close): from then on every operation ends at its first
// check, also one that starts later. A wait through sleep() wakes at once
// when a request arrives.
//
// Thread-safety: every member may be called from any thread.
#pragma once

#include <condition_variable>
#include <mutex>

namespace morvia {

class StopSignal {
public:
    // The generation an operation starting now remembers.
    unsigned generation() const;
    // Ends every operation running now; later ones run normally.
    void raise();
    // Ends every operation running now and every later one.
    void latch();
    // True once a request arrived after `generation` was taken, or latched.
    bool raisedSince(unsigned generation) const;
    // Sleeps `ms` milliseconds through the shared delay (a test sleeper when
    // one is installed) unless a request after `generation` cuts the wait
    // short. False when the wait was cut or a request had already arrived.
    bool sleep(int ms, unsigned generation);
    // Sleeps `ms` milliseconds as sleep() does, cut short only by latch().
    // False when the wait was cut or the latch was already set.
    bool sleepUnlessLatched(int ms);

private:
    bool raisedLocked(unsigned generation) const { return latched_ || generation_ != generation; }

    mutable std::mutex lock_;
    std::condition_variable wake_;
    unsigned generation_ = 0;
    bool latched_ = false;
};

}  // namespace morvia
