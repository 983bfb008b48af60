// The player command port. Most cases run it over an in-memory line on a
// stepped clock, with the test playing the player; the cases about the real
// line (modem lines, hang-up, replug, long replies arriving in pieces) run
// over a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "player/LocalVCR.h"
#include "player/ReplyWait.h"
#include "player/SerOutPort.h"
#include "serial/PtyPeer.h"
#include "support/MemoryLine.h"
#include "support/RecordingLinkClient.h"
#include "support/SteppedClock.h"
#include "support/Eventually.h"
#include "support/TestSupport.h"

using namespace morvia;
using test::eventually;
using test::MemoryLine;
using test::PtyPeer;
using test::RecordingLinkClient;

namespace {

// Plays the player: reads each command and answers with reply(command).
// On a pseudo-terminal a thread of its own reads and answers; on an
// in-memory line each write is answered as it is made.
class Responder {
public:
    using Reply = std::function<std::string(const std::string&)>;
    Responder(PtyPeer& peer, Reply reply) : peer_(&peer), reply_(std::move(reply)), thread_([this] { run(); }) {}
    Responder(MemoryLine& line, Reply reply) : line_(&line), reply_(std::move(reply)) {
        line.answerWith([this](const std::string& c) {
            record(c);
            return reply_(c);
        });
    }
    ~Responder() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
        if (line_) line_->answerWith(nullptr);
    }
    std::vector<std::string> commands() const {
        std::lock_guard g(lock_);
        return commands_;
    }

private:
    void record(const std::string& c) {
        std::lock_guard g(lock_);
        commands_.push_back(c);
    }
    void run() {
        while (!stop_.load()) {
            std::string c = peer_->receiveCommand(20);
            if (c.empty()) continue;
            record(c);
            std::string r = reply_(c);
            if (!r.empty()) peer_->send(r);
        }
    }

    PtyPeer* peer_ = nullptr;
    MemoryLine* line_ = nullptr;
    std::function<std::string(const std::string&)> reply_;
    mutable std::mutex lock_;
    std::vector<std::string> commands_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string padded(const std::string& s) { return s + std::string(SerOutPort::buffersize - s.size(), '\0'); }

// A link over a fresh pseudo-terminal with a recording client; the reply wait
// is generous so that the test's answers always land inside it.
struct PtyRig {
    PtyPeer peer;
    test::ConsoleCapture console;
    RecordingLinkClient client;
    SerOutPort link{peer.slavePath()};
    PtyRig() {
        link.setclient(&client);
        link.setwait(150);
    }
};

// A link over an in-memory line on a stepped clock, with a recording client:
// its cycles and reply waits pass in clock time, not in real time. The test
// runs the cycles itself with step(); a started link thread pauses `realPause`
// for real per sleep.
struct Rig {
    explicit Rig(std::chrono::milliseconds realPause = std::chrono::milliseconds(0))
        : clock(std::make_shared<test::SteppedClock>(realPause)) {
        link.setclient(&client);
        link.setwait(150);
    }
    // Runs `cycles` cycles of the link, each after its pause, with no thread.
    void step(int cycles) {
        for (int i = 0; i < cycles; ++i) {
            clock->advance(pause);
            pause = link.cycle(clock->now());
        }
    }

    MemoryLine peer;
    test::ConsoleCapture console;
    RecordingLinkClient client;
    std::shared_ptr<test::SteppedClock> clock;
    SerOutPort link{peer.makePort(), peer.name(), clock};
    Clock::duration pause = SerOutPort::cyclePause;
};

}  // namespace

// Behind a serial server: the rest of a reply whose start was dropped as late
// is dropped through its CR, so it is never read as the next reply.
TEST(ReplyWait, TheRestOfALateReplyIsDroppedThroughItsCarriageReturn) {
    struct Row {
        std::string read;
        bool lateRest;
        std::string kept;
        bool restAfter;
    };
    const std::vector<Row> rows{
        {"0000010\r", false, "0000010\r", false},  // no late reply: untouched
        {"010\r", true, "", false},                 // the rest alone
        {"010\r0000012\r", true, "0000012\r", false},
        {"00", true, "", true},  // still the rest: its CR is yet to come
        {"", true, "", true},
    };
    for (const Row& r : rows) {
        std::vector<std::uint8_t> bytes(r.read.begin(), r.read.end());
        bool rest = r.lateRest;
        const std::size_t n = dropLateRest(bytes, rest);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)), r.kept) << r.read;
        EXPECT_EQ(rest, r.restAfter) << r.read;
    }
}

TEST(SerOutPort, OpensAPseudoTerminalAndReportsTheMissingModemLines) {
    PtyPeer peer;
    test::ConsoleCapture console;
    SerOutPort link(peer.slavePath());
    EXPECT_FALSE(link.bad);
    EXPECT_TRUE(link.hasSerialPort());
    EXPECT_EQ(link.getwait(), 20);
    link.setwait(30);
    EXPECT_EQ(link.getwait(), 30);
    // A pseudo-terminal has no DTR or RTS line; the port says so and goes on.
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Unable to set DTR=1", "Unable to set RTS=1"}));
    SerialConfig cfg = link.port()->getConfig();
    EXPECT_EQ(cfg.getBitRate(), SerialConfig::BR_4800);
    EXPECT_EQ(cfg.getDataBits(), SerialConfig::LN_8BITS);
    EXPECT_EQ(cfg.getStopBits(), SerialConfig::ST_1BITS);
    EXPECT_EQ(cfg.getParity(), SerialConfig::PY_NONE);
    EXPECT_EQ(cfg.getHandshake(), SerialConfig::HS_NONE);
    EXPECT_FALSE(cfg.getHardFlow());
    EXPECT_EQ(cfg.getTxLen(), 2048);
    EXPECT_EQ(cfg.getRxLen(), 4096);
}

TEST(SerOutPort, PortThatDoesNotExistIsBadAndRunsNoThread) {
    test::ConsoleCapture console;
    SerOutPort link("/dev/no-such-player-h1");
    EXPECT_TRUE(link.bad);
    EXPECT_FALSE(link.hasSerialPort());
    EXPECT_EQ(console.lines(), (std::vector<std::string>{" ", "Serial Port /dev/no-such-player-h1 not available"}));
    link.start();
    link.queue("PL\r");
    EXPECT_FALSE(link.running()) << "a bad port starts no thread";
    EXPECT_EQ(link.pending(), 1);

    SerOutPort com("COM99");
    EXPECT_TRUE(com.bad);
}

TEST(SerOutPort, CommandsQueuedWithinOneCycleGoOutNewestFirst) {
    Rig r;
    Responder player(r.peer, [](const std::string&) { return std::string("R\r"); });
    r.link.queue("PL\r");
    r.link.queue("ST\r");
    EXPECT_EQ(r.link.pending(), 2);
    r.step(2);
    ASSERT_TRUE(r.link.waitIdle(0));
    ASSERT_EQ(r.client.with([](auto& c) { return c.serIn.size(); }), 2u);
    EXPECT_EQ(player.commands(), (std::vector<std::string>{"ST\r", "PL\r"}));
    {
        auto c = r.client.snap();
        EXPECT_EQ(c.serIn[0], padded("R\r")) << "every exchange's reply reaches the client";
        EXPECT_EQ(c.serIn[1], padded("R\r"));
        EXPECT_TRUE(c.tc.empty());
        EXPECT_TRUE(c.indicate.empty()) << "commands are not polls";
    }
    EXPECT_EQ(r.link.SerCount(), 2);
    EXPECT_TRUE(r.link.getSEROK());
}

TEST(SerOutPort, StoreHoldsFortyNineAndRefusesLongCommands) {
    Rig r;
    for (int i = 0; i < 50; ++i) r.link.queue("C" + std::to_string(i) + "\r");
    EXPECT_EQ(r.link.pending(), 49) << "the 50th command is dropped";
    EXPECT_EQ(r.link.dequeue(48), "C48\r");
    EXPECT_EQ(r.link.dequeue(0), "C0\r");

    Rig s;
    auto before = s.console.lines().size();
    s.link.queue(std::string(20, 'X'));
    EXPECT_EQ(s.link.pending(), 0);
    ASSERT_EQ(s.console.lines().size(), before + 1);
    EXPECT_EQ(s.console.lines().back(), "Command of 20 bytes not queued: longer than 19");
    s.link.queue(std::string(18, 'Y') + "\r");
    EXPECT_EQ(s.link.pending(), 1);
    EXPECT_EQ(s.link.dequeue(0), std::string(18, 'Y') + "\r");
    s.link.setwait(0);
    s.step(1);
    EXPECT_EQ(s.peer.receive(19), std::string(18, 'Y') + "\r") << "a 19-byte command goes out whole";
}

TEST(SerOutPort, PollWaitsForAnEmptyStoreAndRepeatedRequestsMerge) {
    Rig r;
    Responder player(r.peer,
                     [](const std::string& c) { return c == "?F\r" ? std::string("0001234\r") : std::string(); });
    r.link.setwait(40);
    r.link.queue("PL\r");
    r.link.queue("ST\r");
    r.link.queue("NF\r");
    r.link.setd();
    r.link.setd();
    r.step(4);
    ASSERT_EQ(player.commands().size(), 4u);
    r.step(10);  // 300 ms more: one request is one poll
    EXPECT_EQ(player.commands(), (std::vector<std::string>{"NF\r", "ST\r", "PL\r", "?F\r"}));
    ASSERT_EQ(r.client.with([](auto& c) { return c.indicate.size(); }), 1u);
    {
        auto c = r.client.snap();
        ASSERT_EQ(c.tc.size(), 1u);
        EXPECT_EQ(c.tc[0].reply, padded("0001234\r"));
        EXPECT_EQ(c.tc[0].numBytes, 8) << "a whole frame reply is 8 bytes";
        EXPECT_EQ(c.indicate, (std::vector<bool>{true}));
    }
}

// The polling thread asks every 33 ms; the link serves at most one poll per
// cycle pause, reply wait and poll pause: about 14 timecodes a second.
TEST(SerOutPort, PolledEveryTickTheTimecodeUpdatesAboutFourteenTimesASecond) {
    Rig r;
    Responder player(r.peer, [](const std::string&) { return std::string("0001234\r"); });
    r.link.setwait(30);
    const auto t0 = r.clock->now();
    auto nextTick = t0;
    while (r.clock->now() - t0 < std::chrono::seconds(10)) {
        if (r.clock->now() >= nextTick) {
            r.link.setd();
            nextTick += std::chrono::milliseconds(33);
        }
        r.step(1);
    }
    const double seconds = std::chrono::duration<double>(r.clock->now() - t0).count();
    const double perSecond = static_cast<double>(r.client.snap().tc.size()) / seconds;
    EXPECT_GT(perSecond, 5.0) << "timecode updates per second (the cycle allows about 14)";
    EXPECT_LT(perSecond, 20.0);
    EXPECT_LE(perSecond, 1000.0 / 70 + 0.5);
}

TEST(SerOutPort, ErrorReplyClearsSerokAndIsNotDecoded) {
    Rig r;
    Responder player(r.peer, [](const std::string&) { return std::string("E04\r"); });
    r.link.setd();
    r.step(1);
    ASSERT_EQ(r.client.with([](auto& c) { return c.indicate.size(); }), 1u);
    EXPECT_FALSE(r.link.getSEROK());
    {
        auto c = r.client.snap();
        EXPECT_TRUE(c.tc.empty()) << "an error reply does not reach DoTC";
        EXPECT_EQ(c.indicate, (std::vector<bool>{false}));
        ASSERT_EQ(c.serIn.size(), 1u);
        EXPECT_EQ(c.serIn[0], padded("E04\r")) << "the error reply is still the last reply";
    }
}

TEST(SerOutPort, SilentPlayerGivesZeroBytesAndSerokTrue) {
    Rig r;
    r.link.setwait(30);
    r.link.setd();
    r.step(1);
    ASSERT_EQ(r.client.with([](auto& c) { return c.indicate.size(); }), 1u);
    EXPECT_EQ(r.peer.receive(3), "?F\r");
    EXPECT_TRUE(r.link.getSEROK());
    EXPECT_EQ(r.link.SerCount(), 0);
    {
        auto c = r.client.snap();
        ASSERT_EQ(c.tc.size(), 1u);
        EXPECT_EQ(c.tc[0].numBytes, 0);
        EXPECT_EQ(c.tc[0].reply, std::string(16, '\0'));
        EXPECT_EQ(c.indicate, (std::vector<bool>{true}));
    }

    // A late reply is read by the next exchange, after that exchange's command.
    r.peer.send("0000099\r");
    r.link.queue("PL\r");
    r.step(1);
    ASSERT_EQ(r.client.with([](auto& c) { return c.serIn.size(); }), 2u);
    EXPECT_EQ(r.client.with([](auto& c) { return c.serIn[1]; }), padded("0000099\r"));
}

TEST(SerOutPort, InformationRepliesSetTitleAndChapterInRange) {
    struct Case {
        std::string reply;
        std::vector<std::pair<int, int>> info;
        int title, chapter;
    };
    const std::vector<Case> cases = {
        {"0312\r", {{3, 12}}, 3, 12},   {"0012\r", {}, 0, 12}, {"0300\r", {{3, -1}}, 3, 0},
        {"9999\r", {{99, 99}}, 99, 99}, {"E04\r", {}, 210, 5},  // digits taken as signed bytes: 10*('E'-'0')+0, 10*4+('\r'-'0')
    };
    for (const auto& c : cases) {
        Rig r;
        Responder player(r.peer, [&](const std::string&) { return c.reply; });
        r.link.queue("?A\r");
        r.step(1);
        ASSERT_EQ(r.client.with([](auto& cl) { return cl.serIn.size(); }), 1u) << c.reply;
        EXPECT_EQ(r.client.with([](auto& cl) { return cl.info; }), c.info) << c.reply;
        EXPECT_EQ(r.link.gettinumber(), c.title) << c.reply;
        EXPECT_EQ(r.link.getchnumber(), c.chapter) << c.reply;
    }

    // Only the three-byte "?A" query is decoded.
    Rig r;
    Responder player(r.peer, [](const std::string&) { return std::string("0312\r"); });
    r.link.queue("?AX\r");
    r.step(1);
    ASSERT_EQ(r.client.with([](auto& cl) { return cl.serIn.size(); }), 1u);
    EXPECT_TRUE(r.client.with([](auto& cl) { return cl.info; }).empty());
}

TEST(SerOutPort, LongReplyLeavesItsLastPieceAndCountsTheLastRead) {
    PtyRig r;
    r.link.setwait(200);
    std::thread player([&] {
        if (r.peer.receiveCommand(5000) == "?P\r") r.peer.send("ABCDEFGHIJKLMNOPQRST");
    });
    r.link.queue("?P\r");
    r.link.start();
    ASSERT_TRUE(eventually([&] { return r.client.with([](auto& cl) { return cl.serIn.size(); }) == 1u; },
                           std::chrono::seconds(5)));
    player.join();
    EXPECT_EQ(r.client.with([](auto& cl) { return cl.serIn[0]; }), "QRSTEFGHIJKLMNOP");
    EXPECT_EQ(r.link.SerCount(), 4);
}

TEST(SerOutPort, ClientMayQueueFromItsCallbacks) {
    Rig r;
    std::atomic<int> fed{0};
    r.client.onSerIn = [&] {
        if (fed.fetch_add(1) < 3) r.link.queue("PL\r");
    };
    r.link.setwait(5);
    r.link.queue("ST\r");
    r.step(4);
    ASSERT_GE(fed.load(), 4) << "no deadlock between callback and store";
    EXPECT_EQ(r.peer.receive(12), "ST\rPL\rPL\rPL\r");
}

TEST(SerOutPort, WaitIdleIsBoundedAndSeesTheLastWrite) {
    Rig r;
    r.link.setwait(5);
    r.link.queue("PA\r");
    r.link.queue("PA\r");
    EXPECT_FALSE(r.link.waitIdle(50)) << "nothing sends while no cycle runs";
    r.step(2);
    EXPECT_TRUE(r.link.waitIdle(5000));
    EXPECT_EQ(r.link.pending(), 0);
    EXPECT_EQ(r.peer.receive(6), "PA\rPA\r");
    EXPECT_TRUE(r.link.waitIdle(0));
}

TEST(SerOutPort, DroppingEmptiesTheStoreAndCancelsThePendingPoll) {
    Rig r;
    for (const char* c : {"PL\r", "ST\r", "NF\r"}) r.link.queue(c);
    r.link.setd();
    EXPECT_EQ(r.link.dropWaiting(), 3);
    EXPECT_EQ(r.link.pending(), 0);
    EXPECT_TRUE(r.link.waitIdle(0));
    EXPECT_EQ(r.link.dropWaiting(), 0);
    r.link.setwait(5);
    r.link.queue("PA\r");
    r.step(5);
    ASSERT_TRUE(r.link.waitIdle(0));
    EXPECT_EQ(r.peer.receive(3), "PA\r");
    EXPECT_EQ(r.peer.receive(1, 0), "") << "neither a dropped command nor the dropped poll went out";
}

// The window close on the real link: what waited before the close request
// is dropped, what anyone queues after it is refused (both counted on the
// console), no poll is made, and the two stops alone reach the player.
TEST(SerOutPort, WindowCloseEndsWithTheTwoStopsAlone) {
    Rig r(std::chrono::milliseconds(1));  // windowClosing waits for the link thread
    Responder player(r.peer, [](const std::string&) { return std::string("R\r"); });
    test::FieldsDisplay display;
    LocalVCR vcr(&r.link, display, 2001);
    r.link.setwait(5);
    for (int i = 0; i < 7; ++i) vcr.stopvcr();  // a chapter change's tail
    vcr.CommandB0("NS\r");
    r.link.setd();
    vcr.closeRequested();
    EXPECT_EQ(r.link.pending(), 0);
    vcr.pause();  // the pass under way ends after the request
    r.link.setd();
    r.link.start();
    vcr.windowClosing();
    EXPECT_EQ(r.link.pending(), 0);
    EXPECT_TRUE(eventually([&] { return player.commands().size() >= 2u; }, std::chrono::seconds(5)));
    // Room for a stray command to show: ten more cycles of the link thread.
    const auto stopsOut = r.clock->now();
    ASSERT_TRUE(eventually([&] { return r.clock->now() - stopsOut >= 10 * SerOutPort::cyclePause; }));
    EXPECT_EQ(player.commands(), (std::vector<std::string>{"PA\r", "PA\r"}));
    vcr.play();
    EXPECT_EQ(r.link.pending(), 0) << "the gate stays closed";
    const auto lines = r.console.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Close: 9 commands for the player dropped"), lines.end());
}

TEST(SerOutPort, HungUpLineIsOneOutageWithItsReasonAndDropsCommands) {
    PtyRig r;
    r.link.setwait(5);
    r.link.start();
    r.peer.hangUp();
    r.link.queue("PL\r");
    r.link.setd();
    ASSERT_TRUE(eventually([&] { return r.link.lineDown(); }));
    ASSERT_TRUE(eventually([&] { return r.client.with([](auto& c) { return c.indicate.size(); }) >= 1u; }));
    // Polls go on while the line is down; none may print or decode.
    const auto indications = [&] { return r.client.with([](auto& c) { return c.indicate.size(); }); };
    for (int i = 0; i < 5; ++i) {
        const std::size_t before = indications();
        r.link.setd();
        ASSERT_TRUE(eventually([&] { return indications() > before; }));
    }
    r.link.queue("ST\r");
    EXPECT_EQ(r.link.pending(), 0) << "a command for a dead line is dropped, not kept";
    EXPECT_TRUE(r.link.silent());
    EXPECT_FALSE(r.link.getSEROK());
    auto c = r.client.snap();
    EXPECT_TRUE(c.serIn.empty()) << "a failed write hands no reply over";
    EXPECT_TRUE(c.tc.empty()) << "a failed poll is not decoded";
    EXPECT_TRUE(std::none_of(c.indicate.begin(), c.indicate.end(), [](bool ok) { return ok; }));
    EXPECT_EQ(r.console.lines(),
              (std::vector<std::string>{"Unable to set DTR=1", "Unable to set RTS=1", "Unable to write to Serial Port",
                                        "Serial Port " + r.peer.slavePath() + ": Input/output error"}));
}

// However long an outage lasts (a minute of cycles here, in no real time),
// with the controller polling and the operator clicking all along, it is two
// console lines; its end is one, with what was dropped meanwhile.
TEST(SerOutPort, AnOutageIsTwoLinesHoweverLongItLastsAndItsEndOne) {
    Rig r;
    Responder player(r.peer, [](const std::string&) { return std::string("R\r"); });
    r.link.setwait(5);
    r.link.queue("PL\r");
    r.step(1);
    const std::size_t before = r.console.lines().size();
    r.peer.hangUp();
    r.link.setd();
    r.step(1);
    ASSERT_TRUE(r.link.lineDown());
    for (int i = 0; i < 2000; ++i) {  // 2000 cycles of 30 ms
        r.link.setd();
        r.link.queue("PL\r");
        r.step(1);
    }
    EXPECT_EQ(r.link.pending(), 0) << "a command for a dead line is not kept";
    const auto during = r.console.lines();
    EXPECT_EQ(std::vector<std::string>(during.begin() + static_cast<std::ptrdiff_t>(before), during.end()),
              (std::vector<std::string>{"Unable to write to Serial Port",
                                        "Serial Port " + r.peer.name() + ": Input/output error"}));
    EXPECT_TRUE(r.link.silent());

    r.peer.replug();
    r.step(40);  // the reopen timer runs out within a second
    ASSERT_FALSE(r.link.lineDown());
    r.link.queue("ST\r");
    r.step(1);
    const auto lines = r.console.lines();
    ASSERT_EQ(lines.size(), before + 4);
    EXPECT_EQ(lines[before + 2], "Serial Port " + r.peer.name() + " Opened OK");
    EXPECT_EQ(lines[before + 3],
              "Serial Port " + r.peer.name() + " working again after 1 failed exchanges, 2000 commands dropped");
    EXPECT_EQ(player.commands().back(), "ST\r");
}

// The player's port named by a symbolic link, as /dev/serial/by-id names an
// adapter; replugging points the link at a fresh terminal.
struct LinkedPort {
    test::TempDir dir{"replug"};
    std::string path = dir.file("player");
    void pointAt(const std::string& target) {
        std::filesystem::remove(path);
        std::filesystem::create_symlink(target, path);
    }
};

TEST(SerOutPort, ReopensTheNamedLineAfterAReplugAndReportsTheOutageOnce) {
    LinkedPort named;
    auto first = std::make_unique<PtyPeer>();
    named.pointAt(first->slavePath());
    test::ConsoleCapture console;
    RecordingLinkClient client;
    SerOutPort link(named.path);
    link.setclient(&client);
    link.setwait(5);
    link.start();
    link.queue("PL\r");
    EXPECT_EQ(first->receive(3), "PL\r");

    first->hangUp();
    std::filesystem::remove(named.path);  // the adapter's link goes with it
    link.setd();
    ASSERT_TRUE(eventually([&] { return link.lineDown(); }));
    link.queue("PA\r");  // given while unplugged: must never reach the player
    PtyPeer second;
    named.pointAt(second.slavePath());
    ASSERT_TRUE(eventually([&] { return !link.lineDown(); }, std::chrono::seconds(5)));
    link.queue("ST\r");
    EXPECT_EQ(second.receive(3), "ST\r");
    EXPECT_EQ(second.drain(100), "") << "nothing queued during the outage came out";
    ASSERT_TRUE(eventually([&] { return console.lines().size() >= 6u; }));
    EXPECT_EQ(console.lines(),
              (std::vector<std::string>{
                  "Unable to set DTR=1", "Unable to set RTS=1", "Unable to write to Serial Port",
                  "Serial Port " + named.path + ": Input/output error", "Serial Port " + named.path + " Opened OK",
                  "Serial Port " + named.path + " working again after 1 failed exchanges, 1 commands dropped"}));
    first.reset();
}

// The controller polls every cycle of a player that stays silent, then
// answers again; stepped, so that the second is clock time, not real time.
TEST(SerOutPort, SilenceForASecondOfPollsIsReportedUntilBytesArriveAgain) {
    bool answer = false;
    std::vector<bool> changes;
    struct Watch : RecordingLinkClient {
        std::function<void(bool)> onSilence;
        void LinkSilence(bool s) override { onSilence(s); }
    };
    Watch watch;
    watch.onSilence = [&](bool s) { changes.push_back(s); };
    Rig r;
    r.link.setwait(5);
    r.link.setclient(&watch);
    Responder player(r.peer, [&](const std::string&) { return answer ? std::string("0000100\r") : std::string(); });
    // A poll asked for before every cycle, as the polling thread does every
    // 33 ms; runs cycles until `done` holds, at most `limit` of them.
    const auto pollUntil = [&](const std::function<bool()>& done, int limit) {
        for (int i = 0; i < limit && !done(); ++i) {
            r.link.setd();
            r.step(1);
        }
        return done();
    };
    const auto t0 = r.clock->now();
    pollUntil([&] { return r.clock->now() - t0 >= std::chrono::milliseconds(300); }, 100);
    EXPECT_FALSE(r.link.silent()) << "a few empty polls are not silence yet";
    {
        auto c = watch.snap();
        ASSERT_FALSE(c.tc.empty());
        EXPECT_EQ(c.tc.back().numBytes, 0) << "an empty poll is decoded as such";
        ASSERT_FALSE(c.indicate.empty());
        EXPECT_TRUE(c.indicate.back());
    }
    ASSERT_TRUE(pollUntil([&] { return r.link.silent(); }, 100));
    // Not before a second of polls.
    EXPECT_GE(r.clock->now() - t0, std::chrono::milliseconds(SerOutPort::silenceMs - 100));
    // The last indicator shown; a copy (a vector<bool> element is a proxy).
    auto lastIndicate = [&]() -> bool {
        const auto c = watch.snap();
        return !c.indicate.empty() && c.indicate.back();
    };
    ASSERT_TRUE(pollUntil([&] { return !lastIndicate(); }, 10));
    const std::size_t decoded = watch.snap().tc.size();
    const auto silentAt = r.clock->now();
    pollUntil([&] { return r.clock->now() - silentAt >= std::chrono::milliseconds(200); }, 100);
    EXPECT_EQ(watch.snap().tc.size(), decoded) << "a silent player's polls are not decoded";

    answer = true;
    ASSERT_TRUE(pollUntil([&] { return !r.link.silent(); }, 100));
    ASSERT_TRUE(pollUntil(lastIndicate, 10));
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
}

TEST(SerOutPort, ManyLinksStartAndStopPromptly) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        PtyPeer peer;
        test::ConsoleCapture console;
        SerOutPort link(peer.slavePath());
        link.start();
        link.setd();
        if (i % 2) std::this_thread::sleep_for(std::chrono::milliseconds(35));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}

TEST(SerOutPort, ShowStatReachesTheClientAndNullClientDropsReplies) {
    Rig r;
    r.link.ShowStat("Cued");
    EXPECT_EQ(r.client.with([](auto& c) { return c.stat; }), (std::vector<std::string>{"Cued"}));
    r.link.setclient(nullptr);
    r.link.ShowStat("dropped");
    r.link.setwait(5);
    r.link.queue("?A\r");
    r.link.setd();
    r.step(2);
    EXPECT_EQ(r.peer.receive(6), "?A\r?F\r");
    EXPECT_EQ(r.client.with([](auto& c) { return c.stat.size() + c.serIn.size() + c.tc.size(); }), 1u);
}
