#include "remote/ClientSocket.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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
    std::lock_guard g(threadLock_);
    if (thread_.joinable() || done_.load()) return;
    thread_ = std::thread([this] { run(); });
}

void ClientSocket::stop() {
    stopping_.store(true);
    std::uint64_t one = 1;
    // The counter cannot overflow from a few stop calls; a failed write only
    // means the thread is already awake.
    [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
    std::lock_guard g(threadLock_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

std::shared_ptr<UniqueFd> ClientSocket::connection() const {
    std::lock_guard g(lock_);
    return cs;
}

void ClientSocket::Send(const std::string& line) {
    std::lock_guard w(sendLock_);
    auto c = connection();
    if (!c) return;
    const std::string data = line + "\r\n";
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(c->get(), data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // gone or stuck past the send time-out
        sent += static_cast<std::size_t>(n);
    }
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
        int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            failed = true;
            return {};
        }
        if (stopping_.load() || (fds[1].revents & POLLIN)) return {};
        if (fds[0].revents & POLLNVAL) {
            failed = true;
            return {};
        }
        if (fds[0].revents == 0) continue;
        // Readable, or an error/hang-up that accept will name.
        int fd = ::accept4(ss->fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            // A client that never reads must not hold this thread for ever.
            timeval tv{5, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            return UniqueFd(fd);
        }
        // Another connection took the client, or it gave up before we got it.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) continue;
        failed = true;
        return {};
    }
}

ClientSocket::ReadResult ClientSocket::readLine(int fd, std::string& out) {
    for (;;) {
        // Hand out a complete line from what has arrived.
        if (skipLF_ && !pending_.empty()) {
            if (pending_[0] == '\n') pending_.erase(0, 1);
            skipLF_ = false;
        }
        std::size_t end = pending_.find_first_of("\r\n");
        if (end != std::string::npos) {
            if (end > maxLine) return ReadResult::tooLong;
            out.assign(pending_, 0, end);
            skipLF_ = pending_[end] == '\r';
            pending_.erase(0, end + 1);
            return ReadResult::line;
        }
        if (pending_.size() > maxLine) return ReadResult::tooLong;
        if (eof_) {
            if (pending_.empty()) return ReadResult::end;
            out = std::move(pending_);  // a last line without its line end
            pending_.clear();
            return ReadResult::line;
        }

        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return ReadResult::error;
        }
        if (stopping_.load() || (fds[1].revents & POLLIN)) return ReadResult::stopped;
        if (fds[0].revents & POLLNVAL) return ReadResult::error;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;

        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return ReadResult::error;
        }
        if (n == 0)
            eof_ = true;
        else
            pending_.append(buf, static_cast<std::size_t>(n));
    }
}

void ClientSocket::run() {
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
    } catch (const std::exception&) {
    }
    Utils::OutLine("Server Loop Close");
    done_.store(true);
}

} // namespace morvia
