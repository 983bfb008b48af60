#include "remote/SerInPort.h"

#include <chrono>
#include <span>
#include <system_error>

#include "player/LocalVCR.h"
#include "serial/SerInputStream.h"
#include "serial/SerOutputStream.h"
#include "serial/SerialErrors.h"
#include "serial/SerialPortNet.h"
#include "sessionlog/SessionLog.h"
#include "startup/Quenta.h"
#include "startup/Utils.h"

namespace morvia {

SerInPort::SerInPort(const std::string& port) : SerInPort(port, Quenta::getmcs()) {}

SerialConfig SerInPort::editConfig(const std::string& port) {
    SerialConfig cfg(port);
    cfg.setDataBits(SerialConfig::LN_8BITS);
    cfg.setStopBits(SerialConfig::ST_1BITS);
    cfg.setBitRate(SerialConfig::BR_2400);
    cfg.setParity(SerialConfig::PY_NONE);
    cfg.setHandshake(SerialConfig::HS_NONE);
    cfg.setHardFlow(false);
    cfg.setTxLen(txBuf);
    cfg.setRxLen(rxBuf);
    return cfg;
}

SerInPort::SerInPort(const std::string& port, bool mcs) : MCS(mcs), serCfg(editConfig(port)) {
    try {
        serialPort2 = makeSerialPort(serCfg);
        NoCOM.store(0);
    } catch (const SerialIOException& e) {
        Utils::OutLine(e.what());
        return;
    }
    attachLine();
}

SerInPort::SerInPort(std::unique_ptr<SerialPort> port, const std::string& portName, bool mcs)
    : MCS(mcs), serCfg(editConfig(portName)), serialPort2(std::move(port)) {
    if (serialPort2) attachLine();
}

void SerInPort::attachLine() {
    try {
        serialPort2->setDTR(true);
    } catch (const SerialIOException&) {
        Utils::OutLine("Unable to set DTR=1");
        NoCOM.store(1);
    }
    try {
        SerialOutStream2 = std::make_unique<SerOutputStream>(*serialPort2);
    } catch (const SerialIOException&) {
        Utils::OutLine("Unable to make OutputStream");
        NoCOM.store(1);
    }
    try {
        SerialInStream2 = std::make_unique<SerInputStream>(*serialPort2);
    } catch (const SerialIOException&) {
        Utils::OutLine("Unable to make InputStream");
        NoCOM.store(1);
    }
}

void SerInPort::lineFailedLocked(const std::string& what, const SerialIOException& e) {
    if (failing_) return;
    failing_ = true;
    const int err = serialPort2 ? serialPort2->lastError() : 0;
    Utils::OutLine(what);
    Utils::OutLine("Serial Port " + serCfg.getPortName() + ": " +
                   (err > 0 ? std::generic_category().message(err) : std::string(e.what())));
}

SerInPort::~SerInPort() {
    try {
        stopme();
    } catch (...) {
        // Joining can only fail on a broken thread handle; nothing to undo.
    }
    SerialInStream2.reset();
    SerialOutStream2.reset();
    serialPort2.reset();  // closes the port
}

void SerInPort::start() {
    worker_.start([this](std::stop_token) {
        const sessionlog::Scope source("editport");  // the session log's source of its commands
        run();
    });
}

void SerInPort::stopme() {
    a.store(false);
    worker_.stop();  // a stopped port never starts polling
}

void SerInPort::run() {
    worker_.requireOnThread("the poll loop runs on the edit port's own thread");
    b.store(3);
    Utils::OutLine("B= " + std::to_string(b.load()));
    a.store(true);
    for (;;) {
        if (!worker_.sleepFor(std::chrono::milliseconds(std::max(0, sleeptime.load())))) break;
        if (!a.load()) break;
        try {
            readpart1();
        } catch (const std::exception& e) {
            // A controller or console failure must not end the port thread.
            Utils::OutLine(e.what());
        }
    }
    a.store(false);
}

void SerInPort::readExactly(std::uint8_t* into, std::size_t len) {
    std::size_t got = 0;
    while (got < len) {
        int n = SerialInStream2->read(std::span<std::uint8_t>(into + got, len - got));
        if (n <= 0) throw SerialIOException("read returned no bytes");
        got += static_cast<std::size_t>(n);
    }
}

void SerInPort::readpart1() {
    Buffer msg{};
    {
        std::lock_guard g(lock_);
        serin.fill(0);
        // Without an input stream there is nothing to read; the poll is
        // harmless and the thread keeps polling.
        if (!SerialInStream2) return;
        try {
            if (SerialInStream2->available() >= 3) readExactly(serin.data(), 3);
            const int n = serin[0] & 0x0F;
            if (n > 0 && SerialInStream2->available() >= n) {
                if (n <= buffersize - 3) {
                    readExactly(serin.data() + 3, static_cast<std::size_t>(n));
                } else {
                    // Longer than the buffer: consume the whole message and
                    // drop it (no message of the set carries data bytes).
                    std::array<std::uint8_t, 15> scratch{};
                    readExactly(scratch.data(), static_cast<std::size_t>(n));
                    serin.fill(0);
                }
            }
            failing_ = false;
        } catch (const SerialIOException& e) {
            SerError.store(2);
            lineFailedLocked("Unable to read from Serial Port", e);
        }
        msg = serin;
    }
    if (msg[1] != 0) parse(msg);
}

void SerInPort::parse() { parse(buffer()); }

void SerInPort::parse(const Buffer& msg) {
    if (!MCS) return;
    LocalVCR* vcr = svcr.load();
    if (vcr == nullptr) return;
    const std::uint8_t header = msg[0];
    const std::uint8_t command = msg[1];
    if (header == 0x80) {
        switch (command) {
            case 0x45: vcr->play(); break;
            case 0x44: vcr->pause(); break;
            case 0x46: vcr->stop(); break;
            case 0x42: vcr->rewind(); break;
            case 0x43: vcr->forward(); break;
            case 0x40:
                if (auto logger = vcr->getloggergui()) logger->setin();
                break;
            case 0x41:
                if (auto logger = vcr->getloggergui()) logger->setout();
                break;
            default: break;
        }
    } else if (header == 0x81) {
        if (static_cast<std::int8_t>(command) > 0x40) {
            vcr->jogf();
            Utils::OutLine("JogF");
        } else {
            vcr->jogr();
            Utils::OutLine("JogR");
        }
    }
}

SerInPort::Buffer SerInPort::buffer() const {
    std::lock_guard g(lock_);
    return serin;
}

bool SerInPort::SendSer(const std::uint8_t* bytes, std::size_t len) {
    std::lock_guard g(lock_);
    try {
        if (!SerialOutStream2) throw SerialIOException("Port not open");
        SerialOutStream2->write(std::span<const std::uint8_t>(bytes, len));
        failing_ = false;
        return true;
    } catch (const SerialIOException& e) {
        lineFailedLocked("Unable to write to Serial Port", e);
        SerError.store(1);
        return false;
    }
}

void SerInPort::ReplySerial(const std::uint8_t* bytes, std::size_t len) { SendSer(bytes, len); }

SerInPort::Buffer SerInPort::SendSerial(const std::uint8_t* bytes, std::size_t len) {
    {
        std::lock_guard g(lock_);
        serin.fill(0);
    }
    SerError.store(0);
    if (SendSer(bytes, len)) return ReadSer();
    return buffer();
}

SerInPort::Buffer SerInPort::ReadSer() {
    std::lock_guard g(lock_);
    numBytes.store(0);
    serin.fill(0);
    if (SerialInStream2) {
        try {
            while (SerialInStream2->available() > 0) {
                // Each read fills the buffer from its start.
                numBytes.store(SerialInStream2->read(std::span<std::uint8_t>(serin)));
            }
        } catch (const SerialIOException& e) {
            SerError.store(2);
            lineFailedLocked("Unable to read from Serial Port", e);
        }
    }
    return serin;
}

void SerInPort::ShowStat(const std::string& text) {
    if (LocalVCR* vcr = svcr.load()) vcr->ShowStat(text);
}

std::unique_ptr<EditPortSeam> makeSerInPort(const std::string& port) { return std::make_unique<SerInPort>(port); }

}  // namespace morvia
