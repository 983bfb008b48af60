#include "player/TCThread.h"

#include <chrono>
#include <ctime>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "player/LocalVCR.h"

namespace morvia {

TCThread::TCThread(LocalVCR& vcr) : svcr(vcr) {}

TCThread::~TCThread() {
    stopme();
    join();
}

void TCThread::start() {
    std::lock_guard g(threadLock);
    if (worker.joinable() || !a.load()) return;
    worker = std::thread([this] { run(); });
}

void TCThread::stopme() {
    a.store(false);
    wakeWord.fetch_add(1);
    ::syscall(SYS_futex, reinterpret_cast<int*>(&wakeWord), FUTEX_WAKE_PRIVATE, 1 << 30, nullptr, nullptr, 0);
}

void TCThread::join() {
    std::lock_guard g(threadLock);
    if (!worker.joinable()) return;
    if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();  // asked from its own body: it ends after this tick
    } else {
        worker.join();
    }
}

bool TCThread::sleepTick() {
    int ms = sleeptime.load();
    if (ms < 0) ms = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (true) {
        // Read before checking the flag: a stopme() after the check changes
        // the word, so the wait below returns at once instead of sleeping.
        const int seen = wakeWord.load();
        if (!a.load()) return false;
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        ::syscall(SYS_futex, reinterpret_cast<int*>(&wakeWord), FUTEX_WAIT_PRIVATE, seen, &ts, nullptr, 0);
        // Woken, interrupted or timed out: the loop tells which.
    }
}

void TCThread::run() {
    while (a.load()) {
        if (!sleepTick()) continue;  // interrupted: the rest of the tick is skipped
        if (!pause.load()) svcr.setd();
        if (n == 0) svcr.CommandStatus();
        if (++n > 9) n = 0;
        tickCount.fetch_add(1);
    }
}

} // namespace morvia
