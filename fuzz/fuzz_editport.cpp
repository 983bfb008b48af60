// The edit-controller port: message framing and the message set. The port
// reads only from a serial line, so the target gives it one: a
// pseudo-terminal whose far end receives each input. Once every byte has
// arrived, the port is polled (SerInPort::readpart1) until fewer than three
// bytes wait, and the commands it queued and the marks it set must be the
// ones a straightforward reading of the framing rules gives. The rest of the
// input is then discarded, so each input starts on an empty line.
//
// No port thread is started; the harness polls on its own thread.
#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "remote/SerInPort.h"
#include "startup/Quenta.h"

using namespace morvia;

namespace {

constexpr std::size_t kMaxInput = 1024;  // well inside the terminal's input buffer

struct Line {
    int master = -1;
    int peek = -1;  // the far end opened a second time, to count waiting bytes
    std::unique_ptr<SerInPort> port;

    Line() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) fuzz::fail("no pseudo-terminal");
        const char* name = ::ptsname(master);
        if (!name) fuzz::fail("no pseudo-terminal name");
        const std::string path = name;
        peek = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (peek < 0) fuzz::fail("cannot open the pseudo-terminal");
        port = std::make_unique<SerInPort>(path, true);
        if (!port->opened()) fuzz::fail("the edit-controller port did not open");
    }
    ~Line() {
        port.reset();
        ::close(peek);
        ::close(master);
    }

    int waiting() const {
        int n = 0;
        if (::ioctl(peek, FIONREAD, &n) != 0) fuzz::fail("FIONREAD");
        return n;
    }

    void send(const std::uint8_t* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(master, data + done, size - done);
            if (n <= 0) fuzz::fail("write to the pseudo-terminal");
            done += static_cast<std::size_t>(n);
        }
        // The terminal layer hands the bytes over asynchronously.
        for (long spins = 0; waiting() < static_cast<int>(size); ++spins) {
            if (spins > 50'000'000) fuzz::fail("the pseudo-terminal did not deliver the input");
            ::sched_yield();
        }
        MORVIA_FUZZ_CHECK(waiting() == static_cast<int>(size));
    }
};

// What the framing rules make of the bytes: the commands queued and the marks.
struct Expected {
    std::vector<std::string> commands;
    int ins = 0;
    int outs = 0;
};

Expected reference(const std::uint8_t* d, std::size_t size, bool loggerOpen) {
    Expected e;
    std::size_t pos = 0;
    while (size - pos >= 3) {
        std::array<std::uint8_t, 7> msg{d[pos], d[pos + 1], d[pos + 2]};
        pos += 3;
        const std::size_t n = msg[0] & 0x0F;
        if (n > 0 && size - pos >= n) {
            if (n <= 4) {
                for (std::size_t i = 0; i < n; ++i) msg[3 + i] = d[pos + i];
            } else {
                msg.fill(0);
            }
            pos += n;
        }
        if (msg[1] == 0) continue;
        if (msg[0] == 0x80) {
            switch (msg[1]) {
                case 0x45: e.commands.push_back("PL\r"); break;
                case 0x44: e.commands.push_back("ST\r"); break;
                case 0x46: e.commands.push_back("PA\r"); break;
                case 0x42: e.commands.push_back("NR\r"); break;
                case 0x43: e.commands.push_back("NF\r"); break;
                case 0x40: e.ins += loggerOpen; break;
                case 0x41: e.outs += loggerOpen; break;
                default: break;
            }
        } else if (msg[0] == 0x81) {
            e.commands.push_back(static_cast<std::int8_t>(msg[1]) > 0x40 ? "SF\r" : "SR\r");
        }
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quietProcess();
    static Line line;
    if (size > kMaxInput) size = kMaxInput;

    Quenta::resetDefaults();
    fuzz::CheckingLink link;
    link.keep = true;
    fuzz::FieldDisplay display;
    LocalVCR vcr(&link, display, 2001);
    fuzz::Budget::instance().reset(&vcr);
    // The marks need an open logger window; inputs of even length have one.
    const bool loggerOpen = size % 2 == 0;
    auto marks = std::make_shared<test::Recorder>();
    auto logger = std::make_shared<test::FakeLogger>(marks);
    if (loggerOpen) {
        vcr.setStartHooks({[logger] { return logger; }, {}});
        vcr.CommandBLogger();
    }
    line.port->setlocalvcr(&vcr);
    line.port->setlocalgui(&display);

    line.send(data, size);
    for (int left = line.waiting(); left >= 3;) {
        line.port->readpart1();
        const int now = line.waiting();
        MORVIA_FUZZ_CHECK(now < left);  // every poll with three bytes waiting consumes some
        left = now;
    }
    ::tcflush(line.peek, TCIFLUSH);
    MORVIA_FUZZ_CHECK(line.waiting() == 0);
    MORVIA_FUZZ_CHECK(line.port->getSerError() == 0);

    const Expected e = reference(data, size, loggerOpen);
    MORVIA_FUZZ_CHECK(link.kept == e.commands);
    MORVIA_FUZZ_CHECK(marks->only("IN").size() == static_cast<std::size_t>(e.ins) &&
                      marks->only("OUT").size() == static_cast<std::size_t>(e.outs));

    line.port->setlocalvcr(nullptr);
    line.port->setlocalgui(nullptr);
    fuzz::Budget::instance().reset(nullptr);
    return 0;
}
