// One connection's conversation on the HyperDeck-compatible port, with no
// I/O: the command table mapped onto deck operations, the answers, the
// notification settings, the watchdog and the asynchronous messages that a
// change of the deck's state calls for.
//
// Every command is answered at once. Operations that take time (a search,
// a title change, a segment played once or in a loop) are handed to the
// deck, which runs them in order on a thread of its own; the answer does not
// wait for them. While the player does not answer, transport commands are
// refused with "105 no disk" and the information blocks say so.
//
// Thread-safety: every member may be called from any thread (one lock, a
// leaf, guards the session; the deck is called with it held and must not
// call back).
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "remote/HyperDeckProtocol.h"

namespace morvia::hyperdeck {

// A deck operation, run in the order given.
struct Op {
    enum class Kind {
        play,
        pause,
        slowQuarter,
        slowHalf,
        forward,
        rewind,
        jog,           // number: frames, negative backwards
        gotoTimecode,  // in: the timecode
        gotoTitle,     // number: the title
        setRange,      // in, out: the timecodes
        clearRange,
        review,  // the range once
        loop,    // the range, the settings' repeat count of times
    };
    Op() = default;
    explicit Op(Kind k, int n = 0, std::string a = {}, std::string b = {})
        : kind(k), number(n), in(std::move(a)), out(std::move(b)) {}
    Kind kind = Kind::pause;
    int number = 0;
    std::string in;
    std::string out;
    bool operator==(const Op&) const = default;
};

// What a session asks of the player.
class Deck {
public:
    virtual ~Deck() = default;
    virtual DeckState state() const = 0;
    // True when a timecode of `frames` (before the offset) has a player frame.
    virtual bool reachable(int frames) const = 0;
    // True while an in point and a valid out point are set.
    virtual bool hasRange() const = 0;
    // Queues `op` behind the operations before it; false when too many wait.
    virtual bool submit(Op op) = 0;
    // Drops what waits, ends a segment or loop that plays and holds the frame.
    virtual void stop() = 0;
};

class Session {
public:
    using Clock = std::chrono::steady_clock;
    // Display timecode messages are at least this far apart.
    static constexpr std::chrono::milliseconds kTimecodeInterval{100};
    // The largest jog, in frames.
    static constexpr int kMaxJog = 300;

    struct Reply {
        std::string text;    // one or more whole blocks; empty: nothing to send
        bool close = false;  // close the connection once the text is written
    };

    explicit Session(Deck& deck);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // One line from the client, without its line end, received at `now`.
    Reply line(std::string_view text, Clock::time_point now);
    // The asynchronous messages that `state` calls for since the last call
    // (or since the notification was switched on), one block each.
    std::vector<std::string> changes(const DeckState& state, Clock::time_point now);
    // True once the watchdog period has passed since the last command.
    bool watchdogExpired(Clock::time_point now) const;
    // When the watchdog period runs out; nullopt while there is none.
    std::optional<Clock::time_point> watchdogDeadline() const;
    // True while any notification is switched on.
    bool notifying() const;

private:
    struct Notify {
        bool transport = false;
        bool slot = false;
        bool remote = false;
        bool configuration = false;
        bool displayTimecode = false;
    };

    Reply handle(const Request& r);  // lock_ held
    std::string play(const Request& r, bool shuttle);
    std::string gotoCommand(const Request& r);
    std::string jog(const Request& r);
    std::string playrange(const Request& r, bool set);
    std::string notify(const Request& r);
    std::string watchdog(const Request& r);
    std::string remote(const Request& r);
    std::string slotInfo(const Request& r);
    // A transport operation: refused while the player does not answer or
    // the remote control is off, refused when the queue is full.
    std::string transport(Op op);
    // The operation for a speed in percent; nullopt for a speed the player has not.
    static std::optional<Op> speedOp(int speed);

    Deck& deck_;
    mutable std::mutex lock_;
    RequestReader reader_;
    Notify notify_;
    bool remoteEnabled_ = true;
    int watchdogSeconds_ = 0;
    Clock::time_point lastCommand_{};
    // What the client was last told (the baseline of the next messages).
    Params lastTransport_;
    Params lastSlot_;
    std::string lastTimecode_;
    std::optional<Clock::time_point> lastTimecodeSent_;
};

}  // namespace morvia::hyperdeck
