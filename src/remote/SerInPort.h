// The edit-controller serial port: a second serial line on which an external
// edit controller sends short byte messages that drive the player (play,
// pause, stop, scan, jog) or mark in and out points in an open logger window.
// The port only listens; nothing is ever sent to the edit controller.
//
// Message: header (low four bits: number n of data bytes, 0..15), command
// byte, a third byte, then n data bytes. Group 0x80: 0x45 play, 0x44 pause,
// 0x46 stop, 0x42 rewind, 0x43 forward, 0x40 in mark, 0x41 out mark (marks
// only while a logger window is open). Group 0x81 (one data byte): jog,
// forward when the command byte as a signed 8-bit number is above 0x40
// ("JogF"), else reverse ("JogR"). Anything else, and any command byte 0, is
// consumed and ignored. Data bytes are read only once all of them wait; a
// poll that finds fewer leaves them, and they start the next message.
//
// Failures: the first failed read or write of an outage prints the failure
// and the operating system's reason ("Serial Port <name>: <reason>"), as the
// player link does; later ones only set the error code, until a poll reads
// the line again.
//
// Thread-safety: the port thread polls the line; every public operation may
// be called from any thread. The receive buffer, the streams and the outage
// state are used under one lock (lock_).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "player/Seams.h"
#include "serial/SerialConfig.h"
#include "startup/Worker.h"

namespace morvia {

class SerialIOException;
class SerialPort;
class SerInputStream;
class SerOutputStream;

class SerInPort : public EditPortSeam {
public:
    static constexpr int buffersize = 7;
    using Buffer = std::array<std::uint8_t, buffersize>;

    // Opens `port` at 2400 bit/s, 8 data bits, 1 stop bit, no parity, no
    // handshake; raises DTR and makes the streams. Failures are printed on
    // the console and leave the object usable (see opened()). `mcs` switches
    // the message set on; the application's edit-controller switch by default.
    explicit SerInPort(const std::string& port);
    SerInPort(const std::string& port, bool mcs);
    // On a port that is already open (a test's in-memory line); `portName`
    // names the line in console lines. A null port is a port that did not open.
    SerInPort(std::unique_ptr<SerialPort> port, const std::string& portName, bool mcs);
    // Stops and joins the port thread, then closes the port. Never throws.
    ~SerInPort() override;
    SerInPort(const SerInPort&) = delete;
    SerInPort& operator=(const SerInPort&) = delete;

    // --- EditPortSeam ---
    bool opened() const override { return serialPort2 != nullptr; }
    void setlocalvcr(LocalVCR* vcr) override { svcr.store(vcr); }
    void setlocalgui(Display* gui) override { lgui.store(gui); }
    void setwait(int ms) override { wait.store(ms); }
    void setsleeptime(int ms) override { sleeptime.store(ms); }
    // Starts the port thread (also when the port did not open: it then
    // polls harmlessly). A second call, or one after stopme, does nothing.
    void start() override;
    // Ends the poll loop after the current pass (a sleep between polls is cut
    // short) and joins the thread. Never from the port thread itself: that
    // would wait for itself, and ends the process with a message.
    void stopme() override;

    // The port thread's body: prints "B= 3", then sleeps `sleeptime` ms and
    // polls, until stopped. Runs on the port thread only (checked).
    void run();
    // One poll: takes at most one message into the buffer (three bytes once
    // three are waiting, then its n data bytes only once all n are waiting)
    // and acts on it when its command byte is not 0. A message with more
    // data bytes than the buffer holds is consumed whole and discarded.
    void readpart1();
    // Acts on the message in the buffer by the message set.
    void parse();

    // Writing and draining operations; the port thread does not use them.
    bool SendSer(const std::uint8_t* bytes, std::size_t len);
    void ReplySerial(const std::uint8_t* bytes, std::size_t len);
    Buffer SendSerial(const std::uint8_t* bytes, std::size_t len);
    Buffer ReadSer();
    int SerCount() const { return numBytes.load(); }
    void OutCom() {}
    void ShowStat(const std::string& text);

    // Inspection.
    Buffer buffer() const;
    int getSerError() const { return SerError.load(); }
    int getNoCOM() const { return NoCOM.load(); }
    int getwait() const { return wait.load(); }
    static int getsleeptime() { return sleeptime.load(); }
    const SerialConfig& config() const { return serCfg; }
    bool getMCS() const { return MCS; }

    static constexpr int txBuf = 2048;
    static constexpr int rxBuf = 16384;

private:
    // The edit controller's line settings for the named port.
    static SerialConfig editConfig(const std::string& port);
    // Raises DTR on the open port and makes the two streams.
    void attachLine();
    // A failed read or write (caller holds lock_): the first of an outage
    // prints `what` and the reason.
    void lineFailedLocked(const std::string& what, const SerialIOException& e);
    // Reads exactly `len` bytes that are known to be waiting.
    void readExactly(std::uint8_t* into, std::size_t len);
    void parse(const Buffer& msg);

    const bool MCS;
    SerialConfig serCfg;
    std::atomic<LocalVCR*> svcr{nullptr};
    std::atomic<Display*> lgui{nullptr};
    std::atomic<int> wait{20};
    std::atomic<int> numBytes{0};
    std::atomic<int> SerError{0};
    std::atomic<int> NoCOM{0};
    std::atomic<bool> a{false};
    std::atomic<int> b{3};
    static inline std::atomic<int> sleeptime{50};

    mutable std::mutex lock_;  // guards serin and the port's traffic
    Buffer serin{};
    bool failing_ = false;  // an outage is under way (its lines printed)
    std::unique_ptr<SerialPort> serialPort2;
    std::unique_ptr<SerOutputStream> SerialOutStream2;
    std::unique_ptr<SerInputStream> SerialInStream2;

    Worker worker_{"edit port"};
};

// Builds the edit-controller port for the controller's start-up hook.
std::unique_ptr<EditPortSeam> makeSerInPort(const std::string& port);

}  // namespace morvia
