#include "serial/SerialPortNet.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "serial/SerLib.h"
#include "serial/SerialErrors.h"
#include "serial/SerialPortLocal.h"

namespace morvia {
namespace {

std::string reasonFor(int err) {
    switch (err) {
        case ECONNREFUSED: return "connection refused";
        case ECONNRESET: return "connection reset by the server";
        case EPIPE: return "connection closed by the server";
        case ETIMEDOUT: return "connection timed out";
        case EHOSTUNREACH: return "host unreachable";
        case ENETUNREACH: return "network unreachable";
        default: return std::generic_category().message(err);
    }
}

int msLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string seconds(int ms) { return std::to_string((ms + 999) / 1000) + " s"; }

void setOption(int fd, int level, int name, int value) {
    // Best effort: a socket without one of these still carries the line.
    (void)::setsockopt(fd, level, name, &value, sizeof value);
}

}  // namespace

std::unique_ptr<SerialPort> makeSerialPort(const SerialConfig& cfg) {
    if (isNetworkPortName(cfg.getPortName())) return std::make_unique<SerialPortNet>(cfg);
    return std::make_unique<SerialPortLocal>(cfg);
}

SerialPortNet::SerialPortNet(const SerialConfig& cfg) : config_(cfg) { open(); }

void SerialPortNet::open() {
    if (fd_) throw SerialIOException("SerOpenPort failed: Port is already open");
    const int budget = openedBefore_ ? reopenMs : startupOpenMs;
    openedBefore_ = true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(budget);
    where_ = parseNetPortName(config_.getPortName());
    if (!where_)
        throw SerialIOException("not a port name of the form rfc2217://HOST:PORT or socket://HOST:PORT");
    const std::string who = where_->host + " port " + where_->service + ": ";
    rx_.clear();
    lost_.clear();
    try {
        connectBy(*where_, deadline, budget);
        if (where_->rfc2217) negotiate(deadline, budget);
    } catch (const SerialIOException& e) {
        fd_.reset();
        telnet_.reset();
        throw SerialIOException(who + e.what());
    }
    dtr_ = rts_ = true;
}

void SerialPortNet::resolve(const NetPortName& where) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int gai = ::getaddrinfo(where.host.c_str(), where.service.c_str(), &hints, &found);
    if (gai != 0) throw SerialIOException(std::string("cannot resolve the host: ") + ::gai_strerror(gai));
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
    addresses_.clear();
    for (const addrinfo* a = found; a; a = a->ai_next) {
        Address addr;
        std::memcpy(&addr.storage, a->ai_addr, std::min<std::size_t>(a->ai_addrlen, sizeof addr.storage));
        addr.length = a->ai_addrlen;
        addresses_.push_back(addr);
    }
}

void SerialPortNet::connectBy(const NetPortName& where, Clock::time_point deadline, int budgetMs) {
    // Resolved once, by the first open: a reopen from the link thread never
    // waits for a name server.
    if (addresses_.empty()) resolve(where);
    std::string last = "no address";
    for (const Address& a : addresses_) {
        const auto* sa = reinterpret_cast<const sockaddr*>(&a.storage);
        UniqueFd s(::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!s) {
            last = reasonFor(errno);
            continue;
        }
        int rc = retryEintr([&] { return ::connect(s.get(), sa, a.length); });
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd p{s.get(), POLLOUT, 0};
            rc = retryEintr([&] { return ::poll(&p, 1, msLeft(deadline)); });
            if (rc == 0) throw SerialIOException("no connection within " + seconds(budgetMs));
            int err = 0;
            socklen_t len = sizeof err;
            if (rc < 0 || ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            if (err != 0) {
                last = reasonFor(err);
                continue;
            }
        } else if (rc != 0) {
            last = reasonFor(errno);
            continue;
        }
        // Commands are a few bytes each: sent at once, not gathered.
        setOption(s.get(), IPPROTO_TCP, TCP_NODELAY, 1);
        // A server that went away without closing is noticed within seconds,
        // and unacknowledged commands end the connection after 5 s.
        setOption(s.get(), SOL_SOCKET, SO_KEEPALIVE, 1);
        setOption(s.get(), IPPROTO_TCP, TCP_KEEPIDLE, 5);
        setOption(s.get(), IPPROTO_TCP, TCP_KEEPINTVL, 1);
        setOption(s.get(), IPPROTO_TCP, TCP_KEEPCNT, 3);
        setOption(s.get(), IPPROTO_TCP, TCP_USER_TIMEOUT, 5000);
        fd_ = std::move(s);
        return;
    }
    throw SerialIOException(last);
}

void SerialPortNet::negotiate(Clock::time_point deadline, int budgetMs) {
    telnet_ = std::make_unique<TelnetComPort>(comPortLineOf(config_));
    sendRaw(telnet_->greeting());
    std::uint8_t buf[512];
    while (true) {
        if (!lost_.empty()) throw SerialIOException(lost_);
        if (telnet_->state() == TelnetComPort::State::Ready) return;
        if (telnet_->state() == TelnetComPort::State::Failed) throw SerialIOException(telnet_->failure());
        pollfd p{fd_.get(), POLLIN, 0};
        const int rc = retryEintr([&] { return ::poll(&p, 1, msLeft(deadline)); });
        if (rc == 0) throw SerialIOException(telnet_->waitingFor() + " within " + seconds(budgetMs));
        const ssize_t n = retryEintr([&] { return ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT); });
        if (n == 0) lost("connection closed by the server");
        else if (n < 0 && errno != EAGAIN) lost(reasonFor(errno));
        else if (n > 0) take(buf, static_cast<std::size_t>(n));
    }
}

void SerialPortNet::take(const std::uint8_t* data, std::size_t n) {
    if (!telnet_) {
        rx_.insert(rx_.end(), data, data + n);
        return;
    }
    Bytes bytes, answer;
    telnet_->receive(std::span(data, n), bytes, answer);
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    if (!answer.empty()) sendRaw(answer);
}

void SerialPortNet::pump() {
    if (!fd_ || !lost_.empty()) return;
    std::uint8_t buf[4096];
    while (true) {
        const ssize_t n = retryEintr([&] { return ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT); });
        if (n > 0) {
            take(buf, static_cast<std::size_t>(n));
            if (!lost_.empty()) return;
            continue;
        }
        if (n == 0) lost("connection closed by the server");
        else if (errno != EAGAIN && errno != EWOULDBLOCK) lost(reasonFor(errno));
        return;
    }
}

void SerialPortNet::lost(const std::string& reason) {
    if (lost_.empty()) lost_ = reason;
}

void SerialPortNet::sendRaw(const Bytes& bytes) {
    if (!lost_.empty()) throw SerialIOException(lost_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = retryEintr(
            [&] { return ::send(fd_.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT); });
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd_.get(), POLLOUT, 0};
            if (retryEintr([&] { return ::poll(&p, 1, SerialLibrary::writeLimitMs); }) == 0) {
                lost("the server takes no data");
                throw SerialIOException(lost_);
            }
            continue;
        }
        lost(n == 0 ? "connection closed by the server" : reasonFor(errno));
        throw SerialIOException(lost_);
    }
}

void SerialPortNet::requireOpen(const char* op) const {
    if (!fd_) throw SerialIOException(std::string(op) + ": Port not open");
    if (!lost_.empty()) throw SerialIOException(lost_);
}

void SerialPortNet::configure(const SerialConfig& cfg) {
    if (!fd_ || !telnet_) return;
    Bytes out;
    TelnetComPort::lineCommands(comPortLineOf(cfg), out);
    sendRaw(out);
}

void SerialPortNet::close() {
    fd_.reset();
    telnet_.reset();
    rx_.clear();
}

void SerialPortNet::putByte(std::uint8_t b) { putData(std::span(&b, 1)); }

void SerialPortNet::putString(const std::string& text) {
    putData(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void SerialPortNet::putData(std::span<const std::uint8_t> bytes) {
    requireOpen("putData");
    if (bytes.empty()) return;
    Bytes out;
    if (telnet_) TelnetComPort::escape(bytes, out);
    else out.assign(bytes.begin(), bytes.end());
    sendRaw(out);
}

void SerialPortNet::putData(std::span<const std::uint8_t> bytes, int count) {
    if (count < 0 || static_cast<std::size_t>(count) > bytes.size())
        throw SerialIOException("putData: count out of bounds");
    putData(bytes.first(static_cast<std::size_t>(count)));
}

void SerialPortNet::putData(std::span<const std::uint8_t> bytes, int offset, int count) {
    if (offset < 0 || count < 0 || static_cast<std::size_t>(offset) + static_cast<std::size_t>(count) > bytes.size())
        throw SerialIOException("putData3: count out of bounds");
    putData(bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count)));
}

int SerialPortNet::rxReadyCount() {
    if (!fd_) throw SerialIOException("rxReadyCount: Port not open");
    pump();
    if (rx_.empty() && !lost_.empty()) throw SerialIOException(lost_);
    return static_cast<int>(rx_.size());
}

int SerialPortNet::getByte() {
    if (!fd_) throw SerialIOException("getByte: Port not open");
    pump();
    if (rx_.empty() && timeoutRx_ > 0 && lost_.empty()) {
        pollfd p{fd_.get(), POLLIN, 0};
        if (retryEintr([&] { return ::poll(&p, 1, timeoutRx_); }) > 0) pump();
    }
    if (rx_.empty()) return -1;
    const int b = rx_.front();
    rx_.pop_front();
    return b;
}

int SerialPortNet::getData(std::span<std::uint8_t> bytes) {
    if (!fd_) throw SerialIOException("getData: failed");
    pump();
    std::size_t n = 0;
    while (n < bytes.size() && !rx_.empty()) {
        bytes[n++] = rx_.front();
        rx_.pop_front();
    }
    return static_cast<int>(n);
}

int SerialPortNet::getData(std::span<std::uint8_t> bytes, int offset, int length) {
    if (offset < 0 || length < 0 || static_cast<std::size_t>(offset) + static_cast<std::size_t>(length) > bytes.size())
        throw SerialIOException("getData: count out of bounds");
    return getData(bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length)));
}

int SerialPortNet::rxFlush() {
    pump();
    rx_.clear();
    return 0;
}

void SerialPortNet::sendControl(std::uint8_t value) {
    Bytes out;
    TelnetComPort::command(TelnetComPort::SET_CONTROL, std::span(&value, 1), out);
    sendRaw(out);
}

void SerialPortNet::setDTR(bool on) {
    requireOpen("setDTR");
    if (!telnet_ || on == dtr_) return;  // raw: the control lines are the server's
    sendControl(on ? TelnetComPort::CONTROL_DTR_ON : TelnetComPort::CONTROL_DTR_OFF);
    dtr_ = on;
}

void SerialPortNet::setRTS(bool on) {
    requireOpen("setRTS");
    if (!telnet_ || on == rts_) return;
    sendControl(on ? TelnetComPort::CONTROL_RTS_ON : TelnetComPort::CONTROL_RTS_OFF);
    rts_ = on;
}

bool SerialPortNet::unsupported(const char* op) const {
    throw SerialIOException(std::string(op) + " not supported on a network port");
}

}  // namespace morvia
