#include "startup/Worker.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "startup/Clock.h"

namespace morvia {

void require(bool ok, const char* what, const char* why) {
    if (ok) return;
    std::fprintf(stderr, "%s: %s\n", what, why);
    std::fflush(stderr);
    std::abort();
}

Worker::Worker(std::string name) : name_(std::move(name)) {}

Worker::~Worker() { stop(); }

void Worker::start(Body body) {
    require(!started_, name_.c_str(), "started twice");
    started_ = true;
    running_.store(true);
    std::lock_guard<std::mutex> storing(startLock_);
    thread_ = std::jthread([this, body = std::move(body)](std::stop_token token) {
        { std::lock_guard<std::mutex> stored(startLock_); }
        const std::string shortName = name_.substr(0, 15);
        pthread_setname_np(pthread_self(), shortName.c_str());
        body(token);
        running_.store(false);
    });
}

void Worker::requestStop() {
    if (!thread_.get_stop_source().stop_possible()) return;
    thread_.request_stop();
    // After the stop is visible: a sleeper that read the word before its
    // stop check sees it changed and does not wait.
    wakeWord_.fetch_add(1);
    ::syscall(SYS_futex, reinterpret_cast<int*>(&wakeWord_), FUTEX_WAKE_PRIVATE, 1 << 30, nullptr, nullptr, 0);
}

void Worker::stop() {
    if (!thread_.joinable()) return;
    require(!onThread(), name_.c_str(), "stopped from its own thread (it would wait for itself)");
    requestStop();
    thread_.join();
}

bool Worker::stopRequested() const { return thread_.get_stop_token().stop_requested(); }

bool Worker::onThread() const { return thread_.get_id() == std::this_thread::get_id(); }

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
