// Doubles and helpers shared by the fuzz targets: a console that drops every
// line, a sleeper that returns at once, a player link that checks what it is
// handed, the tests' field-text window counting against the budget, and a private
// temporary directory.
//
// Every target is deterministic: no real sleeps, no console traffic, no files
// outside the temporary directory, no thread that outlives one input.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "player/Display.h"
#include "player/LocalVCR.h"
#include "player/PlayerLink.h"
#include "startup/Utils.h"
#include "support/TestSupport.h"

namespace morvia::fuzz {

// Stops the run with a message that names the broken expectation; libFuzzer
// reports the abort as a crash and keeps the input.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

#define MORVIA_FUZZ_CHECK(cond)                   \
    do {                                          \
        if (!(cond)) ::morvia::fuzz::fail(#cond); \
    } while (0)

// Work one input may ask of the controller (sleeps, display calls) before the
// harness presses "Stop" on a running repeat. A repeat count from the input
// can reach two thousand million passes; a real operator would stop it.
class Budget {
public:
    void reset(LocalVCR* vcr) {
        used_.store(0);
        vcr_.store(vcr);
    }
    void spend() {
        // Past the limit every further step presses Stop again, so a repeat
        // started later in the same input also ends after one pass.
        if (used_.fetch_add(1) + 1 >= kLimit) {
            if (LocalVCR* v = vcr_.load()) v->setstoprepeat();
        }
    }
    // True once this input used the whole budget.
    bool exhausted() const { return used_.load() >= kLimit; }
    static Budget& instance() {
        static Budget b;
        return b;
    }

private:
    static constexpr long kLimit = 20000;
    std::atomic<long> used_{0};
    std::atomic<LocalVCR*> vcr_{nullptr};
};

// Returns at once; counts the wait against the input's budget.
class InstantSleeper : public test::DelayClock {
protected:
    void delayed(int) override { Budget::instance().spend(); }
};

// Installs the quiet console and the instant sleeper once per process.
inline void quietProcess() {
    static const bool done = [] {
        Utils::setConsoleSink([](std::string_view) {});
        Utils::setClock(std::make_shared<InstantSleeper>());
        return true;
    }();
    (void)done;
}

// A player link that sends nothing. It checks each command the way the
// player's command port would take it: at most 19 bytes, printable ASCII,
// ended by one carriage return.
class CheckingLink : public PlayerLink {
public:
    void queue(const std::string& command) override {
        MORVIA_FUZZ_CHECK(!command.empty() && command.size() <= 19);
        MORVIA_FUZZ_CHECK(command.back() == '\r');
        for (std::size_t i = 0; i + 1 < command.size(); ++i) {
            const auto c = static_cast<unsigned char>(command[i]);
            MORVIA_FUZZ_CHECK(c >= 0x20 && c < 0x7F);
        }
        queued.fetch_add(1);
        std::lock_guard g(lock_);
        if (keep) kept.push_back(command);
    }
    void setd() override {}
    void start() override {}
    bool hasSerialPort() const override { return false; }

    std::atomic<long> queued{0};
    bool keep = false;              // set before use: keep every command in `kept`
    std::vector<std::string> kept;  // under lock_ while others may queue

private:
    std::mutex lock_;
};

// The main window reduced to its field texts, as a window starts; every
// call but a read counts against the input's budget.
class FieldDisplay : public test::FieldsDisplay {
public:
    FieldDisplay()
        : FieldsDisplay({{Field::tcfield, "00:00:00:00"},
                         {Field::cuefield, "00:00:00:00"},
                         {Field::endfield, "00:00:10:00"},
                         {Field::osfield, "00:00:00:00"},
                         {Field::prfield, "00:00:00:00"}}) {}

protected:
    void touched() override { Budget::instance().spend(); }
};

// A directory of this process under $TMPDIR (or /tmp), removed at normal exit.
inline const std::filesystem::path& tempDir() {
    struct Dir {
        std::filesystem::path path;
        Dir() {
            const char* base = std::getenv("TMPDIR");
            std::string pattern = std::string(base && *base ? base : "/tmp") + "/morvia-fuzz-XXXXXX";
            if (::mkdtemp(pattern.data()) == nullptr) fail("cannot create a temporary directory");
            path = pattern;
        }
        ~Dir() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static Dir d;
    return d.path;
}

// Replaces the file's contents with `data`.
inline void writeFile(const std::filesystem::path& file, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) fail("cannot write a temporary file");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) fail("short write to a temporary file");
    std::fclose(f);
}

}  // namespace morvia::fuzz
