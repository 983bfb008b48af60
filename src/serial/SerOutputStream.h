// An output byte stream over an open serial port: writes through the port's
// putByte/putData.
//
// Thread-safety: no locking; used by the one thread that owns the port's
// traffic. The port must outlive the stream.
#pragma once

#include <cstdint>
#include <span>

#include "serial/SerialPort.h"

namespace morvia {

class SerOutputStream {
public:
    // SerialIOException "Port not open" when the port's number is below 0;
    // otherwise sets the port's transmit time-out to the largest value.
    explicit SerOutputStream(SerialPort& sp);

    void write(int b);  // the low eight bits
    void write(std::span<const std::uint8_t> bytes);
    void write(std::span<const std::uint8_t> bytes, int offset, int length);
    // Waits until the port reports no bytes waiting to be sent.
    void flush();

private:
    SerialPort& sp_;
};

}  // namespace morvia
