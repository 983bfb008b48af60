// Test doubles shared by the test suites: test clocks for the program's
// delays, a console capture,
// a temporary directory, a recording player link, a recording main-window
// display and one that keeps only its field texts.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "player/Display.h"
#include "player/PlayerLink.h"
#include "player/Seams.h"
#include "startup/Clock.h"
#include "startup/Utils.h"
#include "startup/Worker.h"
#include "support/Files.h"

namespace morvia::test {

// One thing that happened, in order: a queued command ("Q:PL\r"), a wait
// ("W:1500"), or a display call ("S:Cued").
using Journal = std::vector<std::string>;

// Shared ordered log of queued commands, waits and status texts, so tests can
// assert whole sequences.
class Recorder {
public:
    void add(std::string e) {
        std::lock_guard g(lock_);
        events_.push_back(std::move(e));
    }
    Journal events() const {
        std::lock_guard g(lock_);
        return events_;
    }
    // Only the entries that start with `prefix`, prefix removed.
    std::vector<std::string> only(std::string_view prefix) const {
        std::vector<std::string> out;
        for (const auto& e : events())
            if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
        return out;
    }
    void clear() {
        std::lock_guard g(lock_);
        events_.clear();
    }

private:
    mutable std::mutex lock_;
    Journal events_;
};

// A program clock for tests (Utils::setClock): every delay is handed to
// delayed() and returns at once. Its time is the real time, so timers that
// the code reads (the status hold, a client's stall) behave as they do
// without it.
class DelayClock : public Clock {
public:
    time_point now() const override { return Clock::steady()->now(); }
    bool sleep(Worker& worker, duration d) override {
        take(d);
        return !(worker.onThread() && worker.stopRequested());
    }
    bool delay(duration d, const Wait& wait) override {
        take(d);
        return wait(duration::zero());  // a cut asked for meanwhile still counts
    }

protected:
    virtual void delayed(int ms) = 0;

private:
    void take(duration d) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
        if (ms > 0) delayed(static_cast<int>(ms));
    }
};

// Records every DelayT as "W:<ms>" and returns at once.
class FakeSleeper : public DelayClock {
public:
    explicit FakeSleeper(std::shared_ptr<Recorder> r) : rec_(std::move(r)) {}

protected:
    void delayed(int ms) override { rec_->add("W:" + std::to_string(ms)); }

private:
    std::shared_ptr<Recorder> rec_;
};

// Calls `action` at the first wait of `ms` milliseconds, recording every wait.
class TriggerSleeper : public DelayClock {
public:
    TriggerSleeper(std::shared_ptr<Recorder> r, int ms, std::function<void()> action)
        : rec_(std::move(r)), ms_(ms), action_(std::move(action)) {}

protected:
    void delayed(int ms) override {
        rec_->add("W:" + std::to_string(ms));
        if (ms == ms_ && action_) std::exchange(action_, nullptr)();
    }

private:
    std::shared_ptr<Recorder> rec_;
    int ms_;
    std::function<void()> action_;
};

// Installs a fake sleeper as the program's clock for the lifetime of the object.
class ScopedFakeSleeper {
public:
    explicit ScopedFakeSleeper(std::shared_ptr<Recorder> r) {
        Utils::setClock(std::make_shared<FakeSleeper>(std::move(r)));
    }
    ~ScopedFakeSleeper() { Utils::setClock(nullptr); }
    ScopedFakeSleeper(const ScopedFakeSleeper&) = delete;
    ScopedFakeSleeper& operator=(const ScopedFakeSleeper&) = delete;
};

// Captures console lines for the lifetime of the object.
class ConsoleCapture {
public:
    ConsoleCapture() {
        Utils::setConsoleSink([this](std::string_view s) {
            std::lock_guard g(lock_);
            lines_.emplace_back(s);
        });
    }
    ~ConsoleCapture() { Utils::setConsoleSink(nullptr); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;
    std::vector<std::string> lines() const {
        std::lock_guard g(lock_);
        return lines_;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

// Thrown by the exit handler that tests install instead of ending the process.
struct ExitCalled : std::runtime_error {
    explicit ExitCalled(int s) : std::runtime_error("exit " + std::to_string(s)), status(s) {}
    int status;
};

class ScopedExitThrows {
public:
    ScopedExitThrows() {
        Utils::setExitHandler([](int s) { throw ExitCalled(s); });
    }
    ~ScopedExitThrows() { Utils::setExitHandler(nullptr); }
    ScopedExitThrows(const ScopedExitThrows&) = delete;
    ScopedExitThrows& operator=(const ScopedExitThrows&) = delete;
};

// A temporary directory removed with its contents.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "test") {
        std::string pattern = (std::filesystem::temp_directory_path() / ("morvia-" + tag + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary directory");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A window that keeps only its field texts (under a lock, as the real window
// model does) and ignores every other call; a field never set reads as
// `missing`. Derive from it to count or record particular calls, or override
// touched() to see every call that is not a read.
class FieldsDisplay : public Display {
public:
    explicit FieldsDisplay(std::map<Field, std::string> initial = {}, std::string missing = {})
        : texts_(std::move(initial)), missing_(std::move(missing)) {}
    void TCIndicate(bool) override { touched(); }
    void hilightinout(bool, bool) override { touched(); }
    void hilight(Control) override { touched(); }
    void clearbuttons() override { touched(); }
    void settcfield(const std::string& text, Field f) override { set(f, text); }
    std::string gettext(Field f) const override {
        std::lock_guard g(lock_);
        auto it = texts_.find(f);
        return it == texts_.end() ? missing_ : it->second;
    }
    void ShowIP(const std::string& a) override { set(Field::ipfield, a); }
    void ShowTC(const std::string& tc) override { set(Field::tcfield, tc); }
    void ShowStatus(const std::string& s) override { set(Field::statusfield, s); }
    void ShowPlay(bool) override { touched(); }
    void EnableConnect(bool) override { touched(); }
    void setFieldBackground(Field, Shade) override { touched(); }
    void EnableLogger(bool) override { touched(); }
    void setClipboard(const std::string&) override { touched(); }

    // Sets a field's text (the operator typing).
    void set(Field f, const std::string& text) {
        touched();
        std::lock_guard g(lock_);
        texts_[f] = text;
    }

protected:
    // Called on every call but gettext, before it takes effect.
    virtual void touched() {}

private:
    mutable std::mutex lock_;
    std::map<Field, std::string> texts_;
    const std::string missing_;
};

// An open logger window as the controller and the edit port see it: records
// the marks as "IN" and "OUT" when given a recorder, ignores them otherwise.
class FakeLogger : public LoggerSeam {
public:
    explicit FakeLogger(std::shared_ptr<Recorder> r = nullptr) : rec_(std::move(r)) {}
    void setin() override {
        if (rec_) rec_->add("IN");
    }
    void setout() override {
        if (rec_) rec_->add("OUT");
    }

private:
    std::shared_ptr<Recorder> rec_;
};

// A network client that records the answers it is sent.
class RecordingClient : public ClientSeam {
public:
    void Send(const std::string& line) override {
        std::lock_guard g(lock_);
        lines_.push_back(line);
    }
    std::vector<std::string> lines() const {
        std::lock_guard g(lock_);
        return lines_;
    }
    // The answers as they go out on a connection, each ended by CR LF.
    std::string text() const {
        std::lock_guard g(lock_);
        std::string out;
        for (const auto& l : lines_) out += l + "\r\n";
        return out;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

// Records queued commands as "Q:<bytes>".
class RecordingLink : public PlayerLink {
public:
    explicit RecordingLink(std::shared_ptr<Recorder> r, bool hasPort = false) : rec_(std::move(r)), hasPort_(hasPort) {}
    // Once the gate is closed, refused commands are not recorded.
    void queue(const std::string& command) override {
        if (!gateClosed_.load()) rec_->add("Q:" + command);
    }
    void queueFinal(const std::string& command) override { rec_->add("Q:" + command); }
    void closeGate() override { gateClosed_.store(true); }
    void setd() override { rec_->add("D"); }
    void start() override { rec_->add("START"); }
    bool hasSerialPort() const override { return hasPort_; }
    bool silent() const override { return silent_.load(); }
    void setSilent(bool on) { silent_.store(on); }

private:
    std::shared_ptr<Recorder> rec_;
    bool hasPort_;
    std::atomic<bool> silent_{false};
    std::atomic<bool> gateClosed_{false};
};

// Keeps field texts like a window would and records every display call:
// "S:<status>", "F:<field>=<text>", "H:<control>", "CLR", "IO:<in><out>",
// "TCI:<0|1>", "TC:<tc>", "BG:<field>=<shade>", "LOG:<0|1>", "CLIP:<text>".
class RecordingDisplay : public Display {
public:
    explicit RecordingDisplay(std::shared_ptr<Recorder> r) : rec_(std::move(r)) {
        texts_[Field::tcfield] = "00:00:00:00";
        texts_[Field::cuefield] = "00:00:00:00";
        texts_[Field::endfield] = "00:00:10:00";
        texts_[Field::osfield] = "00:00:00:00";
        texts_[Field::prfield] = "00:00:00:00";
    }
    static std::string name(Field f) {
        static const char* n[] = {"tcfield",     "cuefield", "endfield", "titlefield", "chapterfield",
                                  "statusfield", "osfield",  "prfield",  "ipfield"};
        return n[static_cast<int>(f)];
    }
    static std::string name(Control c) {
        static const char* n[] = {"brew",  "bpause", "bstop", "bplay",    "bfwd",
                                  "bjogr", "bjogf",  "vsb",   "cuefield", "endfield"};
        return n[static_cast<int>(c)];
    }
    static std::string name(Shade s) {
        static const char* n[] = {"background", "grey", "lightgrey", "darkgrey"};
        return n[static_cast<int>(s)];
    }

    void TCIndicate(bool ok) override { rec_->add(std::string("TCI:") + (ok ? "1" : "0")); }
    void hilightinout(bool in, bool out) override {
        rec_->add(std::string("IO:") + (in ? "1" : "0") + (out ? "1" : "0"));
    }
    void hilight(Control c) override { rec_->add("H:" + name(c)); }
    void clearbuttons() override { rec_->add("CLR"); }
    void settcfield(const std::string& text, Field f) override {
        set(f, text);
        rec_->add("F:" + name(f) + "=" + text);
    }
    std::string gettext(Field f) const override {
        std::lock_guard g(lock_);
        auto it = texts_.find(f);
        return it == texts_.end() ? std::string() : it->second;
    }
    void ShowIP(const std::string& a) override { set(Field::ipfield, a); }
    void ShowTC(const std::string& tc) override {
        set(Field::tcfield, tc);
        rec_->add("TC:" + tc);
    }
    void ShowStatus(const std::string& s) override {
        set(Field::statusfield, s);
        rec_->add("S:" + s);
    }
    void ShowPlay(bool) override {}
    void EnableConnect(bool on) override { rec_->add(std::string("CONN:") + (on ? "1" : "0")); }
    void setFieldBackground(Field f, Shade s) override { rec_->add("BG:" + name(f) + "=" + name(s)); }
    void EnableLogger(bool on) override { rec_->add(std::string("LOG:") + (on ? "1" : "0")); }
    void setClipboard(const std::string& text) override { rec_->add("CLIP:" + text); }

    // Sets a field's text without recording (the operator typing).
    void set(Field f, const std::string& text) {
        std::lock_guard g(lock_);
        texts_[f] = text;
    }

private:
    std::shared_ptr<Recorder> rec_;
    mutable std::mutex lock_;
    std::map<Field, std::string> texts_;
};

}  // namespace morvia::test
