// One accepted network client as every listener's protocol uses it: the
// bytes that arrive cut into lines, and the bytes that go out through an
// outbox that never makes the sender wait.
//
// Input: lines end at LF, CR, CR LF, LF CR or NUL (text::LineEnds::network).
// A line longer than maxLine ends the connection (readLine: tooLong).
// Output: send() queues whole blocks in call order and writes what the socket
// takes at once without blocking; the rest goes out from readLine on the
// connection thread as the client reads. A client that takes nothing for
// sendTimeoutMs while something waits, or lets more than maxPendingOut bytes
// pile up, is "stuck": readLine returns stuck and the protocol closes it.
//
// Thread rule: send, sendLine, wake, close and closed may be called from any
// thread (a query answer, a notification from the player's side, a stop).
// readLine belongs to the connection's own thread (one reader only). The
// socket stays open until the object goes, so a descriptor number is never
// reused under a sender; close() only shuts it down.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "startup/Clock.h"
#include "startup/Posix.h"
#include "startup/TextFiles.h"

namespace morvia {

class LineConnection {
public:
    // Lines longer than this (without the line end) end the connection.
    static constexpr std::size_t maxLine = 4096;
    // A client that takes nothing of what we send for this long (while
    // something waits to go out) is stuck.
    static constexpr int sendTimeoutMs = 5000;
    // Bytes that may wait to go out before the client counts as stuck.
    static constexpr std::size_t maxPendingOut = 1 << 20;
    // The send buffer asked of the kernel for each client socket: answers
    // are short, and a modest buffer (no growth by the kernel's tuning) lets
    // a client that does not read show up as stuck within the time-out.
    static constexpr int sendBufferBytes = 64 * 1024;

    enum class Read {
        line,     // `out` holds the next line, without its end
        end,      // the client closed its side (no line left)
        error,    // a read failed (a reset connection, say)
        tooLong,  // a line longer than maxLine
        stuck,    // the client does not take what we send
        stopped,  // the stop token was raised (see wake)
        idle,     // no line came before the idle deadline
    };

    // Takes an accepted socket. Throws SocketError when the wake-up
    // descriptor cannot be made.
    explicit LineConnection(UniqueFd socket);
    LineConnection(const LineConnection&) = delete;
    LineConnection& operator=(const LineConnection&) = delete;

    // --- any thread ---
    // Queues `bytes` as one block behind what waits and writes what the
    // socket takes now. A block is never cut short, so one protocol message
    // is never glued to part of another; one that fits the socket goes out
    // in one write. Dropped once the connection is closed or stuck. Write
    // failures are otherwise ignored: the reader finds a gone client.
    void send(std::string_view bytes);
    // send(line + CR LF).
    void sendLine(std::string_view line);
    // Makes a readLine waiting on another thread look at its stop token
    // (call it from the token's stop callback).
    void wake();
    // Shuts the socket down both ways (the client sees the end; a reader
    // wakes) and drops what still waits to go out. Safe to repeat.
    void close();
    bool closed() const;

    // --- the connection's own thread ---
    // The next line. Blocks until one is complete, the client ends, `stop`
    // is raised (after wake) or, with an `idleDeadline` on the program's
    // clock (Utils::clock()), that time passes. Meanwhile sends what waits
    // in the outbox as the client takes it.
    Read readLine(std::string& out, const std::stop_token& stop,
                  std::optional<Clock::time_point> idleDeadline = std::nullopt);

private:
    // Writes what the outbox holds as far as the socket takes it without
    // waiting; the caller holds outLock_. True when some bytes went.
    bool flushLocked();
    // Reads what has arrived into lines_; false at a read error.
    bool receive();

    const UniqueFd socket_;
    const UniqueFd wake_;  // eventfd: written by wake() and by send() to wake poll()

    std::mutex outLock_;  // guards the two below and writes of closed_; held only for non-blocking sends
    std::string outbox_;  // bytes of whole blocks not yet taken by the socket
    bool stuck_ = false;  // too much piled up
    std::atomic<bool> closed_{false};  // read without the lock (closed())

    // Connection thread only.
    text::LineQueue lines_{maxLine + 1, text::LineEnds::network};
    bool eof_ = false;
    // Since when output has waited without the socket taking any.
    std::optional<Clock::time_point> stalledSince_;
};

}  // namespace morvia
