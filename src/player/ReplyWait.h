// How long an exchange goes on waiting for the rest of a reply after the
// link's fixed wait. A port behind a serial device server gets the reply
// later than a local line: the server holds bytes before sending them on and
// the network adds its own delay. There the exchange waits on until the
// reply's carriage return arrives or replyLimitMs have passed since the
// command was written, so that no reply is read into the next exchange. A
// local line keeps exactly the fixed wait.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace morvia {

inline constexpr int replyLimitMs = 250;

// Milliseconds still to wait: 0 for a port that keeps the fixed wait, for a
// reply that has its carriage return, and once the limit has passed.
inline int replyWaitLeftMs(bool untilCr, std::span<const std::uint8_t> reply, int msSinceWrite) {
    if (!untilCr || std::find(reply.begin(), reply.end(), std::uint8_t{'\r'}) != reply.end()) return 0;
    return std::max(0, replyLimitMs - msSinceWrite);
}

}  // namespace morvia
