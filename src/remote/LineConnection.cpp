#include "remote/LineConnection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "remote/Socket.h"
#include "startup/Utils.h"

namespace morvia {

namespace {

UniqueFd makeWakeFd() {
    UniqueFd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd) throw SocketError("eventfd for a client connection", errno);
    return fd;
}

int millisUntil(Clock::time_point when, Clock::time_point now) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 24 * 3600 * 1000));
}

}  // namespace

LineConnection::LineConnection(UniqueFd socket) : socket_(std::move(socket)), wake_(makeWakeFd()) {
    const int bytes = sendBufferBytes;
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void LineConnection::send(std::string_view bytes) {
    bool waiting = false;
    {
        std::lock_guard g(outLock_);
        if (closed_.load() || stuck_) return;
        if (outbox_.size() + bytes.size() > maxPendingOut) {
            stuck_ = true;  // the reader ends the connection
            waiting = true;
        } else {
            outbox_ += bytes;
            flushLocked();
            waiting = !outbox_.empty();
        }
    }
    if (waiting) wake();  // the reader waits for room in the socket
}

void LineConnection::sendLine(std::string_view line) {
    std::string block(line);
    block += "\r\n";
    send(block);
}

bool LineConnection::flushLocked() {
    std::size_t sent = 0;
    while (sent < outbox_.size()) {
        const ssize_t n = retryEintr([&] {
            return ::send(socket_.get(), outbox_.data() + sent, outbox_.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        });
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

void LineConnection::wake() {
    std::uint64_t one = 1;
    // A failed write only means a wake-up is pending already.
    [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
}

void LineConnection::close() {
    {
        std::lock_guard g(outLock_);
        if (closed_.load()) return;
        closed_.store(true);
        outbox_.clear();
    }
    ::shutdown(socket_.get(), SHUT_RDWR);
    wake();
}

bool LineConnection::closed() const { return closed_.load(); }

bool LineConnection::receive() {
    char buf[4096];
    const ssize_t n = retryEintr([&] { return ::recv(socket_.get(), buf, sizeof buf, MSG_DONTWAIT); });
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (n == 0) eof_ = true;
    else lines_.feed(buf, static_cast<std::size_t>(n));
    return true;
}

LineConnection::Read LineConnection::readLine(std::string& out, const std::stop_token& stop,
                                              std::optional<Clock::time_point> idleDeadline) {
    for (;;) {
        if (stop.stop_requested()) return Read::stopped;
        // Hand out a complete line from what has arrived.
        std::size_t fullLength = 0;
        if (lines_.take(out, fullLength)) return fullLength > maxLine ? Read::tooLong : Read::line;
        if (lines_.pendingLength() > maxLine) return Read::tooLong;
        if (eof_) {
            lines_.finish();  // a last line without its line end
            if (lines_.take(out, fullLength)) return fullLength > maxLine ? Read::tooLong : Read::line;
            return Read::end;
        }

        // While output waits, wait for room in the socket too, but only so
        // long without progress.
        bool outPending = false;
        {
            std::lock_guard g(outLock_);
            if (stuck_) return Read::stuck;
            outPending = !outbox_.empty();
        }
        const auto now = Utils::clock()->now();
        int timeout = -1;
        if (outPending) {
            if (!stalledSince_) stalledSince_ = now;
            const auto giveUp = *stalledSince_ + std::chrono::milliseconds(sendTimeoutMs);
            if (now >= giveUp) return Read::stuck;
            timeout = millisUntil(giveUp, now);
        } else {
            stalledSince_.reset();
        }
        if (idleDeadline) {
            if (now >= *idleDeadline) return Read::idle;
            const int idleLeft = millisUntil(*idleDeadline, now);
            timeout = timeout < 0 ? idleLeft : std::min(timeout, idleLeft);
        }

        pollfd fds[2] = {{socket_.get(), static_cast<short>(POLLIN | (outPending ? POLLOUT : 0)), 0},
                         {wake_.get(), POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR) continue;
            return Read::error;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wake_.get(), &count, sizeof count);
        }
        if (fds[0].revents & POLLNVAL) return Read::error;
        if (fds[0].revents & POLLOUT) {
            std::lock_guard g(outLock_);
            if (flushLocked()) stalledSince_ = Utils::clock()->now();
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
            if (!receive()) return Read::error;
    }
}

}  // namespace morvia
