// Where a listener listens: the value of a listener's setting read into an
// address and a port, and the listening socket opened there.
//
// Pure parsing (any thread, any input); listenOn opens a socket and touches
// nothing else.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "remote/Socket.h"

namespace morvia {

// A numeric address and a port to listen on.
struct ListenAddress {
    // The address every listener uses when the setting names only a port.
    static constexpr const char* loopback = "127.0.0.1";

    std::string host = loopback;  // dotted IPv4, or IPv6 without brackets
    int port = 0;                 // 0: any free port (tests)
    bool operator==(const ListenAddress&) const = default;
};

// What parseListenAddress made of a setting's value: the address, or why
// there is none.
struct ParsedListenAddress {
    std::optional<ListenAddress> address;
    std::string reason;  // set when address is empty
};

// Reads "ADDRESS:PORT", "[IPV6]:PORT" or a bare "PORT" (then 127.0.0.1).
// ADDRESS is a dotted IPv4 address or "localhost" (127.0.0.1); PORT is a
// decimal number from 0 to 65535. Anything else gives a reason fit for a
// console line ("port 70000 is not from 0 to 65535").
ParsedListenAddress parseListenAddress(std::string_view value);

// "127.0.0.1:2001", "[::1]:9993".
std::string describe(const ListenAddress& address);

// Opens a listening socket at `address` (see ServerSocket::open). Throws
// SocketError whose what() names the step, the address and the system's
// reason ("bind 127.0.0.1:2001: Address already in use").
ServerSocket listenOn(const ListenAddress& address);

}  // namespace morvia
