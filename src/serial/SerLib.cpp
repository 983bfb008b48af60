// The native serial library over POSIX termios and ioctl.
#include "serial/SerLib.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace morvia {
namespace {

// A name with its trailing zero bytes removed (an unset record name is one
// zero byte).
std::string trimZeros(std::string s) {
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

struct OpenPort {
    int fd = -1;
    std::string path;
    dev_t rdev = 0;
    std::atomic<int> rxTimeout{0};
    std::atomic<int> txTimeout{0};  // 0: a write waits as long as it takes
    std::mutex countLock;           // guards `last`
    serial_icounter_struct last{};
    bool haveLast = false;

    ~OpenPort() {
        if (fd >= 0) ::close(fd);  // also releases the lock taken at open
    }
};

class PosixSerialLibrary final : public SerialLibrary {
public:
    int SerGetLibVer() override { return 100; }

    int SerOpenPort(SerialConfig& cfg) override {
        std::string name = trimZeros(cfg.getPortName());
        if (name.empty()) name = trimZeros(cfg.getBaseName()) + std::to_string(cfg.getPort());
        std::string path = serialDevicePath(name);
        if (path.empty()) return ERR_NOT_VALID;

        std::lock_guard g(tableLock_);
        for (const auto& p : table_)
            if (p && p->path == path) return ERR_ALREADY_OPEN;

        int fd;
        do {
            fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            switch (errno) {
            case ENOENT: case ENXIO: case ENODEV: case ENOTDIR: case EISDIR: case ENAMETOOLONG: case ELOOP:
                return ERR_NOT_VALID;
            case EBUSY:
                return ERR_IN_USE;
            default:
                return errno;
            }
        }
        auto port = std::make_shared<OpenPort>();
        port->fd = fd;
        port->path = path;
        if (!::isatty(fd)) return ERR_NOT_VALID;  // port's destructor closes fd
        struct stat st {};
        if (::fstat(fd, &st) == 0) {
            port->rdev = st.st_rdev;
            for (const auto& p : table_)
                if (p && p->rdev == st.st_rdev) return ERR_ALREADY_OPEN;
        }
        // Another process holding the device counts as "in use".
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return ERR_IN_USE;

        std::size_t slot = 0;
        while (slot < table_.size() && table_[slot]) ++slot;
        if (slot == table_.size()) table_.emplace_back();
        table_[slot] = std::move(port);
        cfg.setLibraryPort(static_cast<int>(slot) + 1);
        return 0;
    }

    int SerConfigure(int port, const SerialConfig& cfg) override {
        auto p = get(port);
        if (!p) return ERR_NOT_VALID;
        static constexpr speed_t speeds[] = {B110, B150, B300, B600, B1200, B2400,
                                             B4800, B9600, B19200, B38400, B57600, B115200};
        static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        int br = cfg.getBitRate(), db = cfg.getDataBits(), par = cfg.getParity(), sb = cfg.getStopBits();
        int hs = cfg.getHandshake();
        if (br < 0 || br > 11 || db < 0 || db > 3 || par < 0 || par > 2 || sb < 0 || sb > 1) return EINVAL;
        if (hs == SerialConfig::HS_DSRDTR) return EINVAL;  // termios has no DSR/DTR flow control

        termios t {};
        if (::tcgetattr(p->fd, &t) != 0) return errno ? errno : -1;
        ::cfmakeraw(&t);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        t.c_cflag |= CLOCAL | CREAD | sizes[db];
        if (par == SerialConfig::PY_ODD) t.c_cflag |= PARENB | PARODD;
        if (par == SerialConfig::PY_EVEN) t.c_cflag |= PARENB;
        if (sb == SerialConfig::ST_2BITS) t.c_cflag |= CSTOPB;
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        if (hs == SerialConfig::HS_XONXOFF) t.c_iflag |= IXON | IXOFF;
        if (hs == SerialConfig::HS_CTSRTS) t.c_cflag |= CRTSCTS;
        if (hs >= SerialConfig::HS_HARD_IN) {
            if (hs & (SerialConfig::HS_HARD_IN | SerialConfig::HS_HARD_OUT)) t.c_cflag |= CRTSCTS;
            if (hs & SerialConfig::HS_SOFT_IN) t.c_iflag |= IXOFF;
            if (hs & SerialConfig::HS_SOFT_OUT) t.c_iflag |= IXON;
        }
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        ::cfsetispeed(&t, speeds[br]);
        ::cfsetospeed(&t, speeds[br]);
        if (::tcsetattr(p->fd, TCSANOW, &t) != 0) return errno ? errno : -1;
        return 0;
    }

    int SerClosePort(int port) override {
        std::shared_ptr<OpenPort> p;
        {
            std::lock_guard g(tableLock_);
            if (port < 0 || static_cast<std::size_t>(port) >= table_.size() || !table_[port]) return -1;
            p = std::move(table_[port]);
        }
        return 0;  // the descriptor closes when the last caller lets go of it
    }

    int SerPutByte(int port, std::uint8_t b) override { return SerPutData(port, &b, 1) == 1 ? 0 : -1; }

    int SerPutData(int port, const std::uint8_t* data, int count) override {
        auto p = get(port);
        if (!p || data == nullptr || count <= 0) return 0;
        const int limit = p->txTimeout.load();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit > 0 ? limit : 0);
        int sent = 0;
        while (sent < count) {
            ssize_t n = ::write(p->fd, data + sent, static_cast<std::size_t>(count - sent));
            if (n > 0) {
                sent += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                int wait = -1;  // no time-out: wait until the line takes the bytes
                if (limit > 0) {
                    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
                    if (left <= 0) break;
                    wait = static_cast<int>(std::min<long long>(left, INT_MAX));
                }
                pollfd pf{p->fd, POLLOUT, 0};
                int r = ::poll(&pf, 1, wait);
                if (r < 0 && errno == EINTR) continue;
                if (r <= 0 || (pf.revents & (POLLERR | POLLHUP | POLLNVAL))) break;
                continue;
            }
            break;  // line failure (a hung-up peer gives EIO)
        }
        return sent;
    }

    int SerGetByte(int port) override {
        auto p = get(port);
        if (!p) return -1;
        int t = p->rxTimeout.load();
        if (t > 0) {
            pollfd pf{p->fd, POLLIN, 0};
            int r;
            do {
                r = ::poll(&pf, 1, t);
            } while (r < 0 && errno == EINTR);
        }
        std::uint8_t b = 0;
        ssize_t n;
        do {
            n = ::read(p->fd, &b, 1);
        } while (n < 0 && errno == EINTR);
        return n == 1 ? b : -1;
    }

    int SerGetData(int port, std::uint8_t* data, int count) override {
        auto p = get(port);
        if (!p || data == nullptr) return -1;
        if (count <= 0) return 0;
        ssize_t n;
        do {
            n = ::read(p->fd, data, static_cast<std::size_t>(count));
        } while (n < 0 && errno == EINTR);
        if (n >= 0) return static_cast<int>(n);
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }

    int SerRxFlush(int port) override { return withFd(port, [](int fd) { return ::tcflush(fd, TCIFLUSH); }); }
    int SerTxFlush(int port) override { return withFd(port, [](int fd) { return ::tcflush(fd, TCOFLUSH); }); }
    int SerTxDrain(int port) override { return withFd(port, [](int fd) { return ::tcdrain(fd); }); }

    int SerRxReadyCount(int port) override { return count(port, FIONREAD); }
    int SerTxBufCount(int port) override { return count(port, TIOCOUTQ); }

    int SerSigCTS(int port) override { return modemBit(port, TIOCM_CTS); }
    int SerSigDSR(int port) override { return modemBit(port, TIOCM_DSR); }
    int SerSigCD(int port) override { return modemBit(port, TIOCM_CD); }
    int SerSigRing(int port) override { return modemBit(port, TIOCM_RI); }

    int SerRxOverflow(int port) override { return errorCount(port, &serial_icounter_struct::buf_overrun); }
    int SerSigFrameErr(int port) override { return errorCount(port, &serial_icounter_struct::frame); }
    int SerSigParityErr(int port) override { return errorCount(port, &serial_icounter_struct::parity); }
    int SerSigOverrun(int port) override { return errorCount(port, &serial_icounter_struct::overrun); }
    int SerSigBreak(int port) override { return errorCount(port, &serial_icounter_struct::brk); }

    int SerSetDTR(int port, bool on) override { return modemSet(port, TIOCM_DTR, on); }
    int SerSetRTS(int port, bool on) override { return modemSet(port, TIOCM_RTS, on); }

    int SerSendBreak(int port, int ms) override {
        return withFd(port, [ms](int fd) {
            if (ms <= 0) return ::tcsendbreak(fd, 0);
            if (::ioctl(fd, TIOCSBRK) != 0) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return ::ioctl(fd, TIOCCBRK);
        });
    }

    int SerSetTimeoutRx(int port, int ms) override {
        auto p = get(port);
        if (!p || ms < 0) return -1;
        p->rxTimeout.store(ms);
        return 0;
    }
    int SerSetTimeoutTx(int port, int ms) override {
        auto p = get(port);
        if (!p || ms < 0) return -1;
        p->txTimeout.store(ms);
        return 0;
    }
    int SerGetTimeoutRx(int port) override {
        auto p = get(port);
        return p ? p->rxTimeout.load() : -1;
    }
    int SerGetTimeoutTx(int port) override {
        auto p = get(port);
        return p ? p->txTimeout.load() : -1;
    }

    // termios does flow control in the driver; a pass only paces the caller's loop.
    int SerFlowTask(int port) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return get(port) ? 0 : -1;
    }

private:
    std::shared_ptr<OpenPort> get(int port) {
        std::lock_guard g(tableLock_);
        if (port < 0 || static_cast<std::size_t>(port) >= table_.size()) return nullptr;
        return table_[port];
    }

    template <class F>
    int withFd(int port, F f) {
        auto p = get(port);
        if (!p) return -1;
        return f(p->fd) == 0 ? 0 : -1;
    }

    int count(int port, unsigned long request) {
        auto p = get(port);
        if (!p) return -1;
        int n = 0;
        if (::ioctl(p->fd, request, &n) != 0) return -1;
        return n;
    }

    int modemBit(int port, int bit) {
        auto p = get(port);
        if (!p) return -1;
        int status = 0;
        if (::ioctl(p->fd, TIOCMGET, &status) != 0) return -1;  // a pseudo-terminal has no modem lines
        return (status & bit) ? 1 : 0;
    }

    int modemSet(int port, int bit, bool on) {
        auto p = get(port);
        if (!p) return -1;
        return ::ioctl(p->fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : -1;
    }

    // 1 when the driver's error counter has grown since the last call.
    int errorCount(int port, int serial_icounter_struct::*field) {
        auto p = get(port);
        if (!p) return -1;
        serial_icounter_struct now {};
        if (::ioctl(p->fd, TIOCGICOUNT, &now) != 0) return -1;
        std::lock_guard g(p->countLock);
        bool grew = p->haveLast && now.*field != p->last.*field;
        p->last = now;
        p->haveLast = true;
        return grew ? 1 : 0;
    }

    std::mutex tableLock_;
    std::vector<std::shared_ptr<OpenPort>> table_;
};

} // namespace

std::string serialDevicePath(const std::string& name) {
    if (!name.empty() && name[0] == '/') return name.find('\0') == std::string::npos ? name : std::string();
    if (name.size() > 3 && name.compare(0, 3, "COM") == 0 && name.size() <= 6) {
        int n = 0;
        for (std::size_t i = 3; i < name.size(); ++i) {
            if (name[i] < '0' || name[i] > '9') return {};
            n = n * 10 + (name[i] - '0');
        }
        if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
    return {};
}

SerialLibrary& SerialLibrary::native() {
    static PosixSerialLibrary lib;
    return lib;
}

} // namespace morvia
