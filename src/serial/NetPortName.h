// Port names that reach a serial port through a serial device server over
// TCP, in the form users know from other serial tools:
//   socket://HOST:PORT   a raw byte stream; line settings are the server's
//   rfc2217://HOST:PORT  Telnet with the COM-PORT-OPTION (RFC 2217), through
//                        which the client sets the far port's line
// HOST is a host name, an IPv4 address or an IPv6 address in brackets.
#pragma once

#include <optional>
#include <string>

namespace morvia {

struct NetPortName {
    bool rfc2217 = false;
    std::string host;  // without the brackets of an IPv6 address
    std::string service;  // the port number as written (1..65535)
};

// True when the name starts with one of the two schemes (whatever follows).
bool isNetworkPortName(const std::string& name);
// The parts of a well-formed network port name; nullopt for anything else.
std::optional<NetPortName> parseNetPortName(const std::string& name);

}  // namespace morvia
