// The native serial library over real pseudo-terminals and a terminal
// driver double: which names it opens at all, what it asks of the driver,
// why a call failed, and the port a reset opens again.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "serial/PtyPeer.h"
#include "serial/SerLib.h"
#include "serial/SerialErrors.h"
#include "serial/SerialPortLocal.h"
#include "support/TestSupport.h"

using namespace morvia;
using morvia::test::PtyPeer;
using morvia::test::TempDir;

namespace {

std::string openError(const SerialConfig& cfg) {
    try {
        SerialPortLocal port{cfg};
    } catch (const SerialIOException& e) {
        return e.what();
    }
    return "(opened)";
}

// A driver that has the serial-info requests (a real UART or USB adapter).
class FakeDriver : public SerialDriver {
public:
    int getResult = 0;
    int flagsReported = ASYNC_SKIP_TEST;
    std::vector<int> flagsSet;

    int getSerial(int, serial_struct& info) override {
        if (getResult != 0) {
            errno = ENOTTY;
            return -1;
        }
        info = serial_struct{};
        info.flags = flagsReported;
        info.xmit_fifo_size = 16;
        return 0;
    }
    int setSerial(int, const serial_struct& info) override {
        flagsSet.push_back(info.flags);
        EXPECT_EQ(info.xmit_fifo_size, 16) << "the other settings are handed back as they were";
        return 0;
    }
};

TEST(SerialLibrary, OpensOnlyTerminals) {
    TempDir dir("serlib");
    const std::string file = dir.file("plain");
    { std::ofstream(file) << "not a port"; }
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    // Refused by looking, not by trying: opening alone has effects on some
    // devices (a tape rewinds), so nothing in the folder may be opened.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_OPEN), 0);
    EXPECT_EQ(openError(SerialConfig(file)), "SerOpenPort failed: Port not valid");
    EXPECT_EQ(openError(SerialConfig(dir.path().string())), "SerOpenPort failed: Port not valid") << "a directory";
    EXPECT_EQ(openError(SerialConfig(fifo)), "SerOpenPort failed: Port not valid") << "a FIFO";
    EXPECT_EQ(openError(SerialConfig(dir.file("missing"))), "SerOpenPort failed: Port not valid");
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "something was opened";
    ::close(watch);
    EXPECT_EQ(openError(SerialConfig("/dev/null")), "SerOpenPort failed: Port not valid")
        << "a character device that is no terminal";

    // A link to a terminal is followed, as /dev/serial/by-id links are.
    PtyPeer peer;
    const std::string link = dir.file("by-id-player");
    std::filesystem::create_symlink(peer.slavePath(), link);
    SerialPortLocal port{SerialConfig(link)};
    port.putString("PL\r");
    EXPECT_EQ(peer.receive(3), "PL\r");
}

TEST(SerialLibrary, AsksForLowLatencyWhereTheDriverHasIt) {
    PtyPeer peer;
    FakeDriver driver;
    auto lib = SerialLibrary::makeNative(driver);
    {
        SerialPortLocal port(SerialConfig(peer.slavePath()), "Linux", *lib);
        ASSERT_EQ(driver.flagsSet.size(), 1u);
        EXPECT_EQ(driver.flagsSet[0], ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY) << "other flags are kept";
    }
    driver.flagsSet.clear();
    driver.flagsReported = ASYNC_LOW_LATENCY;
    { SerialPortLocal port(SerialConfig(peer.slavePath()), "Linux", *lib); }
    EXPECT_TRUE(driver.flagsSet.empty()) << "already low-latency: nothing to set";

    driver.getResult = -1;  // a pseudo-terminal's answer: no such request
    SerialPortLocal port(SerialConfig(peer.slavePath()), "Linux", *lib);
    EXPECT_TRUE(port.isOpen());
    EXPECT_TRUE(driver.flagsSet.empty());
}

TEST(SerialLibrary, TakesTheTerminalForExclusiveUseWhileOpen) {
    PtyPeer peer;
    // A second descriptor on the same terminal only to ask it (root may open
    // an exclusive terminal anyway, so the flag is asked, not an open refused).
    const int probe = ::open(peer.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    int exclusive = -1;
    {
        SerialPortLocal port{SerialConfig(peer.slavePath())};
        ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
    }
    ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "closing the port gives the terminal back";
    ::close(probe);
}

TEST(SerialLibrary, KeepsTheReasonOfTheLastFailure) {
    auto& lib = SerialLibrary::native();
    {
        PtyPeer peer;
        SerialPortLocal port{SerialConfig(peer.slavePath())};
        EXPECT_EQ(port.lastError(), 0);
        EXPECT_EQ(lib.SerLastError(port.getPortNum()), 0);
        EXPECT_EQ(lib.SerLastError(9999), -1) << "no such port";
        peer.hangUp();
        EXPECT_THROW(port.putString("PL\r"), SerialIOException);
        EXPECT_EQ(port.lastError(), EIO) << "a hung-up line";
        port.close();
        EXPECT_EQ(port.lastError(), 0) << "a closed port has no last failure";
    }
    {
        // The far end stops reading: the write gives up when its time is up.
        PtyPeer peer;
        SerialPortLocal port{SerialConfig(peer.slavePath())};
        port.setTimeoutTx(100);
        const std::string flood(1 << 20, 'x');
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_THROW(port.putString(flood), SerialIOException);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
        EXPECT_EQ(port.lastError(), ETIMEDOUT);

        // With no time-out of its own a write still ends, after the library's limit.
        port.setTimeoutTx(0);
        const auto t1 = std::chrono::steady_clock::now();
        EXPECT_THROW(port.putString(flood), SerialIOException);
        const auto took = std::chrono::steady_clock::now() - t1;
        EXPECT_GE(took, std::chrono::milliseconds(SerialLibrary::writeLimitMs - 100));
        EXPECT_LT(took, std::chrono::seconds(30));
    }
}

TEST(SerialLibrary, ResetOfANumberedPortOpensTheSameDevice) {
    // A numbered record names base name + number; the library's own slot
    // number must not leak into the name a reset opens.
    TempDir dir("serlib");
    PtyPeer peer;
    PtyPeer other;
    std::filesystem::create_symlink(peer.slavePath(), dir.file("tty7"));
    std::filesystem::create_symlink(other.slavePath(), dir.file("tty1"));
    std::filesystem::create_symlink(other.slavePath(), dir.file("tty2"));
    SerialConfig cfg(7);
    cfg.setBaseName(dir.file("tty"));
    SerialPortLocal port{cfg};
    EXPECT_EQ(port.getConfig().getPort(), 7) << "the record keeps naming its port";
    port.reset();
    port.putString("A");
    port.close();
    port.open();
    port.putString("B");
    EXPECT_EQ(peer.receive(2), "AB");
    EXPECT_EQ(other.drain(50), "") << "no other device was opened";
}

}  // namespace
