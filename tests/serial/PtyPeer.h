// The far end of a pseudo-terminal for tests: the test opens the master side
// and plays the device on the other end of the line; the code under test
// opens slavePath() like any serial port.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace morvia::test {

class PtyPeer {
public:
    PtyPeer() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) throw std::runtime_error("no pseudo-terminal");
        char name[128];
        if (::ptsname_r(fd_, name, sizeof name) != 0) throw std::runtime_error("no pseudo-terminal name");
        slave_ = name;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPeer() { hangUp(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slavePath() const { return slave_; }

    void send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
            else std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Reads until `count` bytes arrived or `ms` passed; returns what came.
    std::string receive(std::size_t count, int ms = 3000) {
        std::string out;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out.size() < count) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0) break;
            pollfd pf{fd_, POLLIN, 0};
            if (::poll(&pf, 1, static_cast<int>(left)) <= 0) continue;
            char buf[256];
            ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

    // Reads one command terminated by a carriage return (CR included), or ""
    // after `ms` milliseconds.
    // A command cut by the time limit is kept for the next call.
    std::string receiveCommand(int ms = 3000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (partial_.empty() || partial_.back() != '\r') {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0) return "";
            pollfd pf{fd_, POLLIN, 0};
            if (::poll(&pf, 1, static_cast<int>(left)) <= 0) continue;
            char c;
            if (::read(fd_, &c, 1) == 1) partial_.push_back(c);
        }
        std::string out;
        out.swap(partial_);
        return out;
    }

    // Everything that arrives within `ms` milliseconds.
    std::string drain(int ms) {
        std::string out;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd pf{fd_, POLLIN, 0};
            if (::poll(&pf, 1, 5) <= 0) continue;
            char buf[256];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

    void hangUp() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    std::string slave_;
    std::string partial_;
};

}  // namespace morvia::test
