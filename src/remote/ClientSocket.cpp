#include "remote/ClientSocket.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

#include "player/LocalVCR.h"
#include "remote/CommandLanguage.h"
#include "startup/Utils.h"

namespace morvia {

bool OpenServerSocket(LocalVCR& vcr, int port, std::shared_ptr<ServerSocket>& ss) {
    try {
        auto opened = std::make_shared<ServerSocket>(ServerSocket::open(port));
        ss = opened;
        vcr.ShowStat("Server Socket Opened OK at Port " + std::to_string(opened->port()));
        return true;
    } catch (const SocketError&) {
        vcr.ShowStat("Can't Get ServerSocket at Port " + std::to_string(port));
        return false;
    }
}

ClientSocket::ClientSocket(std::shared_ptr<ServerSocket> s, LocalVCR& vcr)
    : ss(std::move(s)), svcr(vcr), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!wake_) throw SocketError("eventfd for a client connection", errno);
}

ClientSocket::~ClientSocket() { stop(); }

void ClientSocket::start() {
    worker_.start([this](std::stop_token token) {
        // The thread waits in poll(): a stop reaches it through the eventfd.
        std::stop_callback onStop(token, [this] { wake(); });
        run();
    });
}

void ClientSocket::stop() {
    worker_.stop();  // a stopped connection never starts
}

std::shared_ptr<UniqueFd> ClientSocket::connection() const {
    std::lock_guard g(lock_);
    return cs;
}

void ClientSocket::Send(const std::string& line) {
    auto c = connection();
    if (!c) return;
    bool waiting = false;
    {
        std::lock_guard g(outLock_);
        if (stuck_) return;
        if (outbox_.size() + line.size() + 2 > maxPendingOut) {
            stuck_ = true;  // the connection thread ends the connection
            waiting = true;
        } else {
            // Whole lines only: a line is never cut short, so the next one
            // can never be glued to a fragment.
            outbox_ += line;
            outbox_ += "\r\n";
            flushLocked(c->get());
            waiting = !outbox_.empty();
        }
    }
    if (waiting) wake();  // the connection thread waits for room in the socket
}

bool ClientSocket::flushLocked(int fd) {
    std::size_t sent = 0;
    while (sent < outbox_.size()) {
        const ssize_t n = retryEintr(
            [&] { return ::send(fd, outbox_.data() + sent, outbox_.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT); });
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
            outbox_.clear();  // gone: the reader finds out and ends the connection
            return true;
        }
        sent += static_cast<std::size_t>(n);
    }
    outbox_.erase(0, sent);
    return sent > 0;
}

void ClientSocket::wake() {
    std::uint64_t one = 1;
    // A failed write only means the thread has a wake-up pending already.
    [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
}

void ClientSocket::Close(bool) {
    std::shared_ptr<UniqueFd> c;
    {
        std::lock_guard g(lock_);
        c = std::move(cs);
        cs.reset();
    }
    if (c) {
        // Wakes a reader on another thread; the descriptor itself closes
        // when its last holder lets go.
        ::shutdown(c->get(), SHUT_RDWR);
        c.reset();
    }
    svcr.gui().EnableConnect(true);
    svcr.CommandB5();
}

void ClientSocket::ShowStat(const std::string& text) { svcr.ShowStat(text); }

UniqueFd ClientSocket::acceptClient(bool& failed) {
    failed = !ss;
    if (failed) return {};
    for (;;) {
        pollfd fds[2] = {{ss->fd(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        if (retryEintr([&] { return ::poll(fds, 2, -1); }) < 0) {
            failed = true;
            return {};
        }
        if (worker_.stopRequested() || (fds[1].revents & POLLIN)) return {};
        if (fds[0].revents & POLLNVAL) {
            failed = true;
            return {};
        }
        if (fds[0].revents == 0) continue;
        // Readable, or an error/hang-up that accept will name.
        const int fd = retryEintr([&] { return ::accept4(ss->fd(), nullptr, nullptr, SOCK_CLOEXEC); });
        if (fd >= 0) {
            // Answers are short lines: a modest socket buffer (no growth by
            // the kernel's tuning) lets a client that does not read show up
            // as one within the send time-out. Sends never block: see Send.
            const int bytes = sendBufferBytes;
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
            return UniqueFd(fd);
        }
        // Another connection took the client, or it gave up before we got it.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) continue;
        failed = true;
        return {};
    }
}

ClientSocket::ReadResult ClientSocket::readLine(int fd, std::string& out) {
    for (;;) {
        // Hand out a complete line from what has arrived.
        std::size_t fullLength = 0;
        if (lines_.take(out, fullLength)) return fullLength > maxLine ? ReadResult::tooLong : ReadResult::line;
        if (lines_.pendingLength() > maxLine) return ReadResult::tooLong;
        if (eof_) {
            lines_.finish();  // a last line without its line end
            if (lines_.take(out, fullLength)) return ReadResult::line;
            return ReadResult::end;
        }

        // While answers wait to go out, wait for room in the socket too, but
        // only so long without progress.
        bool outPending = false;
        {
            std::lock_guard g(outLock_);
            if (stuck_) return ReadResult::stuck;
            outPending = !outbox_.empty();
        }
        int timeout = -1;
        const auto now = Utils::clock()->now();
        if (outPending) {
            if (!stalledSince_) stalledSince_ = now;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  *stalledSince_ + std::chrono::milliseconds(sendTimeoutMs) - now)
                                  .count();
            if (left <= 0) return ReadResult::stuck;
            timeout = static_cast<int>(left);
        } else {
            stalledSince_.reset();
        }

        pollfd fds[2] = {{fd, static_cast<short>(POLLIN | (outPending ? POLLOUT : 0)), 0}, {wake_.get(), POLLIN, 0}};
        int r = ::poll(fds, 2, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            return ReadResult::error;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wake_.get(), &count, sizeof count);
        }
        if (worker_.stopRequested()) return ReadResult::stopped;
        if (fds[0].revents & POLLNVAL) return ReadResult::error;
        if (fds[0].revents & POLLOUT) {
            std::lock_guard g(outLock_);
            if (flushLocked(fd)) stalledSince_ = Utils::clock()->now();
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;

        char buf[4096];
        const ssize_t n = retryEintr([&] { return ::recv(fd, buf, sizeof buf, MSG_DONTWAIT); });
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return ReadResult::error;
        }
        if (n == 0) eof_ = true;
        else lines_.feed(buf, static_cast<std::size_t>(n));
    }
}

void ClientSocket::run() {
    worker_.requireOnThread("the connection's read state belongs to its own thread");
    try {
        a.store(false);
        ShowStat("Awaiting Client Connection");
        bool failed = false;
        UniqueFd accepted = acceptClient(failed);
        std::shared_ptr<UniqueFd> conn;
        if (accepted) {
            conn = std::make_shared<UniqueFd>(std::move(accepted));
            {
                std::lock_guard g(lock_);
                cs = conn;
            }
            ShowStat("Client Connection Accepted!");
            Send("OK");
            a.store(true);
        } else if (failed) {
            ShowStat("I/O Open Unsuccessful");
        }

        while (a.load()) {
            str.clear();
            ReadResult r = readLine(conn->get(), str);
            if (r == ReadResult::stopped) break;
            if (r == ReadResult::error) {
                Utils::OutLine("Server ReadLine I/O Error");
                a.store(false);
                break;
            }
            if (r == ReadResult::tooLong) {
                ShowStat("Line Too Long Close");
                break;
            }
            if (r == ReadResult::stuck) {
                ShowStat("Send Time-out Close");
                break;
            }
            if (r == ReadResult::end) {
                ShowStat("Client Command: null");
                ShowStat("Null Close");
                break;
            }
            ShowStat("Client Command: " + str);
            if (str.empty()) {
                ShowStat("Len=0 Close");
                break;
            }
            if (str == "Close" || str == "KILL") {
                ShowStat("Client Closed Connection!");
                break;
            }
            try {
                ParseNetCommand(svcr, str);
            } catch (const std::exception&) {
                // A bad number or a field that is no timecode: the line is
                // ignored and the connection stays open.
            }
        }
        conn.reset();
    } catch (const std::exception&) {
        // A failing window or console call must not take the process down:
        // fall through to the orderly end.
    }
    a.store(false);
    try {
        Close(false);
    } catch (const std::exception&) {}
    {
        std::lock_guard g(outLock_);
        outbox_.clear();
    }
    Utils::OutLine("Server Loop Close");
    done_.store(true);
}

}  // namespace morvia
