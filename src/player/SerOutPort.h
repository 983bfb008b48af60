// The player command port: owns the RS-232 line to the DVD player, keeps the
// commands other threads hand it, and runs the thread that writes them one
// per 30 ms cycle and reads the replies. When no command waits and a timecode
// poll was requested, the thread asks the player for its frame position and
// hands the reply to the client's DoTC.
//
// Thread-safety: queue, setd, waitIdle and the accessors may be called from
// any thread. The command store is taken and filled under one lock; one
// exchange with the player (write, wait, read) happens under the line lock,
// so exchanges never interleave. Client callbacks run on the port thread
// with no lock of this object held, so the client may call queue from them.
// The thread is owned by the object: start() starts it, the destructor stops
// and joins it; a stop cuts the cycle pause and the reply wait short.
//
// Failures: a write that fails is a failed exchange (SEROK cleared, the reply
// not decoded). The first failure of an outage prints two console lines (the
// failure and the operating system's reason); later ones are counted, and the
// first exchange that works again prints one line with the count. A hung-up
// line (the adapter unplugged) is closed and reopened by name once a second
// with the same settings; while it is down, commands handed to queue are
// dropped and counted. When no byte has arrived for a second of exchanges the
// link reports itself silent until bytes arrive again.
//
// Session log: while one is open, each command keeps the source of the
// thread that queued it, and becomes an event "command" once it was written
// ("sent") or when it was refused or thrown away ("dropped", with the reason:
// 49 waiting, the line down, the close, a failed write); the event is queued
// for the log's thread, which does the writing. The line going down and
// coming back, and the player falling silent and answering again, are
// events "link_down" / "link_up" with the reason.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "player/PlayerLink.h"
#include "serial/SerInputStream.h"
#include "serial/SerOutputStream.h"
#include "serial/SerialConfig.h"
#include "serial/SerialPort.h"
#include "sessionlog/SessionLog.h"
#include "startup/Clock.h"
#include "startup/Worker.h"

namespace morvia {

class SerOutPort : public PlayerLink {
public:
    static constexpr int buffersize = 16;
    static constexpr int storeRows = 50;
    static constexpr int rowBytes = 20;
    static constexpr int maxCommand = rowBytes - 1;  // 19
    static constexpr int maxWaiting = 49;
    static constexpr std::uint8_t bsgetfr[3] = {0x3F, 0x46, 0x0D};  // "?F\r"
    // No byte for this long (while exchanges go on): the player is silent.
    static constexpr int silenceMs = 1000;
    // A hung-up line is reopened this often.
    static constexpr int reopenMs = 1000;
    // The pause between two cycles, and after a poll (its 10 ms pause joins
    // the next cycle's 30 ms: the cycle keeps its length with one wake-up less).
    static constexpr std::chrono::milliseconds cyclePause{30};
    static constexpr std::chrono::milliseconds pollPause{40};

    using Reply = std::array<std::uint8_t, buffersize>;

    // Opens the named port at the player's line settings, raises DTR and RTS
    // and makes the two streams. Never throws: failures are printed and a
    // port that does not open sets `bad`.
    explicit SerOutPort(const std::string& portName);
    // A link over a port that is already open (a test's in-memory line), on
    // `clock`. `portName` names the line in console lines and is the node
    // whose disappearance after a failed write counts as an unplug.
    SerOutPort(std::unique_ptr<SerialPort> port, const std::string& portName,
               std::shared_ptr<Clock> clock = Clock::steady());
    ~SerOutPort() override;  // stops and joins the port thread
    SerOutPort(const SerOutPort&) = delete;
    SerOutPort& operator=(const SerOutPort&) = delete;

    // --- PlayerLink ---
    // Stores the command (at most 19 bytes) for the port thread; a longer one
    // is refused with a console line. Dropped silently when 49 wait.
    void queue(const std::string& command) override;
    void setd() override {
        if (!gateClosed_.load()) d.store(1);
    }
    // Starts the port thread (once; not for a bad port).
    void start() override;
    // One cycle of the link: the newest waiting command, or else the
    // requested poll, is exchanged with the player (or, on a hung-up line,
    // the line is reopened once the reopen timer at `now` has run out).
    // Returns the pause before the next cycle. The port thread runs it after
    // every pause; a test calls it step by step on a stepped clock with no
    // thread started (one caller at a time).
    Clock::duration cycle(Clock::time_point now);
    bool hasSerialPort() const override { return serialPort != nullptr; }
    bool waitIdle(int ms) override;
    int dropWaiting() override;
    void closeGate() override;
    void queueFinal(const std::string& command) override;
    // True while the line is down or no byte arrived for silenceMs of exchanges.
    bool silent() const override { return silent_.load(); }
    // True while a hung-up line waits to be reopened.
    bool lineDown() const { return down_.load(); }

    // Receives replies, timecodes, title/chapter and status texts; may be null.
    void setclient(LinkClient* client) { client_.store(client); }
    void setwait(int ms) { wait.store(ms); }
    int getwait() const { return wait.load(); }

    // The command in row `row` of the store (caller holds the store lock).
    std::string dequeue(int row) const;
    // One exchange: clear, write, wait, read. Returns the reply buffer. A
    // command with a `source` is logged as sent (or dropped when the write failed).
    Reply SendSerial(const std::string& command, const sessionlog::Source* source = nullptr);
    // Writes the command through the port; false (console line) on failure.
    // Holds the line lock.
    bool SendSer(const std::string& command);
    // Drains what has arrived into the reply buffer. Holds the line lock.
    Reply ReadSer();
    int SerCount() const { return numBytes.load(); }
    void ShowStat(const std::string& text);

    static void DelayT(int ms);
    static void OutLine(const std::string& text);

    bool isbad() const { return bad; }
    bool getSEROK() const { return SEROK.load(); }
    int pending() const;  // b: commands waiting
    int gettinumber() const { return tinumber.load(); }
    int getchnumber() const { return chnumber.load(); }
    // True from start() until the port thread has ended.
    bool running() const { return worker_.running(); }
    SerialPort* port() const { return serialPort.get(); }

    // Set when the port could not be opened; fixed after construction.
    bool bad = false;

private:
    // The player's line settings for the named port.
    static SerialConfig playerConfig(const std::string& portName);
    // Raises DTR and RTS on the open port and makes the two streams.
    void attachLine();
    void run(std::stop_token stop);
    // Tells the client when the silence state changed (no lock held).
    void reportSilence();
    void notifyIdleWaiters();  // wakes waitIdle callers, if any (one syscall saved per exchange otherwise)
    // The poll's outcome for the client: decode when it succeeded, then the indicator.
    void finishPoll(const Reply& reply, bool ok);
    // The exchange and its two halves; the caller holds lineLock_.
    // `source` is the command's (session log); null for a poll.
    Reply exchangeLocked(const std::string& command, bool& written, const sessionlog::Source* source);
    // The commands of rows [0, count) as dropped, in the session log.
    void logDroppedLocked(int count, std::vector<std::pair<std::string, sessionlog::Source>>& out) const;
    static void logDropped(const std::vector<std::pair<std::string, sessionlog::Source>>& dropped, const char* why);
    // Writes through the port; a failure is counted and reported as part of
    // its outage, and a hang-up closes the line.
    bool writeLocked(const std::string& command);
    void writeFailedLocked(int err, const std::string& what);
    void writeWorkedLocked();
    void closeLineLocked();
    void reopenLocked(Clock::time_point now);
    void readLocked();
    // A network port: reads on after the fixed wait until the reply's CR or
    // the reply limit (ReplyWait.h), appending to what came first.
    void awaitReplyEndLocked(Clock::time_point writtenAt);
    // A network port: drops what arrived after the last exchange ended (a
    // reply later than the limit), so that it is not read as the reply to
    // the command about to be written. When what it drops ends inside a
    // reply, the rest of that reply is dropped as it comes (lateRest_).
    void dropLateBytesLocked();
    void decodeInfo(const Reply& reply);
    // queue(), past a closed gate when `final`.
    void store(const std::string& command, bool final);

    static constexpr int txBuf = 2048;
    static constexpr int rxBuf = 4096;
    std::atomic<int> d{0};
    std::atomic<int> wait{20};
    std::atomic<int> numBytes{0};
    std::atomic<bool> SEROK{false};
    std::atomic<int> tinumber{0};
    std::atomic<int> chnumber{0};
    std::atomic<LinkClient*> client_{nullptr};

    const std::string portName_;
    const std::shared_ptr<Clock> clock_;
    const bool netPort_;  // behind a serial device server: the reply wait goes on until the CR
    bool lateRest_ = false;  // under lineLock_: the next bytes read end a late reply (dropLateRest)
    // Declared before the streams, which refer to it. Never replaced once made:
    // a hung-up line is closed and reopened through the same object.
    std::unique_ptr<SerialPort> serialPort;
    std::unique_ptr<SerOutputStream> SerialOutStream;
    std::unique_ptr<SerInputStream> SerialInStream;

    // The command store: row layout byte 0 = length, bytes 1.. = command.
    mutable std::mutex storeLock_;
    std::condition_variable storeCv_;  // store emptied / command written (waitIdle)
    std::array<std::array<std::uint8_t, rowBytes>, storeRows> cmdset{};
    std::array<sessionlog::Source, storeRows> sources_{};  // each row's source, while a session log is open
    int b = 0;
    bool inFlight_ = false;  // a taken command not yet written
    long dropped_ = 0;       // commands refused while the line was down
    int refusedAtGate_ = 0;  // commands the closed gate refused, until dropWaiting counts them
    int idleWaiters_ = 0;    // callers inside waitIdle

    // Set and cleared under storeLock_ (so that queue sees it with the store).
    std::atomic<bool> down_{false};
    std::atomic<bool> gateClosed_{false};  // set once, under storeLock_ (closeGate)
    std::atomic<bool> silent_{false};

    std::mutex lineLock_;  // one exchange at a time; guards serin and the outage state below
    Reply serin{};
    bool failing_ = false;  // an outage is under way (its lines printed)
    long failedExchanges_ = 0;
    Clock::time_point lastByteAt_{};
    Clock::time_point nextReopen_{};

    bool reportedSilent_ = false;  // the cycle's caller only

    // Last member: the thread ends before anything it uses goes.
    Worker worker_{"player link"};
};

}  // namespace morvia
