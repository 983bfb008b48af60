#include "player/TCThread.h"

#include <chrono>

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
    {
        std::lock_guard g(wakeLock);
        a.store(false);
    }
    wake.notify_all();
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
    std::unique_lock l(wakeLock);
    return !wake.wait_for(l, std::chrono::milliseconds(ms), [this] { return !a.load(); });
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
