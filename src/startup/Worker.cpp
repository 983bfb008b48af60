#include "startup/Worker.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>
#include <exception>

#include "startup/Require.h"
#include "startup/Utils.h"

#include "startup/Clock.h"

namespace morvia {

Worker::Worker(std::string name) : name_(std::move(name)) {}

Worker::~Worker() { stop(); }

bool Worker::start(Body body) {
    std::lock_guard<std::mutex> g(lock_);
    if (state_.load() != State::idle) return false;
    running_.store(true);
    state_.store(State::running);
    thread_ = std::jthread([this, body = std::move(body)](std::stop_token token) {
        { std::lock_guard<std::mutex> stored(lock_); }
        const std::string shortName = name_.substr(0, 15);
        pthread_setname_np(pthread_self(), shortName.c_str());
        runBody(body, token);
        running_.store(false);
    });
    id_.store(thread_.get_id());
    return true;
}

void Worker::runBody(const Body& body, std::stop_token token) {
    try {
        body(token);
    } catch (const std::exception& e) {
        Utils::OutLine(name_ + ": " + e.what());
    } catch (...) {
        Utils::OutLine(name_ + ": unknown exception");
    }
}

void Worker::requestStop() {
    {
        std::lock_guard<std::mutex> g(lock_);
        const State s = state_.load();
        if (s == State::idle) {
            state_.store(State::stopped);  // it never starts now
            return;
        }
        if (s != State::running) return;
        state_.store(State::stopping);
    }
    // Outside the lock: the stop token's callbacks wake a waitFor.
    thread_.request_stop();
    // After the stop is visible: a sleeper that read the word before its
    // stop check sees it changed and does not wait.
    wakeWord_.fetch_add(1);
    ::syscall(SYS_futex, reinterpret_cast<int*>(&wakeWord_), FUTEX_WAKE_PRIVATE, 1 << 30, nullptr, nullptr, 0);
}

void Worker::stop() {
    std::unique_lock<std::mutex> g(lock_);
    if (state_.load() == State::idle) state_.store(State::stopped);
    if (state_.load() == State::stopped) return;
    require(!onThread(), name_.c_str(), "stopped from its own thread (it would wait for itself)");
    if (joining_) {
        joined_.wait(g, [this] { return state_.load() == State::stopped; });
        return;
    }
    joining_ = true;
    g.unlock();
    requestStop();
    thread_.join();
    g.lock();
    id_.store(std::thread::id{});
    state_.store(State::stopped);
    joined_.notify_all();
}

bool Worker::stopRequested() const {
    const State s = state_.load();
    return s == State::stopping || s == State::stopped;
}

bool Worker::onThread() const { return id_.load() == std::this_thread::get_id(); }

void Worker::requireOnThread(const char* why) const { require(onThread(), name_.c_str(), why); }

bool Worker::sleepFor(std::chrono::steady_clock::duration d) {
    const std::stop_token token = thread_.get_stop_token();
    const auto& clock = *Clock::steady();
    const auto deadline = clock.now() + d;
    while (true) {
        // Read before the stop check: a stop after the check changes the
        // word, so the wait below returns at once instead of sleeping.
        const int seen = wakeWord_.load();
        if (token.stop_requested()) return false;
        const auto left = deadline - clock.now();
        if (left <= Clock::duration::zero()) return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        ::syscall(SYS_futex, reinterpret_cast<int*>(&wakeWord_), FUTEX_WAIT_PRIVATE, seen, &ts, nullptr, 0);
        // Woken, interrupted or timed out: the loop tells which.
    }
}

}  // namespace morvia
