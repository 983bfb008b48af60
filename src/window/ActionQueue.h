// A single worker thread that runs queued jobs one at a time, in the order
// they were posted. The windows hand every operator action (button press,
// Enter in a field, scroll, window close) to it, so long player operations
// block this thread and never the window's painting.
//
// Thread-safety: post() may be called from any thread, also from a job.
// start(), stop() and the destructor belong to the owner, which calls them
// from one thread; calling stop() from a job of this queue (it would wait for
// itself) is a programming fault that ends the process with a message.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

#include "startup/Worker.h"

namespace morvia {

class ActionQueue {
public:
    using Job = std::function<void()>;

    ActionQueue();
    ~ActionQueue();  // stop(): runs what is queued, then joins
    ActionQueue(const ActionQueue&) = delete;
    ActionQueue& operator=(const ActionQueue&) = delete;

    // Starts the worker. Jobs posted before start() wait for it.
    void start();
    // Refuses further jobs, lets the worker finish every job already queued,
    // then joins it. Does nothing when the worker never started or already
    // stopped. Never from a job (see the thread rule above).
    void stop();

    // Appends a job. False (job dropped) once stop() has begun.
    bool post(Job job);

    // Blocks until the queue is empty and no job runs (tests, orderly
    // shutdown). Returns at once when called from a job or before start().
    void drain();

    // True on the worker thread.
    bool onWorker() const;
    // The fault "action thread: <why>" unless the caller is a job of this
    // queue. For code that belongs to the action thread.
    void requireOnWorker(const char* why) const;
    // Jobs waiting (not counting the one that runs).
    std::size_t pending() const;
    // Nothing waits and nothing runs.
    bool idle() const;

    // What happens to an exception that leaves a job. The default prints one
    // console line and the worker goes on with the next job.
    void setErrorHandler(std::function<void(std::exception_ptr)> handler);

private:
    void run();

    mutable std::mutex lock_;
    std::condition_variable_any wake_;  // worker: a job arrived or stop
    std::condition_variable idle_;      // drain(): queue empty and nothing runs
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool finished_ = false;  // the worker left its loop
    std::function<void(std::exception_ptr)> onError_;
    Worker worker_{"action thread"};
};

}  // namespace morvia
