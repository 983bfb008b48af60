// ser2net in front of a pseudo-terminal, for tests and benchmarks: a
// generated YAML configuration in a temporary folder, a free loopback port,
// RFC 2217 (telnet(rfc2217)) or raw TCP, started, killed and started again on
// the same port.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/ChildProcess.h"
#include "support/Eventually.h"
#include "support/TestSupport.h"

namespace morvia::test {

// The installed ser2net program, or "" (scripts/setup.sh installs it).
inline std::string ser2netProgram() {
    for (const char* p : {"/usr/sbin/ser2net", "/usr/bin/ser2net"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

// A loopback TCP port nothing listens on at the moment of the call.
inline int freeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (s >= 0) ::close(s);
        throw std::runtime_error("no free loopback port");
    }
    ::close(s);
    return ntohs(a.sin_port);
}

// True while a socket listens on 127.0.0.1:port (read from /proc/net/tcp, so
// that the check itself opens no session with the server).
inline bool loopbackListening(int port) {
    std::ifstream in("/proc/net/tcp");
    char want[32];
    std::snprintf(want, sizeof want, "0100007F:%04X", port);
    for (std::string line; std::getline(in, line);) {
        if (line.find(std::string(want) + " 00000000:0000 0A") != std::string::npos) return true;
    }
    return false;
}

class SerialServer {
public:
    // `device`: the terminal the server opens, at `speed` 8N1 (what an RFC
    // 2217 client may change).
    SerialServer(bool rfc2217, std::string device, int speed = 9600)
        : rfc2217_(rfc2217), device_(std::move(device)), speed_(speed), port_(freeLoopbackPort()) {}
    ~SerialServer() { kill(); }
    SerialServer(const SerialServer&) = delete;
    SerialServer& operator=(const SerialServer&) = delete;

    std::string url() const { return (rfc2217_ ? "rfc2217://127.0.0.1:" : "socket://127.0.0.1:") + std::to_string(port_); }
    int port() const { return port_; }

    // Starts the server and waits until it listens; the error names what failed.
    void start() {
        const std::string program = ser2netProgram();
        if (program.empty()) throw std::runtime_error("ser2net is not installed (scripts/setup.sh installs it)");
        const std::string config = dir_.file("ser2net.yaml");
        std::ofstream(config) << "connection: &player\n"
                              << "    accepter: " << (rfc2217_ ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1,"
                              << port_ << "\n"
                              << "    connector: serialdev," << device_ << "," << speed_ << "n81,local\n"
                              << "    options:\n      kickolduser: true\n";
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{program, "-d", "-u", "-P", dir_.file("ser2net.pid"), "-c", config}, dir_.path(),
            dir_.path() / ("ser2net-" + std::to_string(++starts_) + ".out"), std::vector<std::string>{},
            ChildProcess::Errors::Merged);
        if (!eventually([&] { return loopbackListening(port_) || process_->wait(std::chrono::milliseconds(0)); },
                        std::chrono::seconds(10)) ||
            !loopbackListening(port_))
            throw std::runtime_error("ser2net did not listen on " + url());
    }
    // Kills the server at once, as a crash or a power cut does.
    void kill() {
        if (process_) process_->end(SIGKILL, std::chrono::seconds(5));
        process_.reset();
    }

private:
    bool rfc2217_;
    std::string device_;
    int speed_;
    int port_;
    int starts_ = 0;
    TempDir dir_{"ser2net"};
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace morvia::test
