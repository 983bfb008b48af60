#include "window/GuiQueue.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "startup/Utils.h"
#include "startup/Require.h"

namespace morvia {

GuiQueue::GuiQueue(QObject* parent) : QObject(parent) {
    fd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd_) throw std::runtime_error("eventfd failed");
    notifier_ = new QSocketNotifier(fd_.get(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onWake(); });
}

GuiQueue::~GuiQueue() {
    notifier_->setEnabled(false);  // before the descriptor it watches closes
}

void GuiQueue::post(std::function<void()> job) {
    bool wasEmpty;
    {
        std::lock_guard g(lock_);
        wasEmpty = jobs_.empty();
        jobs_.push_back(std::move(job));
    }
    if (wasEmpty) {
        std::uint64_t one = 1;
        // A full counter (never in practice) already means "wake up".
        [[maybe_unused]] auto n = ::write(fd_.get(), &one, sizeof one);
    }
}

std::size_t GuiQueue::pending() const {
    std::lock_guard g(lock_);
    return jobs_.size();
}

void GuiQueue::onWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(fd_.get(), &count, sizeof count);
    flush();
}

void GuiQueue::flush() {
    requireQtThread("GuiQueue", "jobs for the Qt thread run on the Qt thread only");
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard g(lock_);
        batch.swap(jobs_);
    }
    for (auto& job : batch) {
        try {
            job();
        } catch (const std::exception& e) {
            // Nothing may unwind through Qt's event loop.
            Utils::OutLine(std::string("Window update failed: ") + e.what());
        } catch (...) {
            Utils::OutLine("Window update failed");
        }
    }
}

}  // namespace morvia
