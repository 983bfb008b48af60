// Hexadecimal text helpers, the shared millisecond delay on the program's
// clock, console lines and process exit.
//
// Thread-safety: every function may be called from any thread at any time.
// Console lines are written whole under one lock and flushed at once, so
// lines from different threads never interleave. The program's clock and the
// console sink are process-wide and meant to be replaced by tests before any
// worker thread starts (and restored after the last one ended).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "startup/Clock.h"

namespace morvia {

using Bytes = std::vector<std::uint8_t>;

class Utils {
public:
    static constexpr char hexchar[] = "0123456789ABCDEF";
    static constexpr int lomask = 0x0F;
    static constexpr int himask = 0xF0;
    static constexpr bool debug = false;

    // Two upper-case hex digits per byte for the first `count` bytes (never
    // more than the span holds); count <= 0 gives "".
    static std::string BS2S(const std::uint8_t* bytes, std::size_t len, int count);
    static std::string BS2S(const Bytes& bytes, int count) { return BS2S(bytes.data(), bytes.size(), count); }
    // length/2 bytes; pairs of hex digits from the start, at most 15 bytes
    // converted, further bytes 0. A trailing odd character is ignored.
    static Bytes S2BS(std::string_view text);
    static int C2B(char c);
    static std::uint8_t ASCIIHEX2BYTE(std::uint8_t b);
    static std::uint8_t BYTE2ASCIIHEX(std::uint8_t b);

    // Sleeps the calling thread on the program's clock. ms <= 0 returns.
    static void DelayT(int ms);
    // A delay that can be cut short: `wait` sleeps at most the milliseconds it
    // is given and returns false when something cut it. On the steady clock
    // `wait` gets the whole delay; a test clock takes the delay itself and
    // `wait` gets 0, so that a cut asked for meanwhile still counts (see
    // Clock::delay). Returns what `wait` returned.
    static bool DelayT(int ms, const std::function<bool(int ms)>& wait);
    // The program's clock: what DelayT sleeps on and the controller reads.
    // The steady clock unless a test set another.
    static std::shared_ptr<Clock> clock();
    // Prints one console line (text + '\n'), whole and flushed.
    static void OutLine(std::string_view text);
    static void Debug(std::string_view text);

    // Ends the process with `status`: flushes standard output, then _Exit.
    // Tests replace the handler (for example with one that throws).
    [[noreturn]] static void Exit(int status);
    // A start-up failure: waits `ms` so the operator can read the message,
    // then ends the process with `status`. While it waits, failingStatus()
    // gives `status`, so that a close signal ends the process with it too.
    [[noreturn]] static void FailAndExit(int ms, int status);
    // The status of the failure pause in progress, or -1. Lock-free: a signal
    // handler may read it.
    static int failingStatus() noexcept;

    // Test seams. Passing nullptr restores the real behaviour.
    static void setClock(std::shared_ptr<Clock> clock);
    static void setConsoleSink(std::function<void(std::string_view)> sink);
    // What runs in Exit before the process ends, on the thread that calls
    // Exit: the App ends its session log there, tests throw instead of
    // ending. Returns the handler it replaces, so that a new one can call it
    // after its own work.
    static std::function<void(int)> setExitHandler(std::function<void(int)> handler);
};

}  // namespace morvia
