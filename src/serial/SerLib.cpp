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
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "startup/Decimal.h"
#include "startup/Posix.h"

namespace morvia {
namespace {

// A name with its trailing zero bytes removed (an unset record name is one
// zero byte).
std::string trimZeros(std::string s) {
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

struct OpenPort {
    UniqueFd fd;  // closing it also releases the lock taken at open
    std::string path;
    dev_t rdev = 0;
    std::atomic<int> rxTimeout{0};
    std::atomic<int> txTimeout{0};  // 0: a write waits up to writeLimitMs
    std::atomic<int> lastErrno{0};  // errno of the last failed call
    std::mutex countLock;           // guards `last`
    serial_icounter_struct last{};
    bool haveLast = false;

    // Records why a call failed; returns -1 for the caller to pass on.
    int fail(int err) {
        lastErrno.store(err != 0 ? err : EIO);
        return -1;
    }
};

// True when a character device is a terminal, as far as can be told without
// opening it: the kernel lists every terminal driver's devices in the "tty"
// class in sysfs, except pseudo-terminal slaves (majors 136-143), which it
// does not list at all. Without sysfs nothing more can be told.
bool terminalDevice(const struct stat& st) {
    const unsigned maj = major(st.st_rdev);
    if (maj >= 136 && maj <= 143) return true;
    struct stat sys {};
    if (::stat("/sys/dev/char", &sys) != 0) return true;
    const std::string entry = "/sys/dev/char/" + std::to_string(maj) + ":" + std::to_string(minor(st.st_rdev));
    char target[PATH_MAX];
    const ssize_t n = ::readlink((entry + "/subsystem").c_str(), target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = '\0';
    const std::string subsystem(target);
    return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
}

// Asks the driver to hand received bytes on at once rather than holding them
// for its latency timer (USB adapters hold them up to 16 ms by default, which
// at 4800 bit/s can push a reply past the controller's fixed reply wait).
// Drivers without the request (a pseudo-terminal) are left as they are.
void requestLowLatency(SerialDriver& driver, int fd) {
    serial_struct info{};
    if (driver.getSerial(fd, info) != 0) return;
    if (info.flags & ASYNC_LOW_LATENCY) return;
    info.flags |= ASYNC_LOW_LATENCY;
    (void)driver.setSerial(fd, info);
}

class PosixSerialLibrary final : public SerialLibrary {
public:
    explicit PosixSerialLibrary(SerialDriver& driver) : driver_(driver) {}

    int SerGetLibVer() override { return 100; }

    int SerOpenPort(SerialConfig& cfg) override {
        std::string name = trimZeros(cfg.getPortName());
        if (name.empty()) name = trimZeros(cfg.getBaseName()) + std::to_string(cfg.getPort());
        std::string path = serialDevicePath(name);
        if (path.empty()) return ERR_NOT_VALID;

        // Only a terminal is opened at all: opening is not harmless for
        // every file (a tape rewinds, a FIFO blocks).
        struct stat named {};
        if (::stat(path.c_str(), &named) != 0) {
            if (errno == EACCES || errno == EPERM) return errno;
            return ERR_NOT_VALID;
        }
        if (!S_ISCHR(named.st_mode) || !terminalDevice(named)) return ERR_NOT_VALID;

        std::lock_guard g(tableLock_);
        for (const auto& p : table_)
            if (p && p->path == path) return ERR_ALREADY_OPEN;

        const int fd = retryEintr([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
        if (fd < 0) {
            switch (errno) {
                case ENOENT:
                case ENXIO:
                case ENODEV:
                case ENOTDIR:
                case EISDIR:
                case ENAMETOOLONG:
                case ELOOP: return ERR_NOT_VALID;
                case EBUSY: return ERR_IN_USE;
                default: return errno;
            }
        }
        auto port = std::make_shared<OpenPort>();
        port->fd.reset(fd);
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
        // Exclusive use in the terminal layer as well: programs that do not
        // take the lock (a modem manager probing new ports) are refused.
        (void)::ioctl(fd, TIOCEXCL);
        requestLowLatency(driver_, fd);

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
        static constexpr speed_t speeds[] = {B110,  B150,  B300,   B600,   B1200,  B2400,
                                             B4800, B9600, B19200, B38400, B57600, B115200};
        static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        int br = cfg.getBitRate(), db = cfg.getDataBits(), par = cfg.getParity(), sb = cfg.getStopBits();
        int hs = cfg.getHandshake();
        if (br < 0 || br > 11 || db < 0 || db > 3 || par < 0 || par > 2 || sb < 0 || sb > 1) return EINVAL;
        if (hs == SerialConfig::HS_DSRDTR) return EINVAL;  // termios has no DSR/DTR flow control

        termios t{};
        if (::tcgetattr(p->fd.get(), &t) != 0) {
            p->fail(errno);
            return errno ? errno : -1;
        }
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
        if (::tcsetattr(p->fd.get(), TCSANOW, &t) != 0) {
            p->fail(errno);
            return errno ? errno : -1;
        }
        return 0;
    }

    int SerClosePort(int port) override {
        std::shared_ptr<OpenPort> p;
        {
            std::lock_guard g(tableLock_);
            if (port < 0 || static_cast<std::size_t>(port) >= table_.size() || !table_[port]) return -1;
            p = std::move(table_[port]);
        }
        (void)::ioctl(p->fd.get(), TIOCNXCL);  // the next user of the device may open it
        return 0;                              // the descriptor closes when the last caller lets go of it
    }

    int SerPutByte(int port, std::uint8_t b) override { return SerPutData(port, &b, 1) == 1 ? 0 : -1; }

    int SerPutData(int port, const std::uint8_t* data, int count) override {
        auto p = get(port);
        if (!p || data == nullptr || count <= 0) return 0;
        // The port's time-out, never more than writeLimitMs: a line whose far
        // end stopped reading must not hold the caller.
        const int asked = p->txTimeout.load();
        const int limit = asked > 0 && asked < writeLimitMs ? asked : writeLimitMs;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
        int sent = 0;
        while (sent < count) {
            const ssize_t n =
                retryEintr([&] { return ::write(p->fd.get(), data + sent, static_cast<std::size_t>(count - sent)); });
            if (n > 0) {
                sent += static_cast<int>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                        .count();
                if (left <= 0) {
                    p->fail(ETIMEDOUT);
                    break;
                }
                pollfd pf{p->fd.get(), POLLOUT, 0};
                int r = ::poll(&pf, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
                if (r < 0 && errno == EINTR) continue;
                if (r < 0) {
                    p->fail(errno);
                    break;
                }
                if (pf.revents & POLLNVAL) {
                    p->fail(EBADF);
                    break;
                }
                if (pf.revents & (POLLERR | POLLHUP)) {
                    p->fail(EIO);  // the line hung up
                    break;
                }
                continue;  // writable again, or time left to wait
            }
            p->fail(n < 0 ? errno : EIO);  // line failure (a hung-up peer gives EIO)
            break;
        }
        return sent;
    }

    int SerGetByte(int port) override {
        auto p = get(port);
        if (!p) return -1;
        int t = p->rxTimeout.load();
        if (t > 0) {
            pollfd pf{p->fd.get(), POLLIN, 0};
            retryEintr([&] { return ::poll(&pf, 1, t); });
        }
        std::uint8_t b = 0;
        const ssize_t n = retryEintr([&] { return ::read(p->fd.get(), &b, 1); });
        return n == 1 ? b : -1;
    }

    int SerGetData(int port, std::uint8_t* data, int count) override {
        auto p = get(port);
        if (!p || data == nullptr) return -1;
        if (count <= 0) return 0;
        const ssize_t n = retryEintr([&] { return ::read(p->fd.get(), data, static_cast<std::size_t>(count)); });
        if (n >= 0) return static_cast<int>(n);
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : p->fail(errno);
    }

    int SerLastError(int port) override {
        auto p = get(port);
        return p ? p->lastErrno.load() : -1;
    }

    int SerRxFlush(int port) override {
        return withFd(port, [](int fd) { return ::tcflush(fd, TCIFLUSH); });
    }
    int SerTxFlush(int port) override {
        return withFd(port, [](int fd) { return ::tcflush(fd, TCOFLUSH); });
    }
    int SerTxDrain(int port) override {
        return withFd(port, [](int fd) { return ::tcdrain(fd); });
    }

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
        return f(p->fd.get()) == 0 ? 0 : p->fail(errno);
    }

    int count(int port, unsigned long request) {
        auto p = get(port);
        if (!p) return -1;
        int n = 0;
        if (::ioctl(p->fd.get(), request, &n) != 0) return p->fail(errno);
        return n;
    }

    int modemBit(int port, int bit) {
        auto p = get(port);
        if (!p) return -1;
        int status = 0;
        if (::ioctl(p->fd.get(), TIOCMGET, &status) != 0) return -1;  // a pseudo-terminal has no modem lines
        return (status & bit) ? 1 : 0;
    }

    int modemSet(int port, int bit, bool on) {
        auto p = get(port);
        if (!p) return -1;
        return ::ioctl(p->fd.get(), on ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : -1;
    }

    // 1 when the driver's error counter has grown since the last call.
    int errorCount(int port, int serial_icounter_struct::*field) {
        auto p = get(port);
        if (!p) return -1;
        serial_icounter_struct now{};
        if (::ioctl(p->fd.get(), TIOCGICOUNT, &now) != 0) return -1;
        std::lock_guard g(p->countLock);
        bool grew = p->haveLast && now.*field != p->last.*field;
        p->last = now;
        p->haveLast = true;
        return grew ? 1 : 0;
    }

    SerialDriver& driver_;
    std::mutex tableLock_;
    std::vector<std::shared_ptr<OpenPort>> table_;
};

}  // namespace

int SerialDriver::getSerial(int fd, serial_struct& info) { return ::ioctl(fd, TIOCGSERIAL, &info); }

int SerialDriver::setSerial(int fd, const serial_struct& info) { return ::ioctl(fd, TIOCSSERIAL, &info); }

SerialDriver& SerialDriver::system() {
    static SerialDriver driver;
    return driver;
}

std::unique_ptr<SerialLibrary> SerialLibrary::makeNative(SerialDriver& driver) {
    return std::make_unique<PosixSerialLibrary>(driver);
}

std::string serialDevicePath(const std::string& name) {
    if (!name.empty() && name[0] == '/') return name.find('\0') == std::string::npos ? name : std::string();
    if (name.size() > 3 && name.compare(0, 3, "COM") == 0 && name.size() <= 6) {
        const std::optional<int> n = ParseDecimal(std::string_view(name).substr(3), DecimalSign::none);
        if (n && *n >= 1) return "/dev/ttyS" + std::to_string(*n - 1);
    }
    return {};
}

SerialLibrary& SerialLibrary::native() {
    static PosixSerialLibrary lib(SerialDriver::system());
    return lib;
}

}  // namespace morvia
