// Small owners of POSIX sockets for the network listeners.
//
// Thread-safety: a ServerSocket object is not synchronised; share
// one between threads only for calls that do not change it (get, accept
// through the descriptor). Several threads may accept on one listening
// socket at once: it is non-blocking, so a thread that loses the race polls
// again instead of blocking.
#pragma once

#include <stdexcept>
#include <string>

#include "startup/Posix.h"

namespace morvia {

// A socket failure, with what was attempted and the system's reason.
class SocketError : public std::runtime_error {
public:
    SocketError(const std::string& what, int err);
    int code() const noexcept { return code_; }

private:
    int code_;
};

// A listening TCP socket (IPv4 or IPv6). Move-only; closes on destruction.
class ServerSocket {
public:
    // Listens on `port` (0: any free port) at `address` (dotted IPv4, or
    // IPv6 without brackets; all IPv4 interfaces by default), with
    // SO_REUSEADDR and a backlog of 50.
    // Throws SocketError naming the step, address and port that failed.
    static ServerSocket open(int port, const std::string& address = "0.0.0.0");

    ServerSocket(ServerSocket&&) noexcept = default;
    ServerSocket& operator=(ServerSocket&&) noexcept = default;

    int fd() const noexcept { return fd_.get(); }
    // The port actually bound (the given one, or the chosen one for 0).
    int port() const noexcept { return port_; }

private:
    ServerSocket(UniqueFd fd, int port) : fd_(std::move(fd)), port_(port) {}
    UniqueFd fd_;
    int port_ = 0;
};

}  // namespace morvia
