#include "serial/SerOutputStream.h"

#include <climits>
#include <thread>
#include <vector>

#include "serial/SerialErrors.h"

namespace morvia {
namespace {

void checkSlice(std::size_t size, int offset, int length, const char* what) {
    if (offset < 0 || length < 0 || size < static_cast<std::size_t>(offset) + static_cast<std::size_t>(length))
        throw SerialIOException(std::string(what) + ": offset or length out of bounds");
}

}  // namespace

SerOutputStream::SerOutputStream(SerialPort& sp) : sp_(sp) {
    if (sp_.getPortNum() < 0) throw SerialIOException("Port not open");
    sp_.setTimeoutTx(INT_MAX);
}

void SerOutputStream::write(int b) { sp_.putByte(static_cast<std::uint8_t>(b & 0xFF)); }

void SerOutputStream::write(std::span<const std::uint8_t> bytes) { sp_.putData(bytes); }

void SerOutputStream::write(std::span<const std::uint8_t> bytes, int offset, int length) {
    checkSlice(bytes.size(), offset, length, "write");
    std::vector<std::uint8_t> slice(bytes.begin() + offset, bytes.begin() + offset + length);
    sp_.putData(slice);
}

void SerOutputStream::flush() {
    while (sp_.txBufCount() > 0) std::this_thread::yield();
}

}  // namespace morvia
