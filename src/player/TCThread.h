// The timecode polling thread: every `sleeptime` milliseconds it asks the
// controller for one frame-position poll (unless paused) and, every tenth
// tick, refreshes the status text and button highlights.
//
// Ownership: the controller's Polling creates at most one, starts it (GetTC)
// and stops and joins it (window close, PlayerSystem::stop, controller
// destruction). The flags are atomic and may be set from any thread;
// stopme() wakes a sleeping tick at once.
// join() from the polling thread itself (a tick's work closing the window)
// only asks the loop to end; the owner's later join waits for it, so the
// object is never freed while its thread still runs.
#pragma once

#include <atomic>
#include <stop_token>

#include "startup/Worker.h"

namespace morvia {

class LocalVCR;

class TCThread {
public:
    static constexpr int kDefaultSleepTime = 33;

    explicit TCThread(LocalVCR& vcr);
    ~TCThread();  // stopme() and join()
    TCThread(const TCThread&) = delete;
    TCThread& operator=(const TCThread&) = delete;

    // Starts the thread (once; later calls do nothing).
    void start();
    // Ends the loop: a tick that is sleeping is cut short and does nothing more.
    void stopme();
    // Waits for the thread to end (after stopme). Safe to call more than once.
    void join();

    void setsleeptime(int ms) { sleeptime.store(ms); }
    int getsleeptime() const { return sleeptime.load(); }
    // Suspends / resumes the timecode polls; status refreshes go on.
    void setpause() { pause.store(true); }
    void setgo() { pause.store(false); }
    bool ispaused() const { return pause.load(); }
    bool isrunning() const { return a.load(); }
    // Ticks completed so far (tests and diagnostics).
    long ticks() const { return tickCount.load(); }

private:
    // The thread body.
    void run(std::stop_token stop);
    // Sleeps one interval; false when stopme() cut it short.
    bool sleepTick();

    LocalVCR& svcr;
    std::atomic<bool> a{true};
    std::atomic<int> sleeptime{kDefaultSleepTime};
    std::atomic<bool> pause{false};
    int n = 0;  // touched only by the thread itself
    std::atomic<long> tickCount{0};

    // Last member: the thread ends before anything it uses goes.
    Worker worker{"polling"};
};

}  // namespace morvia
