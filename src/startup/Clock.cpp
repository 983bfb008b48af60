#include "startup/Clock.h"

#include <thread>

#include "startup/Worker.h"

namespace morvia {
namespace {

class SteadyClock : public Clock {
public:
    time_point now() const override { return std::chrono::steady_clock::now(); }
    bool sleep(Worker& worker, duration d) override {
        if (worker.onThread()) return worker.sleepFor(d);
        return realSleep(d);
    }
    bool delay(duration d, const Wait& wait) override { return wait(d > duration::zero() ? d : duration::zero()); }
};

}  // namespace

void Clock::sleepFor(duration d) { delay(d, realSleep); }

bool Clock::realSleep(duration d) {
    if (d > duration::zero()) std::this_thread::sleep_for(d);
    return true;
}

std::shared_ptr<Clock> Clock::steady() {
    static const auto clock = std::make_shared<SteadyClock>();
    return clock;
}

}  // namespace morvia
