// dvdsim::Simulator: an emulated DVD-V7400 on a pseudo-terminal, runnable in-process.
//
// The simulator opens a pseudo-terminal pair; a controller opens slavePath() as its serial port.
// Commands end at a carriage return. Replies leave after the reply latency, paced one byte per
// 10 bit times at 4800 bit/s (about 2.08 ms a byte). The player logic itself is dvdsim::Player.
//
// Player behaviour, in short:
//  - launch in park (P01); "SA" spins up (P02 for Options::spinupMs), then the player waits in
//    pause (P06) on frame 0 of title 1 and replies "R\r";
//  - "PL" play at 30 frames/s (P04), "ST" still (P05), "PA" stop in pause (P06), "NF"/"NR" scan
//    at 10x (P08) until "NS" (back to the mode before the scan) or another transport command,
//    "nnSPMF"/"nnSPMR" multi-speed at nn/60 of normal (P09), "SF"/"SR" one frame, in still;
//  - "FRnnnnnnnSE", "TInnSE", "CHnnSE", "TMhmmssSE" search (P07 for Options::searchMs, the frame
//    reply meanwhile reports the frame searched from), land in still and reply "R\r" when done;
//    the rest of the line (for example "PL") runs after the search. "ST" or "NS" alone during a
//    search is acknowledged and the search goes on; any other command but a query abandons a
//    running search without a reply for it;
//  - "FRnnnnnnnSM" sets the stop marker: forward play or multi-speed halts on exactly that frame,
//    in still; "FRnnnnnnnSMPL" sets it and plays;
//  - forward motion runs from a title's end into the next title; at the disc's end, and at frame 0
//    in reverse, the player stops in still;
//  - "?P" -> "Pnn\r", "?F" -> seven digits + "\r", "?A" -> title and chapter "ttcc\r",
//    "?R"/"?C" -> title or chapter "nn\r"; a bare "\r" and "CL" -> "R\r";
//  - "OP" tray open (P00), "CO" closes it (park), "RJ" stops the disc (park);
//  - errors: "E04\r" unknown command or one the mode forbids, "E06\r" bad number, "E12\r"
//    target not on the disc (nothing changes), "E00\r" a line longer than 64 bytes.
//
// Spin-up and searches answer when they finish, so a controller that reads a fixed time after
// writing finds that "R\r" ahead of the reply to its next command. Queries are answered at once,
// also while a spin-up or search runs. "SA" with the unit off is acknowledged at once.
//
// Thread-safety: every public member may be called from any thread once the object is built;
// state is guarded by one internal mutex. The simulator runs one thread of its own, started by
// start() and joined by stop() or the destructor. Options::onLog is called on that thread with
// no lock held; it must not call stop() or destroy the simulator (a stop from the simulator's
// own thread would wait for itself and ends the process with a message).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dvdsim/Player.h"

namespace dvdsim {

struct LogEntry {
    enum class Kind {
        Command,  // a command line received, carriage return included
        Reply,    // a reply sent, as the bytes that went out (garbage included)
        Event,    // a note: line opened, hang-up, a reply byte the line refused
    };
    Kind kind;
    Time at;   // command: when its carriage return arrived; reply: first byte written
    Time end;  // reply: last byte written; otherwise equal to `at`
    std::string bytes;

    // Monotonic clock reading in milliseconds (CLOCK_MONOTONIC, the steady clock).
    double ms() const;
};

// Printable form of bytes: ASCII printables as they are, CR as "\r", LF as "\n", others "\xNN".
std::string readable(std::string_view bytes);

struct Faults {
    bool silent = false;        // read and obey commands, never answer
    bool unitOff = false;       // never leave park ("SA" is acknowledged but does nothing)
    bool errorReplies = false;  // answer "E04\r" to every command, obey none
    double garbageRate = 0.0;   // share (0..1) of reply bytes replaced by random bytes
    int lateMs = 0;             // added to the latency of every reply
};

struct Options {
    std::string linkPath;  // symlink to the slave, made at start() (and at a replug), removed at a
                           // hang-up and at stop()
    std::string logPath;   // text log, one line per entry, flushed per line
    int latencyMs = 5;     // carriage return to the first reply byte
    int bitRate = 4800;    // 10 bit times per byte (8N1)
    int spinupMs = 2000;
    int searchMs = 300;
    DiscLayout disc;
    Faults faults;
    int hangupAfterMs = -1;  // close the line this long after start(); negative: never
    // After every hang-up, this long later: a fresh pseudo-terminal (a new slave path) with the
    // link pointed at it, as a replugged adapter comes back; negative: the line stays gone.
    // The link itself goes away at the hang-up, as an unplugged adapter's does.
    int replugAfterMs = -1;
    unsigned seed = 0;  // garbage generator seed; 0 picks a random one
    std::function<void(const LogEntry&)> onLog;
};

class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator();  // stop()
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pseudo-terminal, makes the link and the log file, starts the thread. Throws
    // std::system_error when the terminal, link or log cannot be made. Call once.
    void start();
    // Ends the thread, closes the line, removes the link. Idempotent.
    void stop();

    std::string slavePath() const;  // empty before start()

    std::vector<LogEntry> log() const;              // every entry so far (copy)
    std::vector<LogEntry> commands() const;         // the Command entries only
    std::vector<std::string> commandTexts() const;  // their bytes, e.g. "?F\r"
    void clearLog();

    // Live faults; they take effect for the next command or reply byte.
    void setSilent(bool on);
    void setUnitOff(bool on);  // on: the player drops to park and stays there
    void setErrorReplies(bool on);
    void setGarbageRate(double rate);
    void setLateMs(int ms);
    void hangUp();        // close the line now, as an unplugged adapter would (no-op while hung up)
    bool hungUp() const;  // true from a hang-up until the replug (if any)
    int replugs() const;  // fresh lines opened after hang-ups

    // The emulated player's state now.
    Mode mode() const;
    int frame() const;
    int title() const;
    int chapter() const;
    std::optional<int> stopMarker() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace dvdsim
