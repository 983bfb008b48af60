#include "serial/SerialPortLocal.h"

#include <chrono>
#include <thread>
#include <vector>

#include "serial/FlowControlTask.h"
#include "serial/SerialErrors.h"

namespace morvia {
namespace {

bool isOneOf(const std::string& s, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (s == n) return true;
    return false;
}

[[noreturn]] void raise(const std::string& message) { throw SerialIOException(message); }

}  // namespace

SerialPortLocal::SerialPortLocal(std::string os, SerialLibrary& lib) : lib_(lib), osName(std::move(os)) {
    featureSetup();
    config = SerialConfig(devName);
    config.setOsName(osName);
}

SerialPortLocal::SerialPortLocal(const SerialConfig& cfg, std::string os, SerialLibrary& lib)
    : lib_(lib), osName(std::move(os)), config(cfg) {
    featureSetup();
    open();
}

SerialPortLocal::~SerialPortLocal() {
    stopFlowTask();
    try {
        close();
    } catch (...) {
        // A port that will not close is left to the process end.
    }
}

void SerialPortLocal::featureSetup() {
    if (isOneOf(osName, {"Windows 95", "Windows NT", "Windows 98", "OS/2"})) {
        supSigBreak = supSigFrameErr = supSigOverrun = supSigParityErr = supRxOverflow = supSigRing = supSigCTS =
            supSigDSR = supSigCD = supSetRTS = supSetDTR = supRxReadyCount = supTxBufCount = supSetTimeoutTx =
                supGetTimeoutTx = true;
        pollRxTimeout = false;
        devName = "COM1";
    } else if (osName == "Mac OS") {
        supSigBreak = supSigFrameErr = supSigParityErr = supSigOverrun = supRxOverflow = supRxReadyCount =
            supSetTimeoutTx = supGetTimeoutTx = supSigCTS = supSetDTR = true;
        pollRxTimeout = true;
        devName = "Modem Port";
    } else if (isOneOf(osName, {"Linux", "FreeBSD", "Solaris", "HP/UX", "IRIX", "AIX"})) {
        supSigRing = supSetRTS = supSetDTR = supSigCD = supRxReadyCount = supTxBufCount = supSigCTS = supSigDSR = true;
        pollRxTimeout = true;
        devName = osName == "Linux" ? "/dev/ttyS0" : osName == "Solaris" ? "/dev/ttya" : "/dev/tty0";
    } else {
        pollRxTimeout = false;
        devName.clear();
    }
}

bool SerialPortLocal::isSupported(const std::string& f) const {
    if (f == "sigBreak") return supSigBreak;
    if (f == "sigFrameErr") return supSigFrameErr;
    if (f == "sigOverrun") return supSigOverrun;
    if (f == "sigParityErr") return supSigParityErr;
    if (f == "rxOverflow") return supRxOverflow;
    if (f == "sigRing") return supSigRing;
    if (f == "sigCTS") return supSigCTS;
    if (f == "sigDSR") return supSigDSR;
    if (f == "sigCD") return supSigCD;
    if (f == "setRTS") return supSetRTS;
    if (f == "setDTR") return supSetDTR;
    if (f == "rxReadyCount") return supRxReadyCount;
    if (f == "txBufCount") return supTxBufCount;
    if (f == "setTimeoutTx") return supSetTimeoutTx;
    return true;
}

// The library writes its own port number into the record it opens; it gets a
// copy, so that the record keeps naming the port the caller asked for and a
// later reset or open finds the same device.
int SerialPortLocal::openNamed() {
    SerialConfig opened = config;
    int r = lib_.SerOpenPort(opened);
    if (r == 0) port = opened.getPort() - 1;
    return r;
}

void SerialPortLocal::open() {
    if (osName != "Windows 95") config.setHardFlow(false);
    int r = openNamed();
    if (r != 0) {
        switch (r) {
            case SerialLibrary::ERR_ALREADY_OPEN: raise("SerOpenPort failed: Port is already open");
            case SerialLibrary::ERR_IN_USE: raise("SerOpenPort failed: Port is in use");
            case SerialLibrary::ERR_NOT_VALID: raise("SerOpenPort failed: Port not valid");
            default: raise("SerOpenPort failed: " + std::to_string(r));
        }
    }
    isOpen_ = true;
    try {
        configure(config);
        if (osName == "Mac OS") {
            setTimeoutRx(2000);
            setTimeoutTx(2000);
        } else {
            setTimeoutRx(0);
            if (supSetTimeoutTx) setTimeoutTx(0);
        }
    } catch (...) {
        // Do not leave the device open (and "already open") behind a failed open.
        stopFlowTask();
        lib_.SerClosePort(port);
        port = -1;
        isOpen_ = false;
        throw;
    }
}

void SerialPortLocal::configure() { configure(config); }

void SerialPortLocal::configure(const SerialConfig& cfg) {
    stopFlowTask();
    int r = lib_.SerConfigure(port, cfg);
    if (r != 0) raise("Configure failed: " + std::to_string(r));
    int hs = cfg.getHandshake();
    if (cfg.getHardFlow() && osName == "Windows 95" &&
        (hs == SerialConfig::HS_CTSRTS || hs == SerialConfig::HS_DSRDTR) && !flowControl) {
        flowControl = std::make_unique<FlowControlTask>(*this);
        flowControl->start();
    }
}

void SerialPortLocal::stopFlowTask() noexcept {
    if (flowControl) {
        flowControl->stop();
        flowControl.reset();
    }
}

void SerialPortLocal::close() {
    stopFlowTask();
    if (port >= 0) {
        if (lib_.SerClosePort(port) != 0) raise("ClosePort failed");
        isOpen_ = false;
        port = -1;
    }
}

void SerialPortLocal::reset() {
    close();
    int r = openNamed();
    if (r != 0) raise("reset: SerOpenPort failed: " + std::to_string(r));
    isOpen_ = true;
    configure(config);
}

// --- writing ---

void SerialPortLocal::putByte(std::uint8_t b) {
    if (lib_.SerPutByte(port, b) != 0) raise("PutByte failed");
}

void SerialPortLocal::putString(const std::string& text) {
    if (text.empty()) return;
    int count = static_cast<int>(text.size());
    int sent = lib_.SerPutData(port, reinterpret_cast<const std::uint8_t*>(text.data()), count);
    if (sent < count) raise("PutString: sent only " + std::to_string(sent) + " of " + std::to_string(count) + " bytes");
}

void SerialPortLocal::putData(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    int count = static_cast<int>(bytes.size());
    int sent = lib_.SerPutData(port, bytes.data(), count);
    if (sent < count) raise("PutData1: Sent only " + std::to_string(sent) + " of " + std::to_string(count) + " bytes");
}

void SerialPortLocal::putData(std::span<const std::uint8_t> bytes, int count) {
    if (count < 0 || bytes.size() < static_cast<std::size_t>(count)) raise("putData: count out of bounds");
    int sent = lib_.SerPutData(port, bytes.data(), count);
    if (sent < count) raise("PutData2: Sent only " + std::to_string(sent) + " of " + std::to_string(count) + " bytes");
}

void SerialPortLocal::putData(std::span<const std::uint8_t> bytes, int offset, int count) {
    if (offset < 0 || count < 0 || bytes.size() < static_cast<std::size_t>(offset) + static_cast<std::size_t>(count))
        raise("putData3: count out of bounds");
    std::vector<std::uint8_t> slice(bytes.begin() + offset, bytes.begin() + offset + count);
    int sent = lib_.SerPutData(port, slice.data(), count);
    if (sent < count) raise("Sent only " + std::to_string(sent) + " of " + std::to_string(count) + " bytes");
}

// --- reading ---

// Waits (at most the library's receive time-out) until `need` bytes wait.
bool SerialPortLocal::waitReady(int need) {
    int t = lib_.SerGetTimeoutRx(port);
    if (!pollRxTimeout || t <= 0) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t);
    while (true) {
        int n = lib_.SerRxReadyCount(port);
        if (n >= need) return true;
        if (n < 0 || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int SerialPortLocal::getByte() {
    if (port < 0) raise("getByte: Port not open");
    if (!waitReady(1)) return -1;
    return lib_.SerGetByte(port);
}

int SerialPortLocal::getData(std::span<std::uint8_t> bytes) {
    waitReady(static_cast<int>(bytes.size()));
    int n = lib_.SerGetData(port, bytes.data(), static_cast<int>(bytes.size()));
    if (n == -1) raise("getData: failed");
    return n;
}

int SerialPortLocal::getData(std::span<std::uint8_t> bytes, int offset, int length) {
    if (offset < 0 || length < 0 || bytes.size() < static_cast<std::size_t>(offset) + static_cast<std::size_t>(length))
        raise("getData: offset or length out of bounds");
    std::vector<std::uint8_t> tmp(static_cast<std::size_t>(length));
    int n = getData(tmp);
    std::copy(tmp.begin(), tmp.begin() + n, bytes.begin() + offset);
    return n;
}

// --- guarded queries and settings ---

void SerialPortLocal::guard(bool supported, const char* label, bool needsPort) const {
    if (!supported) raise(std::string(label) + " not supported on " + osName);
    if (needsPort && port < 0) raise(std::string(label) + ": Port not open");
}

int SerialPortLocal::checked(int result, const char* label) const {
    if (result == -1) raise(std::string(label) + " failed");
    return result;
}

int SerialPortLocal::rxReadyCount() {
    guard(supRxReadyCount, "rxReadyCount", true);
    return checked(lib_.SerRxReadyCount(port), "rxReadyCount");
}
int SerialPortLocal::txBufCount() {
    guard(supTxBufCount, "txBufCount", true);
    return checked(lib_.SerTxBufCount(port), "txBufCount");
}
bool SerialPortLocal::rxOverflow() {
    guard(supRxOverflow, "rxOverflow", true);
    return checked(lib_.SerRxOverflow(port), "rxOverflow") == 1;
}
bool SerialPortLocal::sigDSR() {
    guard(true, "sigDSR", true);
    return checked(lib_.SerSigDSR(port), "sigDSR") == 1;
}
bool SerialPortLocal::sigCTS() {
    guard(true, "sigCTS", true);
    return checked(lib_.SerSigCTS(port), "sigCTS") == 1;
}
bool SerialPortLocal::sigCD() {
    guard(supSigCD, "sigCD", true);
    return checked(lib_.SerSigCD(port), "sigCD") == 1;
}
bool SerialPortLocal::sigFrameErr() {
    guard(supSigFrameErr, "sigFrameErr", true);
    return checked(lib_.SerSigFrameErr(port), "sigFrameErr") == 1;
}
bool SerialPortLocal::sigOverrun() {
    guard(supSigOverrun, "sigOverrun", true);
    return checked(lib_.SerSigOverrun(port), "sigOverrun") == 1;
}
bool SerialPortLocal::sigParityErr() {
    guard(supSigParityErr, "sigParityErr", true);
    return lib_.SerSigParityErr(port) == 1;  // a failure reads as false
}
bool SerialPortLocal::sigRing() {
    guard(supSigRing, "sigRing", true);
    return lib_.SerSigRing(port) == 1;  // a failure reads as false
}
bool SerialPortLocal::sigBreak() {
    guard(supSigBreak, "sigBreak", true);
    return checked(lib_.SerSigBreak(port), "sigBreak") == 1;
}
void SerialPortLocal::setDTR(bool on) {
    guard(supSetDTR, "setDTR", false);
    checked(lib_.SerSetDTR(port, on), "setDTR");
}
void SerialPortLocal::setRTS(bool on) {
    guard(supSetRTS, "setRts", false);
    checked(lib_.SerSetRTS(port, on), "setRTS");
}
void SerialPortLocal::sendBreak(int ms) { checked(lib_.SerSendBreak(port, ms), "sendBreak"); }
void SerialPortLocal::setTimeoutRx(int ms) { checked(lib_.SerSetTimeoutRx(port, ms), "setTimeoutRx"); }
void SerialPortLocal::setTimeoutTx(int ms) { checked(lib_.SerSetTimeoutTx(port, ms), "setTimeoutTx"); }
int SerialPortLocal::rxFlush() { return checked(lib_.SerRxFlush(port), "rxFlush"); }
int SerialPortLocal::txFlush() { return checked(lib_.SerTxFlush(port), "txFlush"); }
int SerialPortLocal::txDrain() { return checked(lib_.SerTxDrain(port), "txDrain"); }
int SerialPortLocal::getTimeoutRx() { return lib_.SerGetTimeoutRx(port); }
int SerialPortLocal::getTimeoutTx() { return lib_.SerGetTimeoutTx(port); }
int SerialPortLocal::getLibVer() { return lib_.SerGetLibVer(); }
int SerialPortLocal::lastError() const { return port >= 0 ? lib_.SerLastError(port) : 0; }

}  // namespace morvia
