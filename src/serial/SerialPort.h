// A serial port as the rest of the program holds it. Every failure is raised
// as a SerialIOException carrying the message.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "serial/SerialConfig.h"

namespace morvia {

class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual void setConfig(const SerialConfig& cfg) = 0;
    virtual SerialConfig getConfig() const = 0;
    virtual void configure(const SerialConfig& cfg) = 0;
    // Opens (or reopens after close) the port named in the settings, with them.
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The operating system's error number of the last failed call, 0 if none.
    virtual int lastError() const = 0;
    virtual void putByte(std::uint8_t b) = 0;
    virtual void putString(const std::string& text) = 0;
    virtual void putData(std::span<const std::uint8_t> bytes) = 0;
    virtual void putData(std::span<const std::uint8_t> bytes, int count) = 0;
    virtual void putData(std::span<const std::uint8_t> bytes, int offset, int count) = 0;
    // The byte (0..255), or -1 when none arrived in time.
    virtual int getByte() = 0;
    // Bytes read into the span (0 up to its size).
    virtual int getData(std::span<std::uint8_t> bytes) = 0;
    virtual int getData(std::span<std::uint8_t> bytes, int offset, int length) = 0;
    virtual int rxFlush() = 0;
    virtual int txFlush() = 0;
    virtual int txDrain() = 0;
    virtual int rxReadyCount() = 0;
    virtual int txBufCount() = 0;
    virtual bool rxOverflow() = 0;
    virtual bool sigDSR() = 0;
    virtual bool sigCTS() = 0;
    virtual bool sigCD() = 0;
    virtual bool sigFrameErr() = 0;
    virtual bool sigOverrun() = 0;
    virtual bool sigParityErr() = 0;
    virtual bool sigRing() = 0;
    virtual bool sigBreak() = 0;
    virtual void setDTR(bool on) = 0;
    virtual void setRTS(bool on) = 0;
    virtual void sendBreak(int ms) = 0;
    virtual int getTimeoutRx() = 0;
    virtual int getTimeoutTx() = 0;
    virtual void setTimeoutRx(int ms) = 0;
    virtual void setTimeoutTx(int ms) = 0;
    virtual int getLibVer() = 0;
    // The library's number of the open port, -1 while closed.
    virtual int getPortNum() const = 0;
    virtual void setName(const std::string& name) = 0;
    virtual std::string getName() const = 0;
};

}  // namespace morvia
