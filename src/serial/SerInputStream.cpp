#include "serial/SerInputStream.h"

#include <chrono>
#include <climits>
#include <thread>
#include <vector>

#include "serial/SerialErrors.h"

namespace morvia {
namespace {

void pause20() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

void checkSlice(std::size_t size, int offset, int length, const char* what) {
    if (offset < 0 || length < 0 || size < static_cast<std::size_t>(offset) + static_cast<std::size_t>(length))
        throw SerialIOException(std::string(what) + ": offset or length out of bounds");
}

}  // namespace

SerInputStream::SerInputStream(SerialPort& sp) : sp_(sp) {
    if (sp_.getPortNum() < 0) throw SerialIOException("Port not open");
    sp_.setTimeoutRx(0);
}

int SerInputStream::read() {
    while (true) {
        int b = sp_.getByte();
        if (b != -1) return b;
        pause20();
    }
}

int SerInputStream::read(std::span<std::uint8_t> bytes) {
    if (bytes.empty()) return 0;
    while (true) {
        int n = sp_.getData(bytes);
        if (n > 0) return n;
        pause20();
    }
}

int SerInputStream::read(std::span<std::uint8_t> bytes, int offset, int length) {
    checkSlice(bytes.size(), offset, length, "read");
    if (length == 0) return 0;
    std::vector<std::uint8_t> tmp(static_cast<std::size_t>(length));
    int n = read(tmp);
    std::copy(tmp.begin(), tmp.begin() + n, bytes.begin() + offset);
    return n;
}

int SerInputStream::available() { return sp_.rxReadyCount(); }

void SerInputStream::close() { sp_.close(); }

}  // namespace morvia
