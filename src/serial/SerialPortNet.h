// A serial port behind a serial device server: `rfc2217://HOST:PORT` (Telnet
// with the COM-PORT-OPTION: the port's line settings are sent to the server)
// or `socket://HOST:PORT` (a raw byte stream; the settings are the server's).
// To its user it is a SerialPort like a local one; what a network cannot do
// (modem-line queries, breaks) is refused with "<op> not supported on a
// network port", while DTR and RTS are set through the server (RFC 2217) or
// left to it (raw).
//
// Opening connects without blocking, with a deadline over the whole open
// (connection, option and line settings): startupOpenMs for the first open,
// reopenMs for every later one, so a reopen never holds its caller longer.
// A failed open raises "<host> port <port>: <reason>". The host name is
// resolved by the first open only; reopens connect to those addresses. TCP keep-alive and a
// user time-out catch a peer that went away without closing.
//
// Once the connection is gone (closed or reset by the server, timed out),
// every write raises the reason ("connection closed by the server"), reads
// raise it once the bytes that came before are taken, and the port stays
// "open" until its user closes it, as a hung-up device does.
//
// Thread-safety: no lock; one user thread at a time, as for a local port.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/socket.h>

#include "serial/NetPortName.h"
#include "serial/SerialConfig.h"
#include "serial/SerialPort.h"
#include "serial/TelnetComPort.h"
#include "startup/Posix.h"

namespace morvia {

class SerialPortNet : public SerialPort {
public:
    static constexpr int startupOpenMs = 3000;
    static constexpr int reopenMs = 1000;

    // Keeps the record and opens the port (SerialIOException when it cannot).
    explicit SerialPortNet(const SerialConfig& cfg);
    ~SerialPortNet() override = default;
    SerialPortNet(const SerialPortNet&) = delete;
    SerialPortNet& operator=(const SerialPortNet&) = delete;

    void setConfig(const SerialConfig& cfg) override { config_ = cfg; }
    SerialConfig getConfig() const override { return config_; }
    void configure(const SerialConfig& cfg) override;
    void open() override;
    void close() override;
    bool isOpen() const override { return static_cast<bool>(fd_); }
    // Always 0: the reason is in the raised message.
    int lastError() const override { return 0; }
    void putByte(std::uint8_t b) override;
    void putString(const std::string& text) override;
    void putData(std::span<const std::uint8_t> bytes) override;
    void putData(std::span<const std::uint8_t> bytes, int count) override;
    void putData(std::span<const std::uint8_t> bytes, int offset, int count) override;
    int getByte() override;
    int getData(std::span<std::uint8_t> bytes) override;
    int getData(std::span<std::uint8_t> bytes, int offset, int length) override;
    int rxFlush() override;
    int txFlush() override { return 0; }
    int txDrain() override { return 0; }
    int rxReadyCount() override;
    int txBufCount() override { return 0; }
    bool rxOverflow() override { return false; }
    bool sigDSR() override { return unsupported("sigDSR"); }
    bool sigCTS() override { return unsupported("sigCTS"); }
    bool sigCD() override { return unsupported("sigCD"); }
    bool sigFrameErr() override { return unsupported("sigFrameErr"); }
    bool sigOverrun() override { return unsupported("sigOverrun"); }
    bool sigParityErr() override { return unsupported("sigParityErr"); }
    bool sigRing() override { return unsupported("sigRing"); }
    bool sigBreak() override { return unsupported("sigBreak"); }
    void setDTR(bool on) override;
    void setRTS(bool on) override;
    void sendBreak(int) override { unsupported("sendBreak"); }
    int getTimeoutRx() override { return timeoutRx_; }
    int getTimeoutTx() override { return timeoutTx_; }
    void setTimeoutRx(int ms) override { timeoutRx_ = ms; }
    void setTimeoutTx(int ms) override { timeoutTx_ = ms; }
    int getLibVer() override { return 1; }
    // The socket's descriptor while open, -1 while closed.
    int getPortNum() const override { return fd_ ? fd_.get() : -1; }
    void setName(const std::string& n) override { name_ = n; }
    std::string getName() const override { return name_; }

private:
    using Clock = std::chrono::steady_clock;
    bool unsupported(const char* op) const;
    struct Address {
        sockaddr_storage storage{};
        socklen_t length = 0;
    };
    // The server's addresses, into addresses_; raises the reason.
    void resolve(const NetPortName& where);
    // Connects to the server before `deadline`; raises the reason.
    void connectBy(const NetPortName& where, Clock::time_point deadline, int budgetMs);
    // Runs the option and line-setting exchange before `deadline`.
    void negotiate(Clock::time_point deadline, int budgetMs);
    // Takes what the server sent (without waiting) into rx_; notes a lost connection.
    void pump();
    // Handles bytes from the server.
    void take(const std::uint8_t* data, std::size_t n);
    // Writes bytes as they go on the wire; raises and notes a lost connection.
    void sendRaw(const Bytes& bytes);
    void sendControl(std::uint8_t value);
    void lost(const std::string& reason);
    void requireOpen(const char* op) const;

    SerialConfig config_;
    std::string name_ = "Serial Port";
    std::optional<NetPortName> where_;
    std::vector<Address> addresses_;  // resolved by the first open
    UniqueFd fd_;
    std::unique_ptr<TelnetComPort> telnet_;  // rfc2217 only
    std::deque<std::uint8_t> rx_;            // data bytes not yet read
    std::string lost_;                       // why the connection is gone; empty while it works
    bool openedBefore_ = false;
    bool dtr_ = true, rts_ = true;  // raised by the open
    int timeoutRx_ = 0, timeoutTx_ = 0;
};

// The port object for a record's port name: a network port for the two URL
// forms, else the local device. Opens it (SerialIOException when it cannot).
std::unique_ptr<SerialPort> makeSerialPort(const SerialConfig& cfg);

}  // namespace morvia
