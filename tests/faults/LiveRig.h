// The real controller on the real player link, against the in-process player
// simulator on a pseudo-terminal, with the window's action thread in front of
// it: the rig the fault and soak tests drive.
//
// Nothing here grows with running time (the display keeps the last texts and
// counters, the console sink counts lines and keeps a short tail, the command
// tallies are keyed by command text), so that a long soak can watch the
// process's resident memory.
#pragma once

#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "dvdsim/Simulator.h"
#include "logger/Edl.h"
#include "player/LocalVCR.h"
#include "player/SerOutPort.h"
#include "player/TCThread.h"
#include "startup/Quenta.h"
#include "startup/Utils.h"
#include "support/CountingLink.h"
#include "support/Eventually.h"
#include "support/SettingsGuard.h"
#include "support/TestSupport.h"
#include "ui/App.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MORVIA_FAULTS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MORVIA_FAULTS_SANITIZED 1
#endif
#endif

namespace morvia::faults {

#ifdef MORVIA_FAULTS_SANITIZED
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

using RealTime = std::chrono::steady_clock;  // the tests' own stopwatch

inline double secondsSince(RealTime::time_point t) {
    return std::chrono::duration<double>(RealTime::now() - t).count();
}

inline double cpuSeconds(clockid_t id) {
    timespec ts{};
    ::clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Share of one core the whole process used while it waited `ms` milliseconds.
inline double processCpuShareOver(int ms) {
    const double c0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const auto t0 = RealTime::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - c0) / secondsSince(t0);
}

// The CPU share the whole process may use while the controller waits on a
// bad line: it sleeps between its 30 ms cycles and uses well under 1 % (under
// 2 % with sanitizers); a busy loop would take a whole core.
inline double idleCpuLimit() { return 0.05; }

// Resident memory of this process in bytes.
inline long residentBytes() {
    std::ifstream in("/proc/self/statm");
    long size = 0, resident = 0;
    in >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

using test::eventually;

// True when `tc` has the shape hh:mm:ss:ff (hours may be longer).
inline bool looksLikeTimecode(const std::string& tc) {
    if (tc.size() < 11) return false;
    const std::size_t h = tc.size() - 9;
    for (std::size_t i = 0; i < tc.size(); ++i) {
        const bool colon = i == h || i == h + 3 || i == h + 6;
        if (colon ? tc[i] != ':' : (tc[i] < '0' || tc[i] > '9')) return false;
    }
    return true;
}

// A window that keeps only the latest texts and a few counters.
class QuietDisplay : public test::FieldsDisplay {
public:
    QuietDisplay() : FieldsDisplay({{Field::cuefield, "00:00:00:00"}, {Field::endfield, "00:00:10:00"}}) {}
    void TCIndicate(bool ok) override {
        indicateOk_.store(ok);
        ++indications_;
    }
    void ShowTC(const std::string& tc) override {
        FieldsDisplay::ShowTC(tc);
        ++tcShown_;
    }
    void clearbuttons() override { ++refreshes_; }
    long tcShown() const { return tcShown_.load(); }
    // Status refreshes seen (each one clears the highlights and sets them again).
    long refreshes() const { return refreshes_.load(); }
    long indications() const { return indications_.load(); }
    bool indicateOk() const { return indicateOk_.load(); }

private:
    std::atomic<long> tcShown_{0};
    std::atomic<long> indications_{0};
    std::atomic<long> refreshes_{0};
    std::atomic<bool> indicateOk_{false};
};

// Counts console lines and keeps the last few; restores the real console on
// destruction.
class ConsoleTail {
public:
    ConsoleTail() {
        Utils::setConsoleSink([this](std::string_view s) {
            std::lock_guard g(lock_);
            ++count_;
            if (s.find("Unable to write to Serial Port") != std::string_view::npos) ++writeFailures_;
            tail_.emplace_back(s);
            if (tail_.size() > 50) tail_.pop_front();
        });
    }
    ~ConsoleTail() { Utils::setConsoleSink(nullptr); }
    ConsoleTail(const ConsoleTail&) = delete;
    ConsoleTail& operator=(const ConsoleTail&) = delete;

    long count() const {
        std::lock_guard g(lock_);
        return count_;
    }
    long writeFailures() const {
        std::lock_guard g(lock_);
        return writeFailures_;
    }
    std::string tail() const {
        std::lock_guard g(lock_);
        std::string out;
        for (const auto& l : tail_) out += l + "\n";
        return out;
    }

private:
    mutable std::mutex lock_;
    long count_ = 0;
    long writeFailures_ = 0;
    std::deque<std::string> tail_;
};

using test::CountingLink;

using test::readFile;
using test::TempDir;

// Entries with `n` events whose clip names carry `tag`.
inline EdlEntries sampleEntries(int n, const std::string& tag) {
    EdlEntries e = EdlEntries::initial();
    for (int i = 0; i < n && i < EdlEntryCount; ++i) {
        e.ClipNameArray[static_cast<std::size_t>(i)] = tag + std::to_string(i);
        char in[16], out[16];
        std::snprintf(in, sizeof in, "00:%02d:%02d:00", i / 60, i % 60);
        std::snprintf(out, sizeof out, "00:%02d:%02d:15", i / 60, i % 60);
        e.SrcInArray[static_cast<std::size_t>(i)] = in;
        e.SrcOutArray[static_cast<std::size_t>(i)] = out;
    }
    return e;
}

// The simulator settings of the rig: quick spin-up and searches.
inline dvdsim::Options fastPlayer() {
    dvdsim::Options o;
    o.spinupMs = 300;
    o.searchMs = 300;
    return o;
}

// The rig's settings: offset 00:00:00:00, no clipboard, no second port.
inline Settings rigSettings() {
    Settings s;
    s.OSString = "00:00:00:00";
    s.useclipboard = false;
    s.mcs = false;
    return s;
}

// Simulator + the program without its window (the App on a quiet display:
// action thread, the controller on its link), with an EDL saved at bring-up
// whose bytes the tests compare at the end.
class LiveRig {
public:
    // `portFor` (optional) names the port the link opens, given the
    // simulator's terminal once it runs (a serial server in front of it).
    explicit LiveRig(dvdsim::Options options = fastPlayer(), const std::string& tag = "rig",
                     const std::function<std::string(const std::string& slave)>& portFor = {})
        : dir(tag), sim(withHook(std::move(options))) {
        sim.start();
        // Through the simulator's link, as an adapter is named by its
        // /dev/serial/by-id link.
        app.openPort(portFor ? portFor(sim.slavePath()) : linkPath_);
        sop = app.port();
        link = std::make_unique<CountingLink>(*sop);
        vcr = &app.buildController(link.get());
        edlPath = dir.file("EDL.txt");
        if (!SaveEDL(edlPath, "Morvia", sampleEntries(5, "Before"))) throw std::runtime_error("no EDL saved");
        edlBytes = readFile(edlPath);
    }
    ~LiveRig() { shutDown(); }
    LiveRig(const LiveRig&) = delete;
    LiveRig& operator=(const LiveRig&) = delete;

    // Spins the player up, starts polling and play; true once the displayed
    // timecode moves.
    bool bringUp() {
        app.startLink();
        vcr->CommandB0(LocalVCR::bsstart);
        if (!eventually([&] { return sim.mode() == dvdsim::Mode::Pause; }, std::chrono::seconds(10))) return false;
        vcr->GetTC();
        vcr->play();
        return timecodeMoves(10000);
    }

    // True when the displayed timecode changes within `ms`.
    bool timecodeMoves(int ms) {
        const std::string first = vcr->getTCString();
        return eventually([&] { return vcr->getTCString() != first; }, std::chrono::milliseconds(ms));
    }

    // Runs `op` on the action thread followed by a probe job. Returns the
    // seconds from the end of `op` to the start of the probe (negative when
    // either did not run within `limitMs`); `opSeconds` gets op's duration.
    double probeAfter(std::function<void()> op, int limitMs, double* opSeconds = nullptr) {
        auto opStart = std::make_shared<std::atomic<double>>(-1);
        auto opEnd = std::make_shared<std::atomic<double>>(-1);
        auto probe = std::make_shared<std::atomic<double>>(-1);
        const auto base = RealTime::now();
        actions.post([=] {
            opStart->store(secondsSince(base));
            op();
            opEnd->store(secondsSince(base));
        });
        actions.post([=] { probe->store(secondsSince(base)); });
        if (!eventually([&] { return probe->load() >= 0; }, std::chrono::milliseconds(limitMs))) return -1;
        if (opSeconds) *opSeconds = opEnd->load() - opStart->load();
        return probe->load() - opEnd->load();
    }

    // The EDL saved at bring-up is byte for byte what it was and still loads.
    ::testing::AssertionResult edlIntact() const {
        if (readFile(edlPath) != edlBytes) return ::testing::AssertionFailure() << "EDL bytes changed";
        const auto events = LoadEDL(edlPath);
        if (events.size() < 5 || events[0].clip.rfind("Before", 0) != 0)
            return ::testing::AssertionFailure() << "EDL no longer loads its events (" << events.size() << ")";
        return ::testing::AssertionSuccess();
    }

    // Stops the action thread, polling, the link and the simulator, in the
    // order that keeps every callback's target alive. Returns the seconds it took.
    double shutDown() {
        const auto t0 = RealTime::now();
        app.stop();  // the action thread, then polling, the link and the controller
        sop = nullptr;
        vcr = nullptr;
        link.reset();  // after the controller: it queues through this link to the end
        sim.stop();
        return secondsSince(t0);
    }

    // Command texts the simulator received, tallied by its own thread.
    std::map<std::string, long> simCommands() const {
        std::lock_guard g(*tallyLock_);
        return *simTally_;
    }

private:
    // Declared first: the simulator's log hook refers to them.
    std::shared_ptr<std::mutex> tallyLock_ = std::make_shared<std::mutex>();
    std::shared_ptr<std::map<std::string, long>> simTally_ = std::make_shared<std::map<std::string, long>>();
    std::string linkPath_;  // the simulator's link, which the rig opens

public:
    test::SettingsGuard settings;
    ConsoleTail console;
    TempDir dir;
    QuietDisplay display;
    dvdsim::Simulator sim;
    std::unique_ptr<CountingLink> link;  // outlives the controller in `app`
    App app{rigSettings(), &display};
    ActionQueue& actions = app.actions();
    SerOutPort* sop = nullptr;  // the parts in `app`
    LocalVCR* vcr = nullptr;
    std::string edlPath;
    std::string edlBytes;

private:
    dvdsim::Options withHook(dvdsim::Options o) {
        auto lock = tallyLock_;
        auto tally = simTally_;
        // Always through a link in the rig's folder, which the simulator
        // removes at a hang-up. The kernel hands a closed terminal's name to
        // the next terminal opened, so a link reopening the bare name after a
        // hang-up would reach a terminal another test (or test program) owns.
        if (o.linkPath.empty()) o.linkPath = dir.file("player");
        linkPath_ = o.linkPath;
        auto chained = std::move(o.onLog);
        o.onLog = [lock, tally, chained](const dvdsim::LogEntry& e) {
            if (e.kind == dvdsim::LogEntry::Kind::Command) {
                std::lock_guard g(*lock);
                ++(*tally)[e.bytes];
            }
            if (chained) chained(e);
        };
        return o;
    }
};

}  // namespace morvia::faults
