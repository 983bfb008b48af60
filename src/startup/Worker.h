// One thread with one owner. Every thread of the program and of the
// simulator runs through a Worker: the owner starts it, asks it to stop and
// joins it; the thread's body sees the stop through its stop token and
// sleeps through sleepFor, which a stop cuts short.
//
// Thread rule: start, stop and the destructor belong to the owner and are
// never called from the worker's own thread (that would wait for itself);
// such a call is a programming fault and ends the process with a message.
// requestStop, stopRequested, running and onThread may be called from any
// thread. sleepFor and waitFor belong to the worker's own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace morvia {

// Ends the process with "<what>: <why>" on standard error when `ok` is
// false. For thread rules and other invariants that must hold in every
// build, not only in debug ones.
void require(bool ok, const char* what, const char* why);

class Worker {
public:
    using Body = std::function<void(std::stop_token)>;

    // `name` appears in fault messages and, shortened to 15 bytes, as the
    // thread's name in debuggers and `top -H`.
    explicit Worker(std::string name);
    ~Worker();  // stop()
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts the thread on `body`. Starting a worker that runs, or one that
    // stopped, is a fault: a worker runs once.
    void start(Body body);
    // Asks the body to end: its stop token reports the stop and a sleepFor
    // or waitFor under way returns at once. Never blocks.
    void requestStop();
    // requestStop, then waits for the body to return. Does nothing for a
    // worker that never started or was already joined.
    void stop();

    bool stopRequested() const;
    // True from start until the body has returned.
    bool running() const { return running_.load(); }
    // True on the worker's own thread.
    bool onThread() const;
    // The fault "<name>: <why>" unless the caller is on this worker's thread.
    void requireOnThread(const char* why) const;

    // On the worker's thread: sleeps for `d`. False when a stop cut the sleep
    // short (or was requested before it).
    bool sleepFor(std::chrono::steady_clock::duration d);
    // On the worker's thread: waits on `cv` (with `lock` held) until `ready`
    // holds or a stop is requested. Returns ready(). The notifier must
    // notify `cv` after changing what `ready` reads under the same mutex.
    template <class Lock, class Pred>
    bool waitFor(std::condition_variable_any& cv, Lock& lock, Pred ready) {
        return cv.wait(lock, thread_.get_stop_token(), ready);
    }

    const std::string& name() const { return name_; }

private:
    const std::string name_;
    std::atomic<bool> running_{false};
    bool started_ = false;  // owner only
    // Bumped by requestStop; sleepFor waits on it (a futex), so a sleep costs
    // one system call per wake-up, which matters at the link's cycle rate,
    // and a stop still ends it at once.
    std::atomic<int> wakeWord_{0};
    // Held by start() while it stores the thread; the body waits for it, so
    // that the body's own onThread()/stop() see the stored thread.
    std::mutex startLock_;
    std::jthread thread_;
};

}  // namespace morvia
