// The platform serial library that the port object calls: open, configure,
// close, byte transfer, counts, line signals and time-outs, each on the
// library's own port number. Every operation returns a 32-bit signed integer
// whose meaning is given per operation below.
//
// SerialLibrary is the interface; SerialLibrary::native() is the POSIX
// implementation over termios and ioctl. Tests may hand a port object a
// double of their own.
//
// Thread-safety: the native library keeps its table of open ports under a
// lock; calls on different ports may run concurrently. Calls on one port are
// expected from one user thread at a time (plus the flow task).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/SerialConfig.h"

struct serial_struct;

namespace morvia {

// The driver-specific terminal requests the native library makes beyond
// termios, as one seam so that tests can play a driver that has them (a
// pseudo-terminal has none). Each returns 0 or -1 with errno set, as ioctl.
class SerialDriver {
public:
    virtual ~SerialDriver() = default;
    virtual int getSerial(int fd, serial_struct& info);        // TIOCGSERIAL
    virtual int setSerial(int fd, const serial_struct& info);  // TIOCSSERIAL
    // The real driver calls (ioctl).
    static SerialDriver& system();
};

class SerialLibrary {
public:
    // Error codes of SerOpenPort.
    static constexpr int ERR_ALREADY_OPEN = 1000;
    static constexpr int ERR_IN_USE = 1002;
    static constexpr int ERR_NOT_VALID = 1003;

    virtual ~SerialLibrary() = default;

    virtual int SerGetLibVer() = 0;
    // 0 on success, with the record's port field set to the library's port
    // number plus one; else an error code (above, or a system error number).
    virtual int SerOpenPort(SerialConfig& cfg) = 0;
    // 0 on success.
    virtual int SerConfigure(int port, const SerialConfig& cfg) = 0;
    virtual int SerClosePort(int port) = 0;
    virtual int SerPutByte(int port, std::uint8_t b) = 0;
    // Number of bytes sent.
    virtual int SerPutData(int port, const std::uint8_t* data, int count) = 0;
    // The byte (0..255), or -1 when none arrived within the receive time-out.
    virtual int SerGetByte(int port) = 0;
    // Bytes read (0..count, at most what is waiting), -1 on failure.
    virtual int SerGetData(int port, std::uint8_t* data, int count) = 0;
    // -1 on failure.
    virtual int SerRxFlush(int port) = 0;
    virtual int SerTxFlush(int port) = 0;
    virtual int SerTxDrain(int port) = 0;
    // Byte counts, -1 on failure.
    virtual int SerRxReadyCount(int port) = 0;
    virtual int SerTxBufCount(int port) = 0;
    // 1 when the condition holds, 0 when not, -1 on failure.
    virtual int SerRxOverflow(int port) = 0;
    virtual int SerSigCTS(int port) = 0;
    virtual int SerSigDSR(int port) = 0;
    virtual int SerSigCD(int port) = 0;
    virtual int SerSigFrameErr(int port) = 0;
    virtual int SerSigParityErr(int port) = 0;
    virtual int SerSigOverrun(int port) = 0;
    virtual int SerSigRing(int port) = 0;
    virtual int SerSigBreak(int port) = 0;
    // -1 on failure.
    virtual int SerSetDTR(int port, bool on) = 0;
    virtual int SerSetRTS(int port, bool on) = 0;
    virtual int SerSendBreak(int port, int ms) = 0;
    virtual int SerSetTimeoutRx(int port, int ms) = 0;
    virtual int SerSetTimeoutTx(int port, int ms) = 0;
    // Time-outs in milliseconds.
    virtual int SerGetTimeoutRx(int port) = 0;
    virtual int SerGetTimeoutTx(int port) = 0;
    // One pass of flow-control handling; the flow task calls it in a loop.
    virtual int SerFlowTask(int port) = 0;
    // The operating system's error number of the port's last failed call
    // (0 when none failed); -1 for a port that is not open. A write that
    // could not finish in time gives ETIMEDOUT, a hung-up line EIO.
    virtual int SerLastError(int port) {
        (void)port;
        return 0;
    }

    // The POSIX library (process-wide, never destroyed).
    static SerialLibrary& native();
    // A POSIX library of its own over `driver` (tests); `driver` must outlive it.
    static std::unique_ptr<SerialLibrary> makeNative(SerialDriver& driver);
    // Longest time a write may wait for the line to take its bytes.
    static constexpr int writeLimitMs = 2000;
};

// Device path that the native library opens for a port name, or "" when the
// name is refused: a path ("/dev/ttyUSB0", "/dev/pts/7") is used as given,
// "COMn" (n >= 1) maps to /dev/ttyS(n-1). The library opens only paths that
// name a terminal device (checked before opening: opening some devices, a
// tape for instance, has effects of its own).
std::string serialDevicePath(const std::string& name);

}  // namespace morvia
