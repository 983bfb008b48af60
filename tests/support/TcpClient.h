// The client end of a loopback connection to the control server, with
// bounded waits.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "remote/Socket.h"

namespace morvia::test {

class TcpClient {
public:
    // `receiveBuffer` > 0: a small receive buffer, so that a client that does
    // not read fills up soon.
    explicit TcpClient(int port, int receiveBuffer = 0) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (!fd_) return;
        if (receiveBuffer > 0) ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    bool connected() const { return connected_; }

    // Sends the bytes as they are; false when not all of them went.
    bool send(const std::string& bytes) {
        std::size_t off = 0;
        while (off < bytes.size()) {
            ssize_t n = ::send(fd_.get(), bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Sends one line ended by CR LF.
    bool sendLine(const std::string& line) { return send(line + "\r\n"); }

    // The next line including its CR LF; "" on end of stream, "<timeout>"
    // when nothing complete arrived in time.
    std::string readLine(int ms = 20000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            auto nl = buf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buf_.substr(0, nl + 1);
                buf_.erase(0, nl + 1);
                return line;
            }
            if (eof_) return "";
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
            if (left <= 0) return "<timeout>";
            pollfd p{fd_.get(), POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) continue;
            char tmp[512];
            ssize_t n = ::recv(fd_.get(), tmp, sizeof tmp, 0);
            if (n <= 0) eof_ = true;
            else buf_.append(tmp, static_cast<std::size_t>(n));
        }
    }
    // The next answer: its line without the CR LF, or "" on end of stream or
    // when none came within `ms`.
    std::string readAnswer(int ms) {
        std::string line = readLine(ms);
        if (line == "<timeout>") return "";
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.resize(line.size() - 2);
        return line;
    }
    // True when the server closed the connection (after any pending lines).
    bool closedByServer() {
        for (;;) {
            std::string l = readLine();
            if (l.empty()) return true;
            if (l == "<timeout>") return false;
        }
    }
    void close() { fd_.reset(); }
    // Drops the connection with a reset instead of an orderly close.
    void reset() {
        linger l{1, 0};
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        fd_.reset();
    }

private:
    UniqueFd fd_;
    bool connected_ = false;
    bool eof_ = false;
    std::string buf_;
};

}  // namespace morvia::test
