#include "sessionlog/SessionLog.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include "startup/Utils.h"

namespace morvia::sessionlog {
namespace {

constexpr long long kTcEventMs = 1000;  // at most one "tc" event a second
constexpr int kMaxNameTries = 1000;     // runs started within one second

// The open log's shared state: the queue between the recording threads and
// the log's thread, the clock, and what the player last reported.
struct Journal {
    std::mutex lock;  // guards everything below
    std::condition_variable_any cv;
    std::deque<Event> queue;
    bool open = false;       // a Writer exists
    bool accepting = false;  // events are taken (until the end event)
    bool closed = false;     // the end event is queued
    std::shared_ptr<Clock> clock;
    Clock::time_point start{};
    long long lastMono = 0;
    std::string tc;
    int title = 0;
    int chapter = 0;
    bool tcEvent = false;  // a "tc" event was recorded
    long long lastTcEventMono = 0;

    long long monoLocked() {
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(clock->now() - start).count();
        if (ms > lastMono) lastMono = ms;
        return lastMono;
    }
    // Stamps `e` and queues it; true when the queue was empty (wake the thread).
    bool pushLocked(Event&& e) {
        e.monoMs = monoLocked();
        e.utc = std::chrono::system_clock::now();
        if (e.tc.empty()) e.tc = tc;
        if (e.title == 0) e.title = title;
        if (e.chapter == 0) e.chapter = chapter;
        queue.push_back(std::move(e));
        return queue.size() == 1;
    }
};

Journal& journal() {
    static Journal j;
    return j;
}

std::atomic<bool> g_enabled{false};
thread_local Source t_source;

void withSource(Event& e) {
    if (!e.source.empty()) return;
    e.source = t_source.kind;
    e.peer = t_source.peer;
}

void push(Event&& e) {
    Journal& j = journal();
    bool wake = false;
    {
        std::lock_guard g(j.lock);
        if (!j.accepting) return;
        wake = j.pushLocked(std::move(e));
    }
    if (wake) j.cv.notify_one();
}

}  // namespace

Scope::Scope(std::string kind, std::string peer) : saved_(std::move(t_source)) {
    t_source = Source{std::move(kind), std::move(peer)};
}

Scope::~Scope() { t_source = std::move(saved_); }

const Source& currentSource() { return t_source; }

bool enabled() { return g_enabled.load(std::memory_order_relaxed); }

void record(Event e) {
    if (!enabled()) return;
    withSource(e);
    push(std::move(e));
}

void recordCommand(const std::string& name, const std::string& wire, const std::string& outcome,
                   const Source& source, const std::string& why) {
    if (!enabled()) return;
    Event e("command");
    e.command = name;
    e.wire = wire;
    e.outcome = outcome;
    e.source = source.kind;
    e.peer = source.peer;
    if (!why.empty()) e.text("reason", why);
    push(std::move(e));
}

void noteTimecode(const std::string& tc) {
    if (!enabled()) return;
    Journal& j = journal();
    bool wake = false;
    {
        std::lock_guard g(j.lock);
        if (!j.accepting || tc == j.tc) return;
        j.tc = tc;
        const long long now = j.monoLocked();
        if (j.tcEvent && now - j.lastTcEventMono < kTcEventMs) return;
        j.tcEvent = true;
        j.lastTcEventMono = now;
        wake = j.pushLocked(Event("tc"));
    }
    if (wake) j.cv.notify_one();
}

void noteTitle(int title, int chapter) {
    if (!enabled()) return;
    Journal& j = journal();
    bool wake = false;
    {
        std::lock_guard g(j.lock);
        if (!j.accepting) return;
        const bool titleChanged = title != j.title;
        const bool chapterChanged = chapter >= 1 && chapter != j.chapter;
        j.title = title;
        if (chapter >= 1) j.chapter = chapter;
        if (!titleChanged && !chapterChanged) return;
        wake = j.pushLocked(Event(titleChanged ? "title" : "chapter"));
    }
    if (wake) j.cv.notify_one();
}

void connectionOpened(const std::string& kind, const std::string& peer) {
    if (!enabled()) return;
    Event e("connection");
    e.source = kind;
    e.peer = peer;
    e.outcome = "opened";
    push(std::move(e));
}

void connectionClosed(const std::string& kind, const std::string& peer, const std::string& reason) {
    if (!enabled()) return;
    Event e("connection");
    e.source = kind;
    e.peer = peer;
    e.outcome = "closed";
    if (!reason.empty()) e.text("reason", reason);
    push(std::move(e));
}

Writer::Writer(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

std::unique_ptr<Writer> Writer::open(const std::string& folder, Event start, std::shared_ptr<Clock> clock) {
    Journal& j = journal();
    {
        std::lock_guard g(j.lock);
        if (j.open) {
            Utils::OutLine("Session log off: a log is already open");
            return nullptr;
        }
    }
    const auto now = std::chrono::system_clock::now();
    UniqueFd fd;
    std::string path;
    for (int n = 1; n <= kMaxNameTries && !fd; ++n) {
        path = (folder.empty() || folder.back() == '/' ? folder : folder + "/") + logFileName(now, n);
        fd.reset(retryEintr([&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644); }));
        if (!fd && errno != EEXIST) {
            Utils::OutLine("Session log off: cannot write to " + folder + ": " + std::strerror(errno));
            return nullptr;
        }
    }
    if (!fd) {
        Utils::OutLine("Session log off: cannot write to " + folder + ": every name for this second is taken");
        return nullptr;
    }
    auto writer = std::make_unique<Writer>(std::move(fd), path);
    {
        std::lock_guard g(j.lock);
        j.open = true;
        j.accepting = true;
        j.closed = false;
        j.queue.clear();
        j.clock = std::move(clock);
        j.start = j.clock->now();
        j.lastMono = 0;
        j.tc.clear();
        j.title = 0;
        j.chapter = 0;
        j.tcEvent = false;
        j.lastTcEventMono = 0;
        start.event = "start";
        withSource(start);
        j.pushLocked(std::move(start));
    }
    g_enabled.store(true);
    Writer* w = writer.get();
    writer->worker_.start([w](std::stop_token stop) { w->run(stop); });
    return writer;
}

Writer::~Writer() { finish("stopped"); }

void Writer::finish(const std::string& how) {
    std::call_once(finished_, [this, &how] { finishOnce(how); });
}

void Writer::finishOnce(const std::string& how) {
    Event end("end");
    end.outcome = how;
    withSource(end);
    Journal& j = journal();
    {
        std::lock_guard g(j.lock);
        if (j.accepting) j.pushLocked(std::move(end));
        j.accepting = false;
        j.closed = true;
    }
    g_enabled.store(false);
    j.cv.notify_one();
    worker_.stop();
    std::lock_guard g(j.lock);
    j.open = false;
    j.clock.reset();
}

void Writer::run(std::stop_token stop) {
    Journal& j = journal();
    for (;;) {
        std::deque<Event> batch;
        bool done = false;
        {
            std::unique_lock g(j.lock);
            worker_.waitFor(j.cv, g, [&j] { return !j.queue.empty() || j.closed; });
            batch.swap(j.queue);
            done = j.closed || stop.stop_requested();
        }
        std::string lines;
        for (const Event& e : batch) {
            lines += formatLine(e);
            lines += '\n';
        }
        write(lines);
        if (done) {
            // A stop without the end event (never in the program): what came
            // meanwhile still goes out.
            {
                std::lock_guard g(j.lock);
                batch.swap(j.queue);
                j.queue.clear();
            }
            lines.clear();
            for (const Event& e : batch) lines += formatLine(e) + '\n';
            write(lines);
            return;
        }
    }
}

void Writer::write(const std::string& lines) {
    std::size_t at = 0;
    while (!failed_ && at < lines.size()) {
        const ssize_t n = retryEintr([&] { return ::write(fd_.get(), lines.data() + at, lines.size() - at); });
        if (n < 0) {
            failed_ = true;
            Utils::OutLine("Session log " + path_ + ": " + std::strerror(errno) + ", no more events written");
            return;
        }
        at += static_cast<std::size_t>(n);
    }
}

}  // namespace morvia::sessionlog
