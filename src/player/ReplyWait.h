// How long an exchange goes on waiting for the rest of a reply after the
// link's fixed wait. A port behind a serial device server gets the reply
// later than a local line: the server holds bytes before sending them on and
// the network adds its own delay. There the exchange waits on until the
// reply's carriage return arrives or replyLimitMs have passed since the
// command was written, so that no reply is read into the next exchange. A
// local line keeps exactly the fixed wait.
#pragma once

#include <algorithm>
#include <cstddef>
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

// A reply later than the limit can be cut by the drop of late bytes before
// the next write: its start is dropped, its rest still comes. While
// `lateRest` is set, the bytes read are that rest: they are removed up to and
// including its carriage return (which clears `lateRest`), and what follows
// moves to the front. Returns how many bytes are left.
inline std::size_t dropLateRest(std::span<std::uint8_t> bytes, bool& lateRest) {
    if (!lateRest) return bytes.size();
    const auto cr = std::find(bytes.begin(), bytes.end(), std::uint8_t{'\r'});
    if (cr == bytes.end()) return 0;
    lateRest = false;
    const auto kept = std::copy(cr + 1, bytes.end(), bytes.begin());
    return static_cast<std::size_t>(kept - bytes.begin());
}

}  // namespace morvia
