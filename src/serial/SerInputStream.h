// An input byte stream over an open serial port: reads through getByte/getData
// and turns the port's non-blocking reads into blocking ones by polling every
// 20 ms. There is no time-out: callers that must not block ask `available`
// first.
//
// Thread-safety: no locking; used by the one thread that owns the port's
// traffic. The port must outlive the stream.
#pragma once

#include <cstdint>
#include <span>

#include "serial/SerialPort.h"

namespace morvia {

class SerInputStream {
public:
    // SerialIOException "Port not open" when the port's number is below 0;
    // otherwise sets the port's receive time-out to 0 (reads return at once).
    explicit SerInputStream(SerialPort& sp);

    // Blocks until a byte arrives; returns it (0..255).
    int read();
    // Blocks until at least one byte arrives; reads at most bytes.size().
    int read(std::span<std::uint8_t> bytes);
    int read(std::span<std::uint8_t> bytes, int offset, int length);
    int available();
    void close();

private:
    SerialPort& sp_;
};

}  // namespace morvia
