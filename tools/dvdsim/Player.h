// The emulated DVD-V7400 without any input/output: modes, the virtual disc, the frame counter and
// the command interpreter. Time is passed in by the caller, so the engine can be driven by a real
// clock (Simulator) or by a test with exact instants.
//
// Thread-safety: none. A Player is a plain value; its owner serialises every call (Simulator keeps
// it under its mutex).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dvdsim {

using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;

// Player modes, as the "?P" reply reports them ("P" + two digits).
enum class Mode : int {
    TrayOpen = 0,
    Park = 1,       // state at power-on: disc not spinning
    SettingUp = 2,  // spinning up after "SA"
    Play = 4,
    Still = 5,
    Pause = 6,  // after "PA", and the state a finished spin-up lands in
    Searching = 7,
    Scanning = 8,
    MultiSpeed = 9,
};

// Error reply codes ("E" + two digits).
enum class Error : int {
    Communication = 0,  // command line longer than the input buffer
    NotAvailable = 4,   // unknown command, or a command the current mode forbids
    BadArgument = 6,    // missing, surplus or malformed number
    NotFound = 12,      // search or marker target not on the disc
};

struct DiscLayout {
    int titles = 3;
    int chaptersPerTitle = 12;
    int framesPerChapter = 1800;
    int framesPerTitle() const { return chaptersPerTitle * framesPerChapter; }
};

struct PlayerTiming {
    std::chrono::milliseconds spinup{2000};
    std::chrono::milliseconds search{300};
};

class Player {
public:
    // Rates are kept in frames per two seconds so that every speed is a whole number:
    // play 60 (30 frames/s), scan 600 (10x), multi-speed nn (nn/60 of normal).
    static constexpr int kPlayRate2 = 60;
    static constexpr int kScanRate2 = 600;

    Player(DiscLayout disc, PlayerTiming timing);

    // One command line received at `now`, without its carriage return. Returns the reply to send
    // at once ("R\r", "E04\r", "0001234\r", ...), or nothing when the reply comes later from
    // completeDue() (spin-up and searches reply when they finish).
    std::optional<std::string> command(std::string_view line, Time now);

    // When the pending spin-up or search finishes, if one is running.
    std::optional<Time> pendingDue() const;
    // Finishes the pending job if it is due at `now`: applies it at its due time, runs the rest of
    // its command line and returns the line's reply. Nothing when no job is due.
    std::optional<std::string> completeDue(Time now);

    // Unit switched off: the player goes to park (dropping any pending job without a reply) and
    // "SA" no longer spins the disc. Switching it on again changes nothing until the next "SA".
    void setUnitOff(bool off, Time now);

    // Observed state at `now` (pending jobs that are already due count as finished).
    Mode mode(Time now) const;
    int frame(Time now) const;  // frame within the current title, from 0
    int title(Time now) const;
    int chapter(Time now) const;
    std::optional<int> stopMarker(Time now) const;

    const DiscLayout& disc() const { return disc_; }

private:
    enum class Address { Frame, Title, Chapter, Time };
    struct Token {
        std::string code;    // two characters
        std::string digits;  // argument digits, possibly empty
    };
    struct Pending {
        enum class Kind { SpinUp, Search } kind;
        Time due;
        int title = 1;  // search target
        int frame = 0;
        std::vector<Token> rest;  // tokens after the search, run when it finishes
        Address address = Address::Frame;
    };

    static std::string errorReply(Error e);
    static std::optional<std::vector<Token>> parse(std::string_view line, Error& err);
    std::string query(const std::string& code, Time now);
    // Runs tokens from `from`; returns the reply, or nothing when a search was started (the
    // remaining tokens then wait in pending_).
    std::optional<std::string> run(std::vector<Token> tokens, std::size_t from, Address address, Time now);
    std::optional<Error> step(const Token& t, Address& address, Time now, bool& startedJob, std::vector<Token>& tokens,
                              std::size_t index);

    bool ready() const;
    // A copy advanced to `now`, with due jobs finished; for the const observers.
    Player observed(Time now) const;
    void settle(Time now);
    int framesNow(Time now) const;
    void moveAt(Time now, Mode mode, int rate2);
    void finishPending(Time now);

    DiscLayout disc_;
    PlayerTiming timing_;
    bool unitOff_ = false;

    Mode mode_ = Mode::Park;
    Mode beforeScan_ = Mode::Still;
    int title_ = 1;
    std::int64_t frame0_ = 0;  // frame at t0_
    Time t0_{};
    int rate2_ = 0;   // signed frames per two seconds; 0 when not moving
    int speed_ = 60;  // last "SP" argument
    std::optional<int> marker_;
    std::optional<Pending> pending_;
};

}  // namespace dvdsim
