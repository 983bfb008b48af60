#include "remote/Listener.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "sessionlog/SessionLog.h"
#include "startup/Utils.h"

namespace morvia {

struct Listener::Slot {
    std::shared_ptr<LineConnection> line;
    std::unique_ptr<Connection> connection;
    std::atomic<bool> done{false};  // serve() returned and the socket is closed
    Worker worker;                  // last: joined before the rest goes

    explicit Slot(const std::string& name) : worker(name + " connection") {}
};

namespace {

// The client's address as "host:port" ("[host]:port" for IPv6), empty
// when the socket does not say.
std::string peerOf(int fd) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return {};
    char host[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
        ::inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(ntohs(v4.sin_port));
    }
    if (a.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    return {};
}

UniqueFd makeEventFd() {
    UniqueFd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd) throw SocketError("eventfd for a listener", errno);
    return fd;
}

// accept4 failures that end when a resource is back: wait, then go on.
bool outOfResources(int err) { return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM; }

}  // namespace

Listener::Listener(ServerSocket socket, Protocol protocol)
    : protocol_(std::move(protocol)),
      port_(socket.port()),
      socket_(std::move(socket)),
      wake_(makeEventFd()),
      acceptWorker_(protocol_.name + " accept") {}

Listener::~Listener() { stop(); }

void Listener::start() {
    acceptWorker_.start([this](std::stop_token token) {
        std::stop_callback onStop(token, [this] { wake(); });
        acceptLoop(token);
    });
}

void Listener::stop() {
    acceptWorker_.stop();  // no client is admitted after this
    std::vector<std::unique_ptr<Slot>> slots;
    {
        std::lock_guard g(lock_);
        slots.swap(slots_);
    }
    // All at once, then join each: the connections end side by side.
    for (auto& s : slots) s->worker.requestStop();
    for (auto& s : slots) s->worker.stop();
    slots.clear();
    socket_.reset();  // the port is free
}

int Listener::clients() const {
    std::lock_guard g(lock_);
    int n = 0;
    // A client whose socket is closed has seen its end and may come back at
    // once: its place is free, although its thread may still be finishing.
    for (const auto& s : slots_)
        if (!s->done.load() && !s->line->closed()) ++n;
    return n;
}

void Listener::wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
}

void Listener::acceptLoop(const std::stop_token& stop) {
    const int listenFd = socket_->fd();
    while (!stop.stop_requested()) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        if (retryEintr([&] { return ::poll(fds, 2, -1); }) < 0) {
            Utils::OutLine(protocol_.name + ": " + std::strerror(errno));
            return;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wake_.get(), &count, sizeof count);
        }
        if (stop.stop_requested()) return;
        reap();
        if (fds[0].revents == 0) continue;
        if (fds[0].revents & POLLNVAL) {
            Utils::OutLine(protocol_.name + ": the listening socket is gone");
            return;
        }
        // Take every waiting client now, so none sits in the backlog.
        for (;;) {
            const int fd = retryEintr([&] { return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC); });
            if (fd >= 0) {
                admit(UniqueFd(fd));
                continue;
            }
            const int err = errno;
            if (err == EAGAIN || err == EWOULDBLOCK) break;
            if (err == ECONNABORTED || err == EPROTO) continue;  // the client gave up first
            if (outOfResources(err)) {
                acceptWorker_.sleepFor(std::chrono::milliseconds(100));
                break;
            }
            Utils::OutLine(protocol_.name + ": accept: " + std::strerror(err));
            return;
        }
    }
}

void Listener::admit(UniqueFd client) {
    const std::string peer = sessionlog::enabled() ? peerOf(client.get()) : std::string();
    const int served = clients();
    if (served >= maxClients) {
        // One line, without waiting for the client, then closed.
        const std::string busy = protocol_.busyLine + "\r\n";
        [[maybe_unused]] auto n = ::send(client.get(), busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        sessionlog::connectionClosed(protocol_.source, peer, "refused: " + protocol_.busyLine);
        return;  // closed as `client` goes
    }
    auto slot = std::make_unique<Slot>(protocol_.name);
    try {
        slot->line = std::make_shared<LineConnection>(std::move(client));
        slot->connection = protocol_.connect(slot->line);
    } catch (const std::exception& e) {
        Utils::OutLine(protocol_.name + ": " + e.what());
        return;  // the client is closed with what was made for it
    }
    Slot& s = *slot;
    {
        std::lock_guard g(lock_);
        slots_.push_back(std::move(slot));
    }
    s.worker.start([this, &s, peer](std::stop_token token) {
        std::stop_callback onStop(token, [&s] { s.line->wake(); });
        // Everything this thread hands to the player is logged as the client's.
        const sessionlog::Scope source(protocol_.source, peer);
        sessionlog::connectionOpened(protocol_.source, peer);
        try {
            s.connection->serve(token);
        } catch (const std::exception& e) {
            Utils::OutLine(protocol_.name + " connection: " + e.what());
        }
        s.line->close();
        sessionlog::connectionClosed(protocol_.source, peer, token.stop_requested() ? "listener stopped" : "");
        s.done.store(true);
        wake();  // the accept loop frees the slot
    });
}

void Listener::reap() {
    std::vector<std::unique_ptr<Slot>> ended;
    {
        std::lock_guard g(lock_);
        for (auto it = slots_.begin(); it != slots_.end();) {
            if ((*it)->done.load()) {
                ended.push_back(std::move(*it));
                it = slots_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Their bodies have returned: the joins are at once.
    for (auto& s : ended) s->worker.stop();
}

}  // namespace morvia
