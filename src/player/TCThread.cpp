#include "player/TCThread.h"

#include <chrono>

#include "player/LocalVCR.h"

namespace morvia {

TCThread::TCThread(LocalVCR& vcr) : svcr(vcr) {}

TCThread::~TCThread() {
    stopme();
    worker.stop();
}

void TCThread::start() {
    if (!a.load()) return;
    worker.start([this](std::stop_token stop) { run(stop); });
}

void TCThread::stopme() {
    a.store(false);
    worker.requestStop();
}

void TCThread::join() {
    if (worker.onThread()) {
        // Asked from its own body: the loop ends after this tick, and the
        // owner's join (at the latest the destructor's) waits for it.
        stopme();
        return;
    }
    worker.stop();
}

bool TCThread::sleepTick() {
    const int ms = sleeptime.load();
    return worker.sleepFor(std::chrono::milliseconds(ms < 0 ? 0 : ms)) && a.load();
}

void TCThread::run(std::stop_token stop) {
    while (a.load() && !stop.stop_requested()) {
        if (!sleepTick()) continue;  // interrupted: the rest of the tick is skipped
        if (!pause.load()) svcr.setd();
        if (n == 0) svcr.CommandStatus();
        if (++n > 9) n = 0;
        tickCount.fetch_add(1);
    }
}

}  // namespace morvia
