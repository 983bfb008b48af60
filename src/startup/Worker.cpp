#include "startup/Worker.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>

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
    // The new thread may run before thread_ holds it; until then thread_
    // still has the stop state and id of an empty jthread, so a sleepFor or
    // onThread at the body's start would read the wrong one (and race with
    // the assignment). The thread waits for the assignment under sleepLock_.
    std::unique_lock<std::mutex> assigning(sleepLock_);
    thread_ = std::jthread([this, body = std::move(body)](std::stop_token token) {
        { std::lock_guard<std::mutex> assigned(sleepLock_); }
        const std::string shortName = name_.substr(0, 15);
        pthread_setname_np(pthread_self(), shortName.c_str());
        body(token);
        running_.store(false);
    });
}

void Worker::requestStop() {
    if (!thread_.get_stop_source().stop_possible()) return;
    // Taking the sleep lock orders the stop against a sleeper that has
    // checked its token but not yet begun to wait.
    {
        std::lock_guard<std::mutex> hold(sleepLock_);
        thread_.request_stop();
    }
    sleepCv_.notify_all();
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
    std::unique_lock<std::mutex> lock(sleepLock_);
    const bool stopped = sleepCv_.wait_for(lock, thread_.get_stop_token(), d, [] { return false; });
    (void)stopped;
    return !thread_.get_stop_token().stop_requested();
}

} // namespace morvia
