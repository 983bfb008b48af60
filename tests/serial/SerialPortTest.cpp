// The serial port object and the streams over real pseudo-terminals, and the
// port object's error handling over a library double.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

#include "serial/PtyPeer.h"
#include "serial/SerInputStream.h"
#include "serial/SerLib.h"
#include "serial/SerOutputStream.h"
#include "serial/SerialErrors.h"
#include "serial/SerialPortLocal.h"
#include "support/Eventually.h"
#include "support/TestSupport.h"

using namespace morvia;
using morvia::test::eventually;
using morvia::test::PtyPeer;

namespace {

template <class F>
std::string ioError(F f) {
    try {
        f();
    } catch (const SerialIOException& e) {
        return e.what();
    }
    return "(no error)";
}

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

// A library whose answers the test sets; records what reached it.
class FakeLibrary : public SerialLibrary {
public:
    int openResult = 0;
    int configureResult = 0;
    int sentOverride = -1;  // -1: report every byte as sent
    int closes = 0;
    std::vector<int> putPorts;
    std::vector<int> putCounts;

    int SerGetLibVer() override { return 7; }
    int SerOpenPort(SerialConfig& cfg) override {
        if (openResult == 0) cfg.setLibraryPort(5);
        return openResult;
    }
    int SerConfigure(int, const SerialConfig&) override { return configureResult; }
    int SerClosePort(int) override {
        ++closes;
        return 0;
    }
    int SerPutByte(int, std::uint8_t) override { return 0; }
    int SerPutData(int port, const std::uint8_t*, int count) override {
        putPorts.push_back(port);
        putCounts.push_back(count);
        return sentOverride >= 0 ? sentOverride : count;
    }
    int SerGetByte(int) override { return -1; }
    int SerGetData(int, std::uint8_t*, int) override { return -1; }
    int SerRxFlush(int) override { return 0; }
    int SerTxFlush(int) override { return 0; }
    int SerTxDrain(int) override { return -1; }
    int SerRxReadyCount(int) override { return 0; }
    int SerTxBufCount(int) override { return 0; }
    int SerRxOverflow(int) override { return 1; }
    int SerSigCTS(int) override { return 1; }
    int SerSigDSR(int) override { return 0; }
    int SerSigCD(int) override { return -1; }
    int SerSigFrameErr(int) override { return 0; }
    int SerSigParityErr(int) override { return -1; }
    int SerSigOverrun(int) override { return 0; }
    int SerSigRing(int) override { return -1; }
    int SerSigBreak(int) override { return 0; }
    int SerSetDTR(int, bool) override { return 0; }
    int SerSetRTS(int, bool) override { return 0; }
    int SerSendBreak(int, int) override { return 0; }
    int SerSetTimeoutRx(int, int) override { return 0; }
    int SerSetTimeoutTx(int, int) override { return 0; }
    int SerGetTimeoutRx(int) override { return 0; }
    int SerGetTimeoutTx(int) override { return 0; }
    int SerFlowTask(int) override { return 0; }
};

}  // namespace

TEST(SerialPortPty, BytesWrittenArriveAndBytesSentAreCountedAndRead) {
    PtyPeer peer;
    SerialPortLocal port{SerialConfig(peer.slavePath())};
    EXPECT_TRUE(port.isOpen());
    EXPECT_GE(port.getPortNum(), 0);

    port.putData(bytesOf("PL\r"));
    EXPECT_EQ(peer.receive(3), "PL\r");
    port.putString("?F\r");
    port.putByte(0x41);
    EXPECT_EQ(peer.receive(4), "?F\rA");
    const auto ten = bytesOf("0123456789");
    port.putData(ten, 2, 3);
    port.putData(ten, 4);
    EXPECT_EQ(peer.receive(7), "2340123");

    EXPECT_EQ(port.rxReadyCount(), 0);
    peer.send("R0001234\r");
    ASSERT_TRUE(eventually([&] { return port.rxReadyCount() == 9; }));
    std::array<std::uint8_t, 4> small{};
    EXPECT_EQ(port.getData(small), 4);
    EXPECT_EQ(std::string(small.begin(), small.end()), "R000");
    EXPECT_EQ(port.rxReadyCount(), 5);
    std::array<std::uint8_t, 10> big{};
    EXPECT_EQ(port.getData(big, 3, 7), 5);
    EXPECT_EQ(std::string(big.begin() + 3, big.begin() + 8), "1234\r");
    EXPECT_EQ(big[0], 0);
    EXPECT_EQ(port.getData(big), 0) << "nothing waiting reads nothing";
    EXPECT_EQ(port.txBufCount(), 0);
    EXPECT_EQ(port.getTimeoutRx(), 0) << "open sets the receive time-out to 0";
}

TEST(SerialPortPty, GetByteOnASilentLineReturnsAtOnce) {
    PtyPeer peer;
    SerialPortLocal port{SerialConfig(peer.slavePath())};
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));

    // With a receive time-out the port waits for the byte, up to that long.
    port.setTimeoutRx(150);
    EXPECT_EQ(port.getTimeoutRx(), 150);
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(140));
    // A long time-out here: the byte's arrival, not its timing, is the point.
    port.setTimeoutRx(10000);
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        peer.send("\xC8");
    });
    EXPECT_EQ(port.getByte(), 0xC8) << "a byte arriving within the time-out is returned as 0..255";
    later.join();
}

TEST(SerialPortPty, StreamsReadAtMostTheArrayAndWriteSlices) {
    PtyPeer peer;
    SerialPortLocal port{SerialConfig(peer.slavePath())};
    SerInputStream in(port);
    SerOutputStream out(port);
    EXPECT_EQ(port.getTimeoutTx(), 2147483647);
    EXPECT_EQ(port.getTimeoutRx(), 0);

    peer.send("ABCDEFGHIJKLMNOPQRST");
    ASSERT_TRUE(eventually([&] { return in.available() == 20; }));
    std::array<std::uint8_t, 16> buf{};
    EXPECT_EQ(in.read(buf), 16);
    EXPECT_EQ(std::string(buf.begin(), buf.end()), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(in.read(buf), 4);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 4), "QRST");
    EXPECT_EQ(in.available(), 0);

    // read() blocks until the byte comes, polling.
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        peer.send("Z");
    });
    EXPECT_EQ(in.read(), 'Z');
    later.join();

    std::array<std::uint8_t, 8> dest{};
    peer.send("xy");
    ASSERT_TRUE(eventually([&] { return in.available() == 2; }));
    EXPECT_EQ(in.read(dest, 5, 3), 2);
    EXPECT_EQ(dest[5], 'x');
    EXPECT_EQ(dest[6], 'y');
    EXPECT_THROW(in.read(dest, 6, 3), SerialIOException) << "a slice past the array is refused before reading";

    const auto ten = bytesOf("0123456789");
    out.write(ten, 2, 3);
    out.write(0x141);  // low eight bits
    out.write(bytesOf("\r"));
    out.flush();
    EXPECT_EQ(peer.receive(5), "234A\r");
    EXPECT_THROW(out.write(ten, 8, 3), SerialIOException);
}

TEST(SerialPortPty, ClosedPortRefusesWorkAndClosesOnce) {
    PtyPeer peer;
    SerialPortLocal port{SerialConfig(peer.slavePath())};
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.getPortNum(), -1);
    EXPECT_NO_THROW(port.close()) << "closing a closed port does nothing";

    EXPECT_EQ(ioError([&] { port.getByte(); }), "getByte: Port not open");
    EXPECT_EQ(ioError([&] { port.rxReadyCount(); }), "rxReadyCount: Port not open");
    EXPECT_EQ(ioError([&] { port.txBufCount(); }), "txBufCount: Port not open");
    EXPECT_EQ(ioError([&] { port.sigCTS(); }), "sigCTS: Port not open");
    EXPECT_EQ(ioError([&] { port.putData(bytesOf("PL\r")); }), "PutData1: Sent only 0 of 3 bytes");
    EXPECT_EQ(ioError([&] { port.putString("PL\r"); }), "PutString: sent only 0 of 3 bytes");
    EXPECT_EQ(ioError([&] { port.putByte(1); }), "PutByte failed");
    std::array<std::uint8_t, 4> buf{};
    EXPECT_EQ(ioError([&] { port.getData(buf); }), "getData: failed");
    EXPECT_EQ(ioError([&] { SerInputStream s(port); }), "Port not open");
    EXPECT_EQ(ioError([&] { SerOutputStream s(port); }), "Port not open");
    EXPECT_EQ(ioError([&] { port.setDTR(true); }), "setDTR failed") << "setDTR does not check the port first";

    // Closed, the device can be opened again, by this object or another.
    port.reset();
    EXPECT_TRUE(port.isOpen());
    port.putString("OK");
    EXPECT_EQ(peer.receive(2), "OK");
}

TEST(SerialPortPty, PutDataChecksItsBounds) {
    PtyPeer peer;
    SerialPortLocal port{SerialConfig(peer.slavePath())};
    const auto ten = bytesOf("0123456789");
    EXPECT_EQ(ioError([&] { port.putData(ten, 11); }), "putData: count out of bounds");
    EXPECT_EQ(ioError([&] { port.putData(ten, -1); }), "putData: count out of bounds");
    EXPECT_EQ(ioError([&] { port.putData(ten, 8, 3); }), "putData3: count out of bounds");
    EXPECT_EQ(ioError([&] { port.putData(ten, -1, 2); }), "putData3: count out of bounds");
    EXPECT_EQ(ioError([&] { port.putData(std::vector<std::uint8_t>{}); }), "(no error)") << "empty sends nothing";
    EXPECT_EQ(ioError([&] { port.putString(""); }), "(no error)");
    EXPECT_EQ(ioError([&] { port.putData(ten, 10); }), "(no error)");
    EXPECT_EQ(peer.receive(10), "0123456789");
    EXPECT_EQ(peer.drain(50), "") << "refused writes sent nothing";
}

TEST(SerialPortPty, OpenRefusesBadNamesAndSecondOpens) {
    PtyPeer peer;
    EXPECT_EQ(ioError([] { SerialPortLocal p{SerialConfig("/dev/no-such-port-h1")}; }),
              "SerOpenPort failed: Port not valid");
    EXPECT_EQ(ioError([] { SerialPortLocal p{SerialConfig("ttyUSB0")}; }), "SerOpenPort failed: Port not valid");
    EXPECT_EQ(ioError([] { SerialPortLocal p{SerialConfig("COM0")}; }), "SerOpenPort failed: Port not valid");
    char tmpl[] = "/tmp/h1-serial-XXXXXX";
    int fd = ::mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(ioError([&] { SerialPortLocal p{SerialConfig(tmpl)}; }), "SerOpenPort failed: Port not valid")
        << "a plain file is not a serial port";
    std::remove(tmpl);

    {
        SerialPortLocal first{SerialConfig(peer.slavePath())};
        EXPECT_EQ(ioError([&] { SerialPortLocal p{SerialConfig(peer.slavePath())}; }),
                  "SerOpenPort failed: Port is already open");
    }
    SerialPortLocal again{SerialConfig(peer.slavePath())};
    EXPECT_TRUE(again.isOpen()) << "discarding the first object released the port";

    EXPECT_EQ(serialDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(serialDevicePath("COM12"), "/dev/ttyS11");
    EXPECT_EQ(serialDevicePath("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(serialDevicePath("COM"), "");
    EXPECT_EQ(serialDevicePath("COM1x"), "");
    EXPECT_EQ(serialDevicePath("com1"), "");
}

TEST(SerialPortFake, LibraryCodesBecomeMessages) {
    FakeLibrary lib;
    auto openWith = [&](int code) {
        lib.openResult = code;
        return ioError([&] { SerialPortLocal p(SerialConfig("COM1"), "Linux", lib); });
    };
    EXPECT_EQ(openWith(1000), "SerOpenPort failed: Port is already open");
    EXPECT_EQ(openWith(1002), "SerOpenPort failed: Port is in use");
    EXPECT_EQ(openWith(1003), "SerOpenPort failed: Port not valid");
    EXPECT_EQ(openWith(5), "SerOpenPort failed: 5");

    lib.openResult = 0;
    lib.configureResult = 22;
    lib.closes = 0;
    EXPECT_EQ(ioError([&] { SerialPortLocal p(SerialConfig("COM1"), "Linux", lib); }), "Configure failed: 22");
    EXPECT_EQ(lib.closes, 1) << "a port that fails to configure is closed again";

    lib.configureResult = 0;
    SerialPortLocal p(SerialConfig("COM1"), "Linux", lib);
    EXPECT_EQ(p.getPortNum(), 4) << "the library's port number is the record's less one";
    lib.sentOverride = 3;
    const std::vector<std::uint8_t> ten(10, 'x');
    EXPECT_EQ(ioError([&] { p.putData(ten, 10); }), "PutData2: Sent only 3 of 10 bytes");
    EXPECT_EQ(ioError([&] { p.putData(ten); }), "PutData1: Sent only 3 of 10 bytes");
    EXPECT_EQ(ioError([&] { p.putData(ten, 2, 5); }), "Sent only 3 of 5 bytes");
    EXPECT_EQ(ioError([&] { p.putString("abcd"); }), "PutString: sent only 3 of 4 bytes");
    EXPECT_EQ(ioError([&] { p.txDrain(); }), "txDrain failed");
    EXPECT_EQ(ioError([&] { p.sigCD(); }), "sigCD failed");
    EXPECT_FALSE(p.sigRing()) << "a failing ring query reads as false";
    EXPECT_TRUE(p.sigCTS());
    EXPECT_FALSE(p.sigDSR());
    EXPECT_EQ(p.getLibVer(), 7);
    EXPECT_EQ(p.getName(), "Serial Port");
    p.setName("player");
    EXPECT_EQ(p.getName(), "player");
    EXPECT_EQ(p.getName(3), "Not implemented");

    p.close();
    lib.putPorts.clear();
    lib.sentOverride = 0;
    EXPECT_EQ(ioError([&] { p.putData(ten); }), "PutData1: Sent only 0 of 10 bytes");
    ASSERT_EQ(lib.putPorts.size(), 1u);
    EXPECT_EQ(lib.putPorts[0], -1) << "a closed port passes -1 to the library";
}

TEST(SerialPortFeatures, EachPlatformRowSetsItsFlags) {
    FakeLibrary lib;
    struct Row {
        const char* os;
        const char* dev;
        bool poll;
        std::vector<const char*> on;
    };
    const std::vector<const char*> all = {"sigBreak", "sigFrameErr",  "sigOverrun", "sigParityErr", "rxOverflow",
                                          "sigRing",  "sigCTS",       "sigDSR",     "sigCD",        "setRTS",
                                          "setDTR",   "rxReadyCount", "txBufCount", "setTimeoutTx"};
    const std::vector<Row> rows = {
        {"Windows NT", "COM1", false, all},
        {"OS/2", "COM1", false, all},
        {"Mac OS",
         "Modem Port",
         true,
         {"sigBreak", "sigFrameErr", "sigParityErr", "sigOverrun", "rxOverflow", "rxReadyCount", "setTimeoutTx",
          "sigCTS", "setDTR"}},
        {"Linux",
         "/dev/ttyS0",
         true,
         {"sigRing", "setRTS", "setDTR", "sigCD", "rxReadyCount", "txBufCount", "sigCTS", "sigDSR"}},
        {"Solaris",
         "/dev/ttya",
         true,
         {"sigRing", "setRTS", "setDTR", "sigCD", "rxReadyCount", "txBufCount", "sigCTS", "sigDSR"}},
        {"AIX",
         "/dev/tty0",
         true,
         {"sigRing", "setRTS", "setDTR", "sigCD", "rxReadyCount", "txBufCount", "sigCTS", "sigDSR"}},
        {"BeOS", "", false, {}},
        {"Windows CE", "", false, {}},
    };
    for (const auto& r : rows) {
        SerialPortLocal p(r.os, lib);
        EXPECT_EQ(p.getDevName(), r.dev) << r.os;
        EXPECT_EQ(p.getPollRxTimeout(), r.poll) << r.os;
        EXPECT_FALSE(p.isOpen());
        for (const char* f : all) {
            bool expected = std::find_if(r.on.begin(), r.on.end(),
                                         [&](const char* x) { return std::string(x) == f; }) != r.on.end();
            EXPECT_EQ(p.isSupported(f), expected) << r.os << " " << f;
        }
        EXPECT_TRUE(p.isSupported("getTimeoutTx")) << "names outside the list are supported";
        EXPECT_TRUE(p.isSupported("anything"));
    }
}

TEST(SerialPortFeatures, UnsupportedOperationsNameThePlatform) {
    PtyPeer peer;
    {
        SerialPortLocal mac(SerialConfig(peer.slavePath()), "Mac OS");
        EXPECT_EQ(ioError([&] { mac.sigCD(); }), "sigCD not supported on Mac OS");
        EXPECT_EQ(ioError([&] { mac.setRTS(true); }), "setRts not supported on Mac OS");
        EXPECT_EQ(ioError([&] { mac.sigRing(); }), "sigRing not supported on Mac OS");
        EXPECT_EQ(mac.getTimeoutRx(), 2000) << "Mac OS ports open with 2 s time-outs";
        EXPECT_EQ(mac.getTimeoutTx(), 2000);
        // Reads poll for the time-out before asking the library.
        mac.setTimeoutRx(100);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(mac.getByte(), -1);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(90));
    }
    {
        SerialPortLocal lx{SerialConfig(peer.slavePath())};
        EXPECT_EQ(lx.getOsName(), "Linux");
        EXPECT_EQ(ioError([&] { lx.sigFrameErr(); }), "sigFrameErr not supported on Linux");
        EXPECT_EQ(ioError([&] { lx.rxOverflow(); }), "rxOverflow not supported on Linux");
        EXPECT_EQ(ioError([&] { lx.sigBreak(); }), "sigBreak not supported on Linux");
        // A pseudo-terminal has no modem lines: the library says so.
        EXPECT_EQ(ioError([&] { lx.setDTR(true); }), "setDTR failed");
        EXPECT_EQ(ioError([&] { lx.setRTS(true); }), "setRTS failed");
        EXPECT_EQ(ioError([&] { lx.sigCD(); }), "sigCD failed");
        EXPECT_EQ(ioError([&] { lx.sigDSR(); }), "sigDSR failed");
        EXPECT_FALSE(lx.sigRing());
        EXPECT_EQ(ioError([&] { lx.setTimeoutRx(-5); }), "setTimeoutRx failed");
        EXPECT_EQ(lx.rxFlush(), 0);
        EXPECT_EQ(lx.txFlush(), 0);
    }
    {
        SerialPortLocal other(SerialConfig(peer.slavePath()), "BeOS");
        EXPECT_EQ(ioError([&] { other.rxReadyCount(); }), "rxReadyCount not supported on BeOS");
        EXPECT_EQ(ioError([&] { other.setDTR(true); }), "setDTR not supported on BeOS");
    }
}

TEST(SerialPortFeatures, HardwareFlowStartsTheFlowTaskOnlyOnWindows95) {
    PtyPeer peer;
    test::ConsoleCapture console;
    SerialConfig cfg(peer.slavePath());
    cfg.setHandshake(SerialConfig::HS_CTSRTS);
    {
        SerialPortLocal lx(cfg, "Linux");
        EXPECT_FALSE(lx.flowTaskRunning());
        EXPECT_FALSE(lx.getConfig().getHardFlow()) << "open switches hardware flow off";
    }
    {
        SerialPortLocal win95(cfg, "Windows 95");
        EXPECT_TRUE(win95.flowTaskRunning());
        EXPECT_TRUE(win95.getConfig().getHardFlow());
        win95.putString("ok");
        EXPECT_EQ(peer.receive(2), "ok");
        win95.close();
        EXPECT_FALSE(win95.flowTaskRunning()) << "closing stops the flow task";
        win95.reset();
        EXPECT_TRUE(win95.flowTaskRunning());
    }  // destruction stops and joins it
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"FlowControlTask created", "FlowControlTask created"}));
}

TEST(SerialPortPty, RecordPassThroughDoesNotTouchTheOpenPort) {
    PtyPeer peer;
    SerialPortLocal port{SerialConfig(peer.slavePath())};
    port.setBitRate(SerialConfig::BR_4800);
    port.setParity(SerialConfig::PY_EVEN);
    port.setDataBits(SerialConfig::LN_7BITS);
    port.setStopBits(SerialConfig::ST_2BITS);
    EXPECT_EQ(port.getBitRate(), SerialConfig::BR_4800);
    EXPECT_EQ(port.getParity(), SerialConfig::PY_EVEN);
    EXPECT_EQ(port.getDataBits(), SerialConfig::LN_7BITS);
    EXPECT_EQ(port.getStopBits(), SerialConfig::ST_2BITS);
    EXPECT_THROW(port.setParity(SerialConfig::PY_MARK), SerialArgException);
    EXPECT_THROW(port.setHandshake(SerialConfig::HS_DSRDTR), SerialArgException);
    EXPECT_NO_THROW(port.configure()) << "the record's settings can be applied on demand";
    port.putString("x");
    EXPECT_EQ(peer.receive(1), "x");
}
