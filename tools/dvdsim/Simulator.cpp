#include "dvdsim/Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <random>
#include <stop_token>
#include <system_error>
#include <utility>

#include "startup/Worker.h"

#include "startup/Posix.h"

namespace dvdsim {

namespace {

constexpr std::size_t kMaxLine = 64;

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), "dvdsim: " + what);
}

void setCloexec(int fd) { ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC); }

}  // namespace

double LogEntry::ms() const { return std::chrono::duration<double, std::milli>(at.time_since_epoch()).count(); }

std::string readable(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

struct Simulator::Impl {
    explicit Impl(Options o)
        : opt(std::move(o)),
          player(opt.disc,
                 PlayerTiming{std::chrono::milliseconds(opt.spinupMs), std::chrono::milliseconds(opt.searchMs)}),
          faults(opt.faults),
          byteTime(std::chrono::nanoseconds(10'000'000'000LL / std::max(1, opt.bitRate))) {
        if (faults.unitOff) player.setUnitOff(true, Clock::now());
    }

    struct Outgoing {
        std::string bytes;  // as they go out (garbage applied byte by byte)
        Time earliest;      // not before this
        std::size_t sent = 0;
        Time first{};
    };

    const Options opt;

    // Guarded by mu.
    mutable std::mutex mu;
    Player player;
    Faults faults;
    std::vector<LogEntry> entries;
    std::string slave;
    bool hangupRequested = false;

    std::atomic<bool> hung{false};

    bool madeLink = false;
    morvia::Worker worker{"dvdsim"};

    // Owned by the thread once it runs (set up by start() before it).
    morvia::UniqueFd master;
    morvia::UniqueFd slaveFd;
    std::atomic<int> wakeFd{-1};  // closed by ~Impl, so hangUp() may always use it
    std::FILE* logFile = nullptr;
    std::mt19937 rng;
    std::deque<Outgoing> out;
    std::optional<Time> lastByte;  // when the last reply byte was written
    std::optional<Time> lastSlot;  // its nominal slot
    std::string inbuf;
    std::optional<Time> hangupAt;
    std::optional<Time> replugAt;
    std::atomic<int> replugCount{0};
    std::vector<LogEntry> fresh;  // entries made under mu, published after unlocking
    const Clock::duration byteTime;

    ~Impl() {
        const int fd = wakeFd.exchange(-1);
        if (fd >= 0) ::close(fd);
    }

    void wake() {
        if (wakeFd < 0) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    }

    // --- under mu ---
    void record(LogEntry::Kind kind, Time at, Time end, std::string bytes) {
        entries.push_back(LogEntry{kind, at, end, bytes});
        fresh.push_back(LogEntry{kind, at, end, std::move(bytes)});
    }

    void queueReply(std::string text, Time base) {
        if (faults.silent || hung) return;
        out.push_back(Outgoing{std::move(text), base + std::chrono::milliseconds(opt.latencyMs + faults.lateMs)});
    }

    void completeJobs(Time now) {
        while (auto due = player.pendingDue()) {
            if (*due > now) break;
            if (auto reply = player.completeDue(now)) queueReply(std::move(*reply), *due);
        }
    }

    void handleLine(const std::string& line, bool overflow, Time now) {
        record(LogEntry::Kind::Command, now, now, overflow ? line : line + "\r");
        if (faults.errorReplies) {
            queueReply("E04\r", now);
            return;
        }
        if (overflow) {
            queueReply("E00\r", now);
            return;
        }
        completeJobs(now);
        if (auto reply = player.command(line, now)) queueReply(std::move(*reply), now);
    }

    void doHangup(Time now) {
        hung = true;  // before the client can see the line go
        hangupRequested = false;
        hangupAt.reset();
        master.reset();
        slaveFd.reset();
        out.clear();
        inbuf.clear();
        if (!opt.linkPath.empty()) ::unlink(opt.linkPath.c_str());
        if (opt.replugAfterMs >= 0) replugAt = now + std::chrono::milliseconds(opt.replugAfterMs);
        record(LogEntry::Kind::Event, now, now, "hang-up");
    }

    // Opens a fresh pseudo-terminal pair in raw mode at 4800 bit/s and points the link at its
    // slave. Throws std::system_error; on failure nothing stays open.
    void openLine() {
        morvia::UniqueFd mOwned(::posix_openpt(O_RDWR | O_NOCTTY));
        if (!mOwned) throwErrno("posix_openpt");
        const int m = mOwned.get();
        setCloexec(m);
        char name[128];
        if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0)
            throwErrno("grantpt/unlockpt/ptsname");
        ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);

        // Holding the slave open keeps the master quiet (no EIO/HUP) while no client has it open.
        morvia::UniqueFd sOwned(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!sOwned) throwErrno(std::string("open ") + name);
        const int s = sOwned.get();
        termios tio{};
        if (::tcgetattr(s, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::cfsetispeed(&tio, B4800);
            ::cfsetospeed(&tio, B4800);
            ::tcsetattr(s, TCSANOW, &tio);
        }
        if (!opt.linkPath.empty()) {
            struct stat st {};
            if (::lstat(opt.linkPath.c_str(), &st) == 0) {
                if (!S_ISLNK(st.st_mode)) {
                    errno = EEXIST;
                    throwErrno("link " + opt.linkPath + " exists and is not a symlink");
                }
                ::unlink(opt.linkPath.c_str());
            }
            if (::symlink(name, opt.linkPath.c_str()) != 0) throwErrno("symlink " + opt.linkPath);
        }
        master = std::move(mOwned);
        slaveFd = std::move(sOwned);
        slave = name;
    }

    // Under mu: the replugged adapter comes back on a fresh terminal.
    void doReplug(Time now) {
        replugAt.reset();
        try {
            openLine();
        } catch (const std::system_error& e) {
            record(LogEntry::Kind::Event, now, now, std::string("replug failed: ") + e.what());
            return;
        }
        lastByte.reset();
        lastSlot.reset();
        hung = false;
        ++replugCount;
        record(LogEntry::Kind::Event, now, now, "line open on " + slave);
    }
    // --- end under mu ---

    void publish() {
        std::vector<LogEntry> batch;
        {
            std::lock_guard lock(mu);
            batch.swap(fresh);
        }
        for (const auto& e : batch) {
            if (logFile) {
                const char* kind = e.kind == LogEntry::Kind::Command ? "cmd"
                                   : e.kind == LogEntry::Kind::Reply ? "rep"
                                                                     : "evt";
                if (e.kind == LogEntry::Kind::Reply) {
                    const double span = std::chrono::duration<double, std::milli>(e.end - e.at).count();
                    std::fprintf(logFile, "%.3f %s %s +%.1fms\n", e.ms(), kind, readable(e.bytes).c_str(), span);
                } else {
                    std::fprintf(logFile, "%.3f %s %s\n", e.ms(), kind, readable(e.bytes).c_str());
                }
                std::fflush(logFile);
            }
            if (opt.onLog) opt.onLog(e);
        }
    }

    // When the next byte of `o` may go. Bytes keep a nominal slot every byte time, anchored at the
    // first byte of each reply, so a reply spans exactly its byte times even when single wake-ups
    // run late; a late byte never lets the next one follow closer than half a byte time.
    Time dueOf(const Outgoing& o) const {
        Time due = o.earliest;
        if (lastSlot) due = std::max(due, *lastSlot + byteTime);
        if (lastByte) due = std::max(due, *lastByte + byteTime / 2);
        return due;
    }

    // Writes the next reply byte if it is due; returns when the following one is due.
    std::optional<Time> sendDue(Time now) {
        std::lock_guard lock(mu);
        if (out.empty() || !master) return std::nullopt;
        Outgoing& o = out.front();
        const Time due = dueOf(o);
        if (due > now) return due;

        unsigned char byte = static_cast<unsigned char>(o.bytes[o.sent]);
        if (faults.garbageRate > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng) < faults.garbageRate) {
            // A different byte, so that every replaced byte is really corrupted.
            byte = static_cast<unsigned char>(byte + 1 + std::uniform_int_distribution<int>(0, 254)(rng));
            o.bytes[o.sent] = static_cast<char>(byte);
        }
        const ssize_t n = ::write(master.get(), &byte, 1);
        const Time sentAt = Clock::now();
        if (n != 1) record(LogEntry::Kind::Event, sentAt, sentAt, "reply byte dropped");
        Time slot = o.sent == 0 ? sentAt : *lastSlot + byteTime;
        if (sentAt - slot > byteTime) slot = sentAt;  // far behind: no catching up in a burst
        if (o.sent == 0) o.first = sentAt;
        ++o.sent;
        lastSlot = slot;
        lastByte = sentAt;
        if (o.sent == o.bytes.size()) {
            record(LogEntry::Kind::Reply, o.first, sentAt, o.bytes);
            out.pop_front();
        }
        if (out.empty()) return std::nullopt;
        return dueOf(out.front());
    }

    // Reads and handles what the controller wrote; false when nothing could be read.
    bool readInput() {
        char buf[256];
        bool any = false;
        for (;;) {
            const ssize_t n = ::read(master.get(), buf, sizeof buf);
            if (n <= 0) return any;
            any = true;
            const Time now = Clock::now();
            std::lock_guard lock(mu);
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] == '\r') {
                    handleLine(inbuf, false, now);
                    inbuf.clear();
                } else {
                    inbuf += buf[i];
                    if (inbuf.size() >= kMaxLine) {
                        handleLine(inbuf, true, now);
                        inbuf.clear();
                    }
                }
            }
        }
    }

    void run(const std::stop_token& token) {
        ::prctl(PR_SET_TIMERSLACK, 10'000UL);  // 10 us: keeps the byte pacing close to nominal
        bool masterQuiet = false;              // set: leave the master out of the next 20 ms of polling
        while (!token.stop_requested()) {
            Time now = Clock::now();
            std::optional<Time> next;
            auto earliest = [&](std::optional<Time> t) {
                if (t && (!next || *t < *next)) next = t;
            };
            {
                std::lock_guard lock(mu);
                if (!hung && (hangupRequested || (hangupAt && now >= *hangupAt))) doHangup(now);
                if (hung && replugAt && now >= *replugAt) doReplug(now);
                completeJobs(now);
                earliest(player.pendingDue());
                if (!hung) earliest(hangupAt);
                if (hung) earliest(replugAt);
            }
            earliest(sendDue(now));
            publish();

            pollfd fds[2] = {{wakeFd, POLLIN, 0}, {-1, 0, 0}};
            nfds_t nfds = 1;
            {
                std::lock_guard lock(mu);
                if (master && !masterQuiet) {
                    fds[1] = {master.get(), POLLIN, 0};
                    nfds = 2;
                }
            }
            if (masterQuiet) earliest(Clock::now() + std::chrono::milliseconds(20));
            masterQuiet = false;

            timespec ts{};
            timespec* timeout = nullptr;
            if (next) {
                const auto wait = std::max<Clock::duration>(*next - Clock::now(), Clock::duration::zero());
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
                ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
                ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
                timeout = &ts;
            }
            const int r = ::ppoll(fds, nfds, timeout, nullptr);
            if (r < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[0].revents & POLLIN) {
                std::uint64_t v;
                [[maybe_unused]] auto n = ::read(wakeFd, &v, sizeof v);
            }
            if (nfds == 2 && fds[1].revents) {
                // Readiness without data (hang-up or error on the master) must not make the loop
                // spin.
                if (!(fds[1].revents & POLLIN) || !readInput()) masterQuiet = true;
            }
        }
        publish();
    }
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
    try {
        stop();
    } catch (...) {}
}

void Simulator::start() {
    Impl& d = *impl_;
    if (d.worker.state() != morvia::Worker::State::idle) throw std::logic_error("dvdsim: start() called twice");

    {
        std::lock_guard lock(d.mu);
        d.openLine();
    }
    d.madeLink = !d.opt.linkPath.empty();
    if (!d.opt.logPath.empty()) {
        d.logFile = std::fopen(d.opt.logPath.c_str(), "we");
        if (!d.logFile) throwErrno("log " + d.opt.logPath);
    }
    d.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d.wakeFd < 0) throwErrno("eventfd");

    d.rng.seed(d.opt.seed != 0 ? d.opt.seed : std::random_device{}());
    const Time now = Clock::now();
    if (d.opt.hangupAfterMs >= 0) d.hangupAt = now + std::chrono::milliseconds(d.opt.hangupAfterMs);
    {
        std::lock_guard lock(d.mu);
        d.record(LogEntry::Kind::Event, now, now, "line open on " + d.slave);
    }
    d.worker.start([&d](std::stop_token token) {
        // The thread waits in ppoll(): a stop reaches it through the eventfd.
        std::stop_callback onStop(token, [&d] { d.wake(); });
        d.run(token);
    });
}

void Simulator::stop() {
    Impl& d = *impl_;
    if (d.worker.state() == morvia::Worker::State::idle) return;  // never started
    d.worker.stop();
    // Every stop comes here once the thread is joined; the line, the link
    // and the log go with the first.
    bool madeLink = false;
    std::FILE* logFile = nullptr;
    {
        std::lock_guard lock(d.mu);
        d.master.reset();
        d.slaveFd.reset();
        madeLink = std::exchange(d.madeLink, false);
        logFile = std::exchange(d.logFile, nullptr);
    }
    if (madeLink) ::unlink(d.opt.linkPath.c_str());
    if (logFile) std::fclose(logFile);
}

std::string Simulator::slavePath() const {
    std::lock_guard lock(impl_->mu);
    return impl_->slave;
}

std::vector<LogEntry> Simulator::log() const {
    std::lock_guard lock(impl_->mu);
    return impl_->entries;
}

std::vector<LogEntry> Simulator::commands() const {
    std::vector<LogEntry> result;
    std::lock_guard lock(impl_->mu);
    for (const auto& e : impl_->entries) {
        if (e.kind == LogEntry::Kind::Command) result.push_back(e);
    }
    return result;
}

std::vector<std::string> Simulator::commandTexts() const {
    std::vector<std::string> result;
    std::lock_guard lock(impl_->mu);
    for (const auto& e : impl_->entries) {
        if (e.kind == LogEntry::Kind::Command) result.push_back(e.bytes);
    }
    return result;
}

void Simulator::clearLog() {
    std::lock_guard lock(impl_->mu);
    impl_->entries.clear();
}

void Simulator::setSilent(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.silent = on;
}

void Simulator::setUnitOff(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.unitOff = on;
    impl_->player.setUnitOff(on, Clock::now());
}

void Simulator::setErrorReplies(bool on) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.errorReplies = on;
}

void Simulator::setGarbageRate(double rate) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.garbageRate = std::clamp(rate, 0.0, 1.0);
}

void Simulator::setLateMs(int ms) {
    std::lock_guard lock(impl_->mu);
    impl_->faults.lateMs = std::max(0, ms);
}

void Simulator::hangUp() {
    {
        std::lock_guard lock(impl_->mu);
        if (impl_->hung) return;  // already unplugged: nothing more to pull
        impl_->hangupRequested = true;
    }
    impl_->wake();
}

bool Simulator::hungUp() const { return impl_->hung; }

int Simulator::replugs() const { return impl_->replugCount.load(); }

Mode Simulator::mode() const {
    std::lock_guard lock(impl_->mu);
    return impl_->player.mode(Clock::now());
}

int Simulator::frame() const {
    std::lock_guard lock(impl_->mu);
    return impl_->player.frame(Clock::now());
}

int Simulator::title() const {
    std::lock_guard lock(impl_->mu);
    return impl_->player.title(Clock::now());
}

int Simulator::chapter() const {
    std::lock_guard lock(impl_->mu);
    return impl_->player.chapter(Clock::now());
}

std::optional<int> Simulator::stopMarker() const {
    std::lock_guard lock(impl_->mu);
    return impl_->player.stopMarker(Clock::now());
}

}  // namespace dvdsim
