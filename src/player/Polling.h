// The controller's timecode polling: at most one polling thread, created on
// the first start and never restarted once stopped.
//
// Thread-safety: every member may be called from any thread. The lock guards
// only the creation of the thread; stopping and joining it happen outside the
// lock, so a tick's own work may reach this object without waiting for it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

namespace morvia {

class LocalVCR;
class TCThread;

class Polling {
public:
    Polling();
    ~Polling();  // stop()
    Polling(const Polling&) = delete;
    Polling& operator=(const Polling&) = delete;

    // Creates and starts the polling thread for `vcr` unless one exists.
    void start(LocalVCR& vcr);
    // Stops the polling thread and waits for it to end. From a tick of the
    // thread itself it only asks the loop to end.
    void stop();
    // The polling thread, or null before the first start.
    TCThread* thread() const { return current_.load(); }
    // Suspends / resumes the timecode requests (nothing without a thread).
    void pause();
    void go();

private:
    mutable std::mutex lock_;  // guards the creation of thread_
    std::unique_ptr<TCThread> thread_;
    std::atomic<TCThread*> current_{nullptr};
};

}  // namespace morvia
