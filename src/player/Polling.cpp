#include "player/Polling.h"

#include "player/TCThread.h"

namespace morvia {

Polling::Polling() = default;

Polling::~Polling() { stop(); }

void Polling::start(LocalVCR& vcr) {
    TCThread* created = nullptr;
    {
        std::lock_guard g(lock_);
        if (thread_) return;
        thread_ = std::make_unique<TCThread>(vcr);
        created = thread_.get();
        current_.store(created);
    }
    // The thread object lives as long as this one: it is only ever stopped.
    created->start();
}

void Polling::stop() {
    if (TCThread* t = current_.load()) {
        t->stopme();
        t->join();
    }
}

void Polling::pause() {
    if (TCThread* t = current_.load()) t->setpause();
}

void Polling::go() {
    if (TCThread* t = current_.load()) t->setgo();
}

}  // namespace morvia
