#include "window/ActionQueue.h"

#include <stdexcept>
#include <string>

#include "startup/Require.h"
#include "startup/Utils.h"

namespace morvia {

ActionQueue::ActionQueue() = default;

ActionQueue::~ActionQueue() {
    try {
        stop();
    } catch (...) {
        // A destructor never throws; a failed join leaves nothing to clean.
    }
}

void ActionQueue::start() {
    worker_.start([this](std::stop_token) { run(); });
}

void ActionQueue::stop() {
    require(!worker_.onThread(), worker_.name().c_str(), "stopped from one of its own jobs (it would wait for itself)");
    // The stop wakes the worker; it still runs every job already queued. A
    // worker that never started never starts now.
    worker_.stop();
    {
        std::lock_guard g(lock_);
        jobs_.clear();  // what waited for a worker that never ran
    }
    idle_.notify_all();
}

bool ActionQueue::post(Job job) {
    if (!job) return false;
    {
        std::lock_guard g(lock_);
        // Read under the lock the worker checks its queue under: a job
        // accepted here is one the worker still finds before it ends.
        if (worker_.stopRequested()) return false;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

void ActionQueue::drain() {
    std::unique_lock g(lock_);
    if (worker_.state() == Worker::State::idle || worker_.onThread()) return;
    idle_.wait(g, [this] { return (jobs_.empty() && !busy_) || finished_; });
}

bool ActionQueue::onWorker() const { return worker_.onThread(); }

void ActionQueue::requireOnWorker(const char* why) const { require(onWorker(), worker_.name().c_str(), why); }

std::size_t ActionQueue::pending() const {
    std::lock_guard g(lock_);
    return jobs_.size();
}

bool ActionQueue::idle() const {
    std::lock_guard g(lock_);
    return jobs_.empty() && !busy_;
}

void ActionQueue::setErrorHandler(std::function<void(std::exception_ptr)> handler) {
    std::lock_guard g(lock_);
    onError_ = std::move(handler);
}

void ActionQueue::run() {
    std::unique_lock g(lock_);
    for (;;) {
        // A stop ends the wait; what is queued still runs before the loop ends.
        worker_.waitFor(wake_, g, [this] { return !jobs_.empty(); });
        if (jobs_.empty()) break;  // stopping and nothing left
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        g.unlock();
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        job = nullptr;  // release captures outside the lock, before the next job
        g.lock();
        if (failure) {
            auto handler = onError_;
            g.unlock();
            try {
                if (handler) {
                    handler(failure);
                } else {
                    std::rethrow_exception(failure);
                }
            } catch (const std::exception& e) {
                Utils::OutLine(std::string("Action failed: ") + e.what());
            } catch (...) {
                Utils::OutLine("Action failed");
            }
            g.lock();
        }
        busy_ = false;
        if (jobs_.empty()) idle_.notify_all();
    }
    busy_ = false;
    finished_ = true;
    idle_.notify_all();
}

}  // namespace morvia
