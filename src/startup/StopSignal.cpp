#include "startup/StopSignal.h"

#include <chrono>

#include "startup/Utils.h"

namespace morvia {

unsigned StopSignal::generation() const {
    std::lock_guard g(lock_);
    return generation_;
}

void StopSignal::raise() {
    {
        std::lock_guard g(lock_);
        ++generation_;  // wraps harmlessly: only equality is compared
    }
    wake_.notify_all();
}

void StopSignal::latch() {
    {
        std::lock_guard g(lock_);
        ++generation_;
        latched_ = true;
    }
    wake_.notify_all();
}

bool StopSignal::raisedSince(unsigned generation) const {
    std::lock_guard g(lock_);
    return raisedLocked(generation);
}

bool StopSignal::sleep(int ms, unsigned generation) {
    return Utils::DelayT(ms, [this, generation](int wait) {
        std::unique_lock g(lock_);
        return !wake_.wait_for(g, std::chrono::milliseconds(wait), [&] { return raisedLocked(generation); });
    });
}

bool StopSignal::sleepUnlessLatched(int ms) {
    return Utils::DelayT(ms, [this](int wait) {
        std::unique_lock g(lock_);
        return !wake_.wait_for(g, std::chrono::milliseconds(wait), [&] { return latched_; });
    });
}

}  // namespace morvia
