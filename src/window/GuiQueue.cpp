#include "window/GuiQueue.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "startup/Utils.h"
#include "startup/Worker.h"

#if defined(__SANITIZE_THREAD__)
#define MORVIA_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MORVIA_TSAN 1
#endif
#endif

#ifdef MORVIA_TSAN
// Qt's own worker threads (the GUI thread pool that splits large fills and
// image scaling) synchronise inside the Qt libraries, which are not built
// for ThreadSanitizer, so their allocations and condition variables look
// unordered. Interceptor calls made from inside Qt are ignored; every access
// our own code makes is still checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libQt6Widgets.so\n"
           "called_from_lib:libqoffscreen.so\n"
           "called_from_lib:libQt6XcbQpa.so\n";
}
#endif

namespace morvia {

GuiQueue::GuiQueue(QObject* parent) : QObject(parent), guiThread_(std::this_thread::get_id()) {
    fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("eventfd failed");
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onWake(); });
}

GuiQueue::~GuiQueue() {
    notifier_->setEnabled(false);
    ::close(fd_);
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
        [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
    }
}

std::size_t GuiQueue::pending() const {
    std::lock_guard g(lock_);
    return jobs_.size();
}

void GuiQueue::onWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(fd_, &count, sizeof count);
    flush();
}

void GuiQueue::flush() {
    require(onGuiThread(), "GuiQueue", "jobs for the Qt thread run on the Qt thread only");
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

} // namespace morvia
