#include "player/SerOutPort.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <sys/stat.h>

#include "player/CommandNames.h"
#include "player/ReplyWait.h"
#include "serial/NetPortName.h"
#include "serial/SerialErrors.h"
#include "serial/SerLib.h"
#include "serial/SerialPortNet.h"
#include "startup/Utils.h"

namespace morvia {
namespace {

// Failures that mean the line itself is gone (a hung-up terminal, an
// unplugged adapter), as opposed to one write that did not get through.
bool isHangUp(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

bool nodeExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

SerialConfig SerOutPort::playerConfig(const std::string& portName) {
    SerialConfig cfg(portName);
    try {
        cfg.setHandshake(SerialConfig::HS_NONE);
        cfg.setDataBits(SerialConfig::LN_8BITS);
        cfg.setStopBits(SerialConfig::ST_1BITS);
        cfg.setHardFlow(false);
        cfg.setTxLen(txBuf);
        cfg.setRxLen(rxBuf);
        cfg.setBitRate(SerialConfig::BR_4800);
        cfg.setParity(SerialConfig::PY_NONE);
    } catch (const SerialArgException& e) {
        // Fixed, valid values; kept so that construction never throws.
        OutLine(e.what());
    }
    return cfg;
}

SerOutPort::SerOutPort(const std::string& portName)
    : portName_(portName), clock_(Clock::steady()), netPort_(isNetworkPortName(portName)) {
    try {
        serialPort = makeSerialPort(playerConfig(portName));
        lastByteAt_ = clock_->now();
    } catch (const SerialIOException& e) {
        OutLine(" ");
        OutLine("Serial Port " + portName + " not available");
        // A device path needs no explanation; a server names host, port and reason.
        if (netPort_) OutLine("Serial Port " + portName + ": " + e.what());
        bad = true;
        return;
    }
    attachLine();
}

SerOutPort::SerOutPort(std::unique_ptr<SerialPort> port, const std::string& portName, std::shared_ptr<Clock> clock)
    : portName_(portName), clock_(std::move(clock)), netPort_(isNetworkPortName(portName)), serialPort(std::move(port)) {
    lastByteAt_ = clock_->now();
    if (!serialPort) {
        bad = true;
        return;
    }
    attachLine();
}

void SerOutPort::attachLine() {
    try {
        serialPort->setDTR(true);
    } catch (const SerialIOException&) {
        OutLine("Unable to set DTR=1");
    }
    try {
        serialPort->setRTS(true);
    } catch (const SerialIOException&) {
        OutLine("Unable to set RTS=1");
    }
    try {
        SerialOutStream = std::make_unique<SerOutputStream>(*serialPort);
    } catch (const SerialIOException&) {
        OutLine("Unable to make OutputStream");
    }
    try {
        SerialInStream = std::make_unique<SerInputStream>(*serialPort);
    } catch (const SerialIOException&) {
        OutLine("Unable to make InputStream");
    }
}

SerOutPort::~SerOutPort() { worker_.stop(); }

void SerOutPort::start() {
    if (bad) return;
    worker_.start([this](std::stop_token stop) { run(stop); });
}

void SerOutPort::queue(const std::string& command) { store(command, false); }

void SerOutPort::queueFinal(const std::string& command) { store(command, true); }

void SerOutPort::closeGate() {
    std::lock_guard g(storeLock_);
    gateClosed_.store(true);
    d.store(0);  // a poll asked for before the close is not made
}

void SerOutPort::store(const std::string& command, bool final) {
    if (command.size() > static_cast<std::size_t>(maxCommand)) {
        OutLine("Command of " + std::to_string(command.size()) + " bytes not queued: longer than " +
                std::to_string(maxCommand));
        return;
    }
    const bool logging = sessionlog::enabled();
    const char* droppedWhy = nullptr;
    {
        std::lock_guard g(storeLock_);
        if (gateClosed_.load() && !final) {
            // The window is closing: only its stop commands go out.
            ++refusedAtGate_;
            droppedWhy = "close";
        } else if (down_.load()) {
            // Kept for later, a transport command would reach the player long
            // after the operator gave it.
            ++dropped_;
            droppedWhy = "line down";
        } else if (b > maxWaiting - 1) {
            droppedWhy = "49 commands waiting";  // dropped
        } else {
            auto& row = cmdset[static_cast<std::size_t>(b)];
            row[0] = static_cast<std::uint8_t>(command.size());
            for (std::size_t i = 0; i < command.size(); ++i) row[i + 1] = static_cast<std::uint8_t>(command[i]);
            if (logging) sources_[static_cast<std::size_t>(b)] = sessionlog::currentSource();
            ++b;
        }
    }
    if (logging && droppedWhy)
        sessionlog::recordCommand(commandName(command), command, "dropped", sessionlog::currentSource(), droppedWhy);
}

void SerOutPort::logDroppedLocked(int count, std::vector<std::pair<std::string, sessionlog::Source>>& out) const {
    if (!sessionlog::enabled()) return;
    // Newest first, the order in which they would have been sent.
    for (int row = count - 1; row >= 0; --row) out.emplace_back(dequeue(row), sources_[static_cast<std::size_t>(row)]);
}

void SerOutPort::logDropped(const std::vector<std::pair<std::string, sessionlog::Source>>& dropped, const char* why) {
    for (const auto& [command, source] : dropped)
        sessionlog::recordCommand(commandName(command), command, "dropped", source, why);
}

std::string SerOutPort::dequeue(int row) const {
    const auto& r = cmdset[static_cast<std::size_t>(row)];
    std::size_t len = std::min<std::size_t>(r[0], maxCommand);
    return std::string(reinterpret_cast<const char*>(r.data() + 1), len);
}

int SerOutPort::pending() const {
    std::lock_guard g(storeLock_);
    return b;
}

bool SerOutPort::waitIdle(int ms) {
    std::unique_lock g(storeLock_);
    ++idleWaiters_;
    const bool idle =
        storeCv_.wait_for(g, std::chrono::milliseconds(ms > 0 ? ms : 0), [this] { return b == 0 && !inFlight_; });
    --idleWaiters_;
    return idle;
}

void SerOutPort::notifyIdleWaiters() {
    bool waiting;
    {
        std::lock_guard g(storeLock_);
        waiting = idleWaiters_ > 0;
    }
    if (waiting) storeCv_.notify_all();
}

int SerOutPort::dropWaiting() {
    int dropped = 0;
    std::vector<std::pair<std::string, sessionlog::Source>> logged;
    {
        std::lock_guard g(storeLock_);
        dropped = b + std::exchange(refusedAtGate_, 0);
        logDroppedLocked(b, logged);
        b = 0;
        d.store(0);
    }
    storeCv_.notify_all();  // the store is empty now: waitIdle may return
    logDropped(logged, "close");
    return dropped;
}

void SerOutPort::run(std::stop_token stop) {
    // The cycle pause; a stop cuts it short and ends the thread.
    Clock::duration pause = cyclePause;
    while (clock_->sleep(worker_, pause) && !stop.stop_requested()) pause = cycle(clock_->now());
}

Clock::duration SerOutPort::cycle(Clock::time_point now) {
    std::string command;
    sessionlog::Source source;
    bool haveCommand = false;
    {
        std::unique_lock g(storeLock_);
        if (!down_.load() && b >= 1 && b <= maxWaiting) {
            --b;
            command = dequeue(b);
            if (sessionlog::enabled()) source = std::move(sources_[static_cast<std::size_t>(b)]);
            haveCommand = true;
            inFlight_ = true;
        }
    }
    if (down_.load()) {
        {
            std::lock_guard g(lineLock_);
            reopenLocked(now);
        }
        if (down_.load()) {
            // No exchange on a dead line; a poll only shows that it failed.
            if (d.exchange(0) == 1) finishPoll(serin, false);
            reportSilence();
            return cyclePause;
        }
    }
    Clock::duration pause = cyclePause;
    if (haveCommand) {
        Reply reply = SendSerial(command, &source);
        if (command.size() == 3 && command[0] == '?' && command[1] == 'A') decodeInfo(reply);
    } else if (d.exchange(0) == 1 && !gateClosed_.load()) {
        // Read and cleared in one step, so a request is taken exactly once;
        // none is made once the window is closing.
        Reply reply = SendSerial(std::string(reinterpret_cast<const char*>(bsgetfr), sizeof bsgetfr), nullptr);
        finishPoll(reply, SEROK.load() && !silent_.load());
        pause = pollPause;
    }
    reportSilence();
    return pause;
}

void SerOutPort::finishPoll(const Reply& reply, bool ok) {
    LinkClient* c = client_.load();
    if (!c) return;
    if (ok) c->DoTC(reply.data(), buffersize, numBytes.load());
    c->TCIndicate(ok);
}

void SerOutPort::reportSilence() {
    const bool now = silent_.load();
    if (now == reportedSilent_) return;
    reportedSilent_ = now;
    // A line that went down was logged as it closed.
    if (sessionlog::enabled() && !down_.load())
        sessionlog::record(sessionlog::Event(now ? "link_down" : "link_up")
                               .text("reason", now ? "no reply from the player for a second" : "the player answers"));
    if (LinkClient* c = client_.load()) c->LinkSilence(now);
}

void SerOutPort::decodeInfo(const Reply& reply) {
    auto digit = [&](int i) {
        return static_cast<int>(static_cast<std::int8_t>(reply[static_cast<std::size_t>(i)])) - '0';
    };
    int title = 10 * digit(0) + digit(1);
    int chapter = 10 * digit(2) + digit(3);
    tinumber.store(title);
    chnumber.store(chapter);
    if (title < 1 || title > 99) return;
    LinkClient* c = client_.load();
    if (c) c->setinfo(title, (chapter >= 1 && chapter <= 99) ? chapter : -1);
}

SerOutPort::Reply SerOutPort::SendSerial(const std::string& command, const sessionlog::Source* source) {
    Reply reply;
    bool written = false;
    {
        std::lock_guard g(lineLock_);
        reply = exchangeLocked(command, written, source);
    }
    if (written) {
        if (LinkClient* c = client_.load()) c->SerIn(reply.data(), buffersize);
    }
    return reply;
}

SerOutPort::Reply SerOutPort::exchangeLocked(const std::string& command, bool& written,
                                             const sessionlog::Source* source) {
    serin.fill(0);
    numBytes.store(0);
    SEROK.store(true);
    if (netPort_) dropLateBytesLocked();
    written = writeLocked(command);
    // Logged before waitIdle can return, so that a close's last commands
    // come before the log's end; the log's thread does the writing.
    if (source && sessionlog::enabled())
        sessionlog::recordCommand(commandName(command), command, written ? "sent" : "dropped", *source,
                                  written ? std::string() : std::string("write failed"));
    {
        // The command has left the store: waitIdle may return now.
        std::lock_guard g(storeLock_);
        inFlight_ = false;
    }
    notifyIdleWaiters();
    if (!written) {
        SEROK.store(false);
        return serin;
    }
    const auto writtenAt = clock_->now();
    // Cut short by a stop; what arrived so far is still read.
    clock_->sleep(worker_, std::chrono::milliseconds(std::max(0, wait.load())));
    readLocked();
    if (netPort_) awaitReplyEndLocked(writtenAt);
    if (serin[0] == 'E') SEROK.store(false);
    return serin;
}

bool SerOutPort::SendSer(const std::string& command) {
    std::lock_guard g(lineLock_);
    return writeLocked(command);
}

SerOutPort::Reply SerOutPort::ReadSer() {
    std::lock_guard g(lineLock_);
    readLocked();
    return serin;
}

bool SerOutPort::writeLocked(const std::string& command) {
    if (!serialPort || !serialPort->isOpen()) {
        writeFailedLocked(0, "port not open");
        return false;
    }
    try {
        serialPort->putData(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(command.data()), command.size()));
    } catch (const SerialIOException& e) {
        writeFailedLocked(serialPort->lastError(), e.what());
        return false;
    }
    writeWorkedLocked();
    return true;
}

void SerOutPort::writeFailedLocked(int err, const std::string& what) {
    ++failedExchanges_;
    if (!failing_) {
        failing_ = true;
        OutLine("Unable to write to Serial Port");
        OutLine("Serial Port " + portName_ + ": " + (err > 0 ? std::generic_category().message(err) : what));
    }
    // A network port's write fails only when its connection is gone.
    if (serialPort && serialPort->isOpen() &&
        (netPort_ || isHangUp(err) || !nodeExists(serialDevicePath(portName_))))
        closeLineLocked();
}

void SerOutPort::writeWorkedLocked() {
    if (!failing_) return;
    long dropped = 0;
    {
        std::lock_guard g(storeLock_);
        std::swap(dropped, dropped_);
    }
    std::string line =
        "Serial Port " + portName_ + " working again after " + std::to_string(failedExchanges_) + " failed exchanges";
    if (dropped > 0) line += ", " + std::to_string(dropped) + " commands dropped";
    OutLine(line);
    failing_ = false;
    failedExchanges_ = 0;
}

void SerOutPort::closeLineLocked() {
    try {
        serialPort->close();
    } catch (const SerialIOException&) {
        // The descriptor is released with the library's record either way.
    }
    std::vector<std::pair<std::string, sessionlog::Source>> logged;
    {
        std::lock_guard g(storeLock_);
        // What waits was meant for a player that is not there any more.
        dropped_ += b;
        logDroppedLocked(b, logged);
        b = 0;
        down_.store(true);
    }
    notifyIdleWaiters();
    if (sessionlog::enabled()) {
        sessionlog::record(sessionlog::Event("link_down").text("reason", "line " + portName_ + " hung up"));
        logDropped(logged, "line down");
    }
    silent_.store(true);
    nextReopen_ = clock_->now() + std::chrono::milliseconds(reopenMs);
}

void SerOutPort::reopenLocked(Clock::time_point now) {
    if (now < nextReopen_) return;
    nextReopen_ = now + std::chrono::milliseconds(reopenMs);
    try {
        serialPort->open();
    } catch (const SerialIOException&) {
        return;  // not back yet; tried again in a second, without a line
    }
    // The settings came back with the open; the modem lines are raised again
    // (a pseudo-terminal has none, which the first open already reported).
    try {
        serialPort->setDTR(true);
        serialPort->setRTS(true);
    } catch (const SerialIOException&) {}
    OutLine("Serial Port " + portName_ + " Opened OK");
    sessionlog::record(sessionlog::Event("link_up").text("reason", "line " + portName_ + " reopened"));
    lastByteAt_ = now;
    std::lock_guard g(storeLock_);
    down_.store(false);
}

void SerOutPort::readLocked() {
    numBytes.store(0);
    if (!SerialInStream) return;
    int total = 0;
    try {
        // Bounded by the receive buffer length, so that a line that never
        // stops talking cannot hold the exchange forever; the rest is found
        // by the next exchange.
        while (total < rxBuf && SerialInStream->available() > 0) {
            int n = SerialInStream->read(serin);
            total += n;
            if (lateRest_) n = static_cast<int>(dropLateRest(std::span(serin).first(static_cast<std::size_t>(n)), lateRest_));
            numBytes.store(n);
        }
    } catch (const SerialIOException&) {
        // What was read so far stays in the buffer.
    }
    const auto now = clock_->now();
    if (total > 0) {
        lastByteAt_ = now;
        silent_.store(false);
    } else if (now - lastByteAt_ >= std::chrono::milliseconds(silenceMs)) {
        silent_.store(true);
    }
}

void SerOutPort::dropLateBytesLocked() {
    lateRest_ = false;
    if (!SerialInStream) return;
    try {
        // Read rather than flushed: whether the last byte is a CR tells
        // whether the rest of a reply is still on its way.
        Reply late{};
        int total = 0;
        while (total < rxBuf && serialPort->isOpen() && SerialInStream->available() > 0) {
            const int n = SerialInStream->read(late);
            if (n <= 0) break;
            total += n;
            lateRest_ = late[static_cast<std::size_t>(n - 1)] != '\r';
        }
        if (total > 0) lastByteAt_ = clock_->now();
    } catch (const SerialIOException&) {
        // A lost connection is reported by the write that follows.
    }
}

void SerOutPort::awaitReplyEndLocked(Clock::time_point writtenAt) {
    using std::chrono::milliseconds;
    int have = numBytes.load();
    if (!SerialInStream) return;
    while (have < buffersize) {
        const auto since = std::chrono::duration_cast<milliseconds>(clock_->now() - writtenAt).count();
        const int left = replyWaitLeftMs(true, std::span(serin).first(static_cast<std::size_t>(have)),
                                         static_cast<int>(since));
        if (left <= 0 || !clock_->sleep(worker_, milliseconds(std::min(left, 2)))) return;
        try {
            // The rest goes after what came first, up to the buffer's end.
            if (SerialInStream->available() <= 0) continue;
            const auto fresh = std::span(serin).subspan(static_cast<std::size_t>(have));
            const int n = SerialInStream->read(fresh);
            have += static_cast<int>(dropLateRest(fresh.first(static_cast<std::size_t>(n)), lateRest_));
        } catch (const SerialIOException&) {
            return;  // the line is gone: the next write reports it
        }
        numBytes.store(have);
        lastByteAt_ = clock_->now();
        silent_.store(false);
    }
}

void SerOutPort::ShowStat(const std::string& text) {
    if (LinkClient* c = client_.load()) c->ShowStat(text);
}

void SerOutPort::DelayT(int ms) { Utils::DelayT(ms); }

void SerOutPort::OutLine(const std::string& text) { Utils::OutLine(text); }

}  // namespace morvia
