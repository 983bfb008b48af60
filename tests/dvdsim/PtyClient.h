// A minimal controller end of the line for simulator tests: opens a pseudo-terminal slave in raw
// mode, writes commands and reads replies with the arrival time of every byte.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dvdsim::test {

class PtyClient {
public:
    using Clock = std::chrono::steady_clock;
    using ms = std::chrono::milliseconds;

    struct Reply {
        std::string bytes;
        std::vector<Clock::time_point> times;  // arrival of each byte
        bool hangup = false;                   // the line went away (POLLHUP, EIO or end of file)
    };

    explicit PtyClient(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("cannot open " + path);
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~PtyClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    // Writes the bytes as they are; returns when they were handed to the line.
    Clock::time_point send(std::string_view bytes) {
        [[maybe_unused]] auto n = ::write(fd_, bytes.data(), bytes.size());
        return Clock::now();
    }

    // Reads until `count` bytes, or a carriage return when count is 0, or the timeout.
    Reply read(ms timeout, std::size_t count = 0) {
        Reply r;
        const auto end = Clock::now() + timeout;
        for (;;) {
            if (count ? r.bytes.size() >= count : (!r.bytes.empty() && r.bytes.back() == '\r')) break;
            const auto left = std::chrono::duration_cast<ms>(end - Clock::now()).count();
            if (left < 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left) + 1) <= 0) continue;
            char c;
            const ssize_t n = ::read(fd_, &c, 1);  // one byte at a time: exact arrival times
            if (n == 1) {
                r.bytes += c;
                r.times.push_back(Clock::now());
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR) || (p.revents & POLLHUP)) {
                r.hangup = true;
                break;
            }
        }
        return r;
    }

    // Sends the command with its carriage return and returns the reply text ("" when none came).
    std::string ask(std::string_view command, ms timeout = ms(3000)) {
        send(std::string(command) + "\r");
        return read(timeout).bytes;
    }

private:
    int fd_ = -1;
};

}  // namespace dvdsim::test
