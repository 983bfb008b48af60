// Runs jobs on the Qt thread, in the order they were posted, from any thread.
//
// The jobs sit in our own locked queue; an eventfd watched by a
// QSocketNotifier wakes the Qt thread, which then runs every job queued so
// far. Data therefore passes between threads only under our own mutex (no
// reliance on Qt's internal cross-thread posting), which keeps the hand-over
// visible to ThreadSanitizer.
#pragma once

#include <QObject>

#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include "startup/Posix.h"
#include "window/QtThread.h"

class QSocketNotifier;

namespace morvia {

class GuiQueue : public QObject {
    Q_OBJECT
public:
    // Construct on the Qt thread.
    explicit GuiQueue(QObject* parent = nullptr);
    ~GuiQueue() override;
    GuiQueue(const GuiQueue&) = delete;
    GuiQueue& operator=(const GuiQueue&) = delete;

    // Appends a job for the Qt thread; returns at once. Any thread.
    void post(std::function<void()> job);

    // Qt thread: runs every job queued so far, now (tests call it instead of
    // spinning the event loop).
    void flush();

    // True on the Qt thread (window/QtThread.h).
    bool onGuiThread() const { return onQtThread(); }
    // Jobs posted and not yet run. Any thread.
    std::size_t pending() const;

    // Runs fn on the Qt thread and returns its result; the calling thread
    // waits. On the Qt thread it runs fn directly. The caller must not hold a
    // lock that a Qt-thread job may need. What fn throws reaches the caller;
    // a job that never runs (the queue went away first) ends the wait with
    // std::future_error instead of leaving the caller blocked.
    template <class F>
    auto call(F fn) -> std::invoke_result_t<F&> {
        using R = std::invoke_result_t<F&>;
        if (onGuiThread()) return fn();
        // Owned by the job alone: dropping the job breaks the promise, which
        // unblocks the waiter.
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(fn));
        auto result = task->get_future();
        post([task = std::move(task)] { (*task)(); });
        return result.get();
    }

private:
    void onWake();

    UniqueFd fd_;
    QSocketNotifier* notifier_ = nullptr;  // child of this object
    mutable std::mutex lock_;
    std::deque<std::function<void()>> jobs_;
};

}  // namespace morvia
