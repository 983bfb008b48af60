// One thread with one owner. Every thread of the program and of the
// simulator runs through a Worker: the owner starts it, asks it to stop and
// joins it; the thread's body sees the stop through its stop token and
// sleeps through sleepFor, which a stop cuts short.
//
// The worker keeps its own lifecycle (State): idle until started, running,
// stopping once a stop was asked for, stopped once joined (or stopped before
// it ever started: it never starts then). start and stop may be called from
// any thread, any number of times: only the first start starts the body, and
// every stop returns once the body has returned. Owners keep no flag of their
// own around them.
//
// Thread rule: stop and the destructor wait for the body, so they are never
// called from the worker's own thread (that would wait for itself); such a
// call is a programming fault and ends the process with a message.
// requestStop, stopRequested, state, running and onThread may be called from
// any thread. sleepFor and waitFor belong to the worker's own thread.
//
// An exception that escapes the body ends the body, not the process: the
// console gets "<name>: <what>".
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

class Worker {
public:
    using Body = std::function<void(std::stop_token)>;
    enum class State { idle, running, stopping, stopped };

    // `name` appears in fault messages and, shortened to 15 bytes, as the
    // thread's name in debuggers and `top -H`.
    explicit Worker(std::string name);
    ~Worker();  // stop()
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts the thread on `body` when the worker is idle; true when this
    // call started it. A worker runs once: a later start does nothing.
    bool start(Body body);
    // Asks the body to end: its stop token reports the stop and a sleepFor
    // or waitFor under way returns at once. Never blocks. A worker asked to
    // stop before it started never starts.
    void requestStop();
    // requestStop, then waits until the body has returned and the thread is
    // joined (also when another thread's stop is joining it).
    void stop();

    State state() const { return state_.load(); }
    // True once a stop was asked for (stopping or stopped).
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
    // The body and the catch-all around it.
    void runBody(const Body& body, std::stop_token token);

    const std::string name_;
    std::atomic<bool> running_{false};
    // Written under lock_; read without it.
    std::atomic<State> state_{State::idle};
    bool joining_ = false;  // under lock_: one stop joins, the others wait for it
    // Bumped by requestStop; sleepFor waits on it (a futex), so a sleep costs
    // one system call per wake-up, which matters at the link's cycle rate,
    // and a stop still ends it at once.
    std::atomic<int> wakeWord_{0};
    // The thread's id while it may run (any thread compares with it).
    std::atomic<std::thread::id> id_{};
    // Guards the lifecycle (state_, joining_, storing thread_). Held by
    // start() while it stores the thread; the body waits for it, so that the
    // body's own onThread() sees the stored thread. Never held while joining.
    std::mutex lock_;
    std::condition_variable joined_;  // a stop waiting for another's join
    std::jthread thread_;
};

}  // namespace morvia
