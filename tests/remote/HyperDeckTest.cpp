#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "player/StatusText.h"
#include "remote/HyperDeckDeck.h"
#include "remote/HyperDeckProtocol.h"
#include "remote/HyperDeckServer.h"
#include "remote/HyperDeckSession.h"
#include "remote/ListenAddress.h"
#include "remote/RemoteFixture.h"
#include "support/TcpClient.h"

using namespace morvia;
using namespace morvia::hyperdeck;
using namespace std::chrono_literals;

namespace {

// Reads `lines` and returns the requests they complete.
std::vector<Request> readAll(const std::vector<std::string>& lines) {
    RequestReader reader;
    std::vector<Request> out;
    for (const auto& l : lines)
        if (auto r = reader.feed(l)) out.push_back(*r);
    return out;
}

TEST(HyperDeckProtocol, ReadsBothCommandFormsIntoTheSameRequests) {
    struct Case {
        std::vector<std::string> lines;
        std::string name;
        Params params;
        bool malformed = false;
    };
    const std::vector<Case> cases = {
        {{"transport info"}, "transport info", {}},
        {{"goto: timecode: 00:01:00:00"}, "goto", {{"timecode", "00:01:00:00"}}},
        {{"goto:", "timecode: 00:01:00:00", ""}, "goto", {{"timecode", "00:01:00:00"}}},
        {{"play: speed: 50 single clip: true loop: false"},
         "play",
         {{"speed", "50"}, {"single clip", "true"}, {"loop", "false"}}},
        {{"playrange set: timecode in: 00:00:01:00 timecode out: 00:00:02:00"},
         "playrange set",
         {{"timecode in", "00:00:01:00"}, {"timecode out", "00:00:02:00"}}},
        {{"notify:", "transport: true", "display timecode: true", ""},
         "notify",
         {{"transport", "true"}, {"display timecode", "true"}}},
        // An empty line before a command is nothing; a block line without
        // "name: value" spoils the block, which still ends at its empty line.
        {{"", "ping"}, "ping", {}},
        {{"goto:", "garbage", "timecode: 00:00:00:01", ""}, "goto", {{"timecode", "00:00:00:01"}}, true},
        {{"goto: timecode"}, "goto", {}, true},
    };
    for (const Case& c : cases) {
        const std::vector<Request> got = readAll(c.lines);
        ASSERT_EQ(got.size(), 1u) << c.lines.front();
        EXPECT_EQ(got[0].name, c.name) << c.lines.front();
        EXPECT_EQ(got[0].malformed, c.malformed) << c.lines.front();
        if (!c.malformed) {
            EXPECT_EQ(got[0].params, c.params) << c.lines.front();
        }
    }
    // An endless block costs at most its limit and is answered once.
    std::vector<std::string> flood{"goto:"};
    for (int i = 0; i < 1000; ++i) flood.push_back("x: y");
    flood.push_back("");
    const std::vector<Request> got = readAll(flood);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].malformed);
    EXPECT_EQ(got[0].params.size(), RequestReader::maxBlockLines);
}

TEST(HyperDeckProtocol, WritesBlocksAndReportsOnlyChangedFields) {
    EXPECT_EQ(simple(200, "ok"), "200 ok\r\n");
    EXPECT_EQ(greeting(), "500 connection info:\r\nprotocol version: 1.11\r\nmodel: Morvia DVD-V7400 controller\r\n\r\n");

    DeckState s{.answering = true, .status = status::kPlay, .speed = 100, .timecode = "00:00:05:00", .title = 3};
    const Params playing = transportFields(s);
    EXPECT_EQ(block(208, "transport info", playing),
              "208 transport info:\r\nstatus: play\r\nspeed: 100\r\nslot id: 1\r\nclip id: 3\r\nsingle clip: false\r\n"
              "display timecode: 00:00:05:00\r\ntimecode: 00:00:05:00\r\nvideo format: none\r\nloop: false\r\n"
              "player: answering\r\n\r\n");
    s.status = status::kPause;
    s.speed = 0;
    s.timecode = "00:00:06:00";
    EXPECT_EQ(changedFields(playing, transportFields(s), {"display timecode", "timecode"}),
              (Params{{"status", "stopped"}, {"speed", "0"}}));
    // Without the player nothing is claimed: what is unknown reads none.
    s.answering = false;
    const Params silent = transportFields(s);
    EXPECT_EQ(silent[0], (Param{"status", "none"}));
    EXPECT_EQ(silent[5], (Param{"display timecode", "none"}));
    EXPECT_EQ(slotFields(s)[1], (Param{"status", "error"}));

    EXPECT_EQ(jogFrames("+00:00:01:05"), 35);
    EXPECT_EQ(jogFrames("-00:00:00:10"), -10);
    EXPECT_EQ(jogFrames("00:00:00:02"), 2);
    EXPECT_EQ(jogFrames("+00:00:00:30"), std::nullopt);
    EXPECT_EQ(strictTimecode("00:61:00:00"), std::nullopt);
}

// Records what a session asks of the deck.
class FakeDeck : public Deck {
public:
    DeckState state() const override { return s; }
    bool reachable(int frames) const override { return frames < 9999999; }
    bool hasRange() const override { return range; }
    bool submit(Op op) override {
        ops.push_back(std::move(op));
        return true;
    }
    void stop() override { ops.push_back(Op{Op::Kind::pause, -1}); }

    DeckState s{.answering = true, .status = status::kPause, .speed = 0, .timecode = "00:00:01:00", .title = 1};
    bool range = false;
    std::vector<Op> ops;
};

TEST(HyperDeckSession, AnswersEveryCommandAtOnceAndHandsTheDeckItsOperation) {
    using K = Op::Kind;
    struct Case {
        std::string line;
        std::string answer;  // the start of the reply
        std::vector<Op> ops;
        bool range = false;
        bool answering = true;
    };
    const std::vector<Case> cases = {
        {"play", "200 ok\r\n", {Op{K::play}}},
        {"play: speed: 0", "200 ok", {Op{K::pause}}},
        {"play: speed: 25", "200 ok", {Op{K::slowQuarter}}},
        {"play: speed: 50", "200 ok", {Op{K::slowHalf}}},
        {"play: speed: 400", "200 ok", {Op{K::forward, 400}}},
        {"shuttle: speed: -200", "200 ok", {Op{K::rewind, -200}}},
        {"play: speed: 70", "102 invalid value", {}},
        {"play: single clip: true", "200 ok", {Op{K::review}}, true},
        {"play: loop: true", "200 ok", {Op{K::loop}}, true},
        {"play: loop: true", "200 ok", {Op{K::play}}, false},
        {"stop", "200 ok", {Op{K::pause, -1}}},
        {"goto: timecode: 00:01:00:00", "200 ok", {Op{K::gotoTimecode, 0, "00:01:00:00"}}},
        {"goto: timecode: 99:59:59:29", "109 out of range", {}},
        {"goto: timecode: 1:00", "102 invalid value", {}},
        {"goto: clip id: 7", "200 ok", {Op{K::gotoTitle, 7}}},
        {"goto: clip id: +1", "200 ok", {Op{K::gotoTitle, 2}}},
        {"goto: clip id: 100", "109 out of range", {}},
        {"jog: timecode: -00:00:00:12", "200 ok", {Op{K::jog, -12}}},
        {"jog: timecode: +00:00:10:01", "109 out of range", {}},
        {"playrange set: in: 00:00:01:00 out: 00:00:02:00", "200 ok", {Op{K::setRange, 0, "00:00:01:00", "00:00:02:00"}}},
        {"playrange set: in: 00:00:02:00 out: 00:00:01:00", "102 invalid value", {}},
        {"playrange clear", "200 ok", {Op{K::clearRange}}},
        // The truth rule: without the player, transport is refused.
        {"play", "105 no disk", {}, false, false},
        {"goto: timecode: 00:01:00:00", "105 no disk", {}, false, false},
        {"transport info", "208 transport info:\r\nstatus: none", {}, false, false},
        {"slot info", "202 slot info:\r\nslot id: 1\r\nstatus: error", {}, false, false},
        // Queries, housekeeping, refusals and nonsense.
        {"transport info", "208 transport info:\r\nstatus: stopped\r\nspeed: 0\r\nslot id: 1\r\nclip id: 1", {}},
        {"slot info: slot id: 2", "102 invalid value", {}},
        {"device info", "204 device info:\r\nprotocol version: 1.11", {}},
        {"clips count", "214 clips count:\r\nclip count: none\r\n\r\n", {}},
        {"clips get", "205 clips info:\r\nclip count: none\r\n\r\n", {}},
        {"notify", "209 notify:\r\ntransport: false", {}},
        {"remote", "210 remote info:\r\nenabled: true", {}},
        {"watchdog: period: 6", "200 ok", {}},
        {"watchdog: period: -1", "102 invalid value", {}},
        {"ping", "200 ok", {}},
        {"help", "201 help:\r\n", {}},
        {"commands", "212 commands:\r\n<commands>", {}},
        {"record", "103 unsupported", {}},
        {"format: prepare: exFAT", "103 unsupported", {}},
        {"clips add: name: x", "103 unsupported", {}},
        {"delete: clip id: 1", "103 unsupported", {}},
        {"fly to the moon", "100 syntax error", {}},
        {"play: speed: fast", "102 invalid value", {}},
        {"play: colour: red", "101 unsupported parameter", {}},
        {"\x01\x02\xff:: ::", "100 syntax error", {}},
    };
    const auto t = Session::Clock::time_point{} + 1h;
    for (const Case& c : cases) {
        FakeDeck deck;
        deck.range = c.range;
        deck.s.answering = c.answering;
        Session session(deck);
        const Session::Reply r = session.line(c.line, t);
        EXPECT_EQ(r.text.substr(0, c.answer.size()), c.answer) << c.line << " -> " << r.text;
        EXPECT_TRUE(r.text.ends_with("\r\n")) << c.line;
        EXPECT_FALSE(r.close) << c.line;
        EXPECT_EQ(deck.ops, c.ops) << c.line;
    }

    // A remote switched off refuses transport until it is on again; quit
    // answers, then closes.
    FakeDeck deck;
    Session session(deck);
    EXPECT_EQ(session.line("remote: enable: false", t).text, "200 ok\r\n");
    EXPECT_EQ(session.line("play", t).text, "111 remote control disabled\r\n");
    EXPECT_EQ(session.line("remote: enable: true", t).text, "200 ok\r\n");
    const Session::Reply quit = session.line("quit", t);
    EXPECT_EQ(quit.text, "200 ok\r\n");
    EXPECT_TRUE(quit.close);
}

TEST(HyperDeckSession, NotifiesChangesTimecodeAtMostTenTimesASecondAndKeepsTheWatchdog) {
    FakeDeck deck;
    Session session(deck);
    auto t = Session::Clock::time_point{} + 1h;
    EXPECT_TRUE(session.changes(deck.s, t).empty());  // nothing asked for
    ASSERT_EQ(session.line("notify:", t).text, "");
    ASSERT_EQ(session.line("transport: true", t).text, "");
    ASSERT_EQ(session.line("display timecode: true", t).text, "");
    ASSERT_EQ(session.line("", t).text, "200 ok\r\n");
    EXPECT_TRUE(session.changes(deck.s, t).empty());  // no change yet

    deck.s.status = status::kPlay;
    deck.s.speed = 100;
    deck.s.timecode = "00:00:01:01";
    EXPECT_EQ(session.changes(deck.s, t),
              (std::vector<std::string>{"508 transport info:\r\nstatus: play\r\nspeed: 100\r\n\r\n",
                                        "513 display timecode:\r\ndisplay timecode: 00:00:01:01\r\n\r\n"}));
    // The timecode moves on every frame; the messages wait their turn.
    deck.s.timecode = "00:00:01:02";
    EXPECT_TRUE(session.changes(deck.s, t + 50ms).empty());
    deck.s.timecode = "00:00:01:05";
    EXPECT_EQ(session.changes(deck.s, t + 100ms),
              (std::vector<std::string>{"513 display timecode:\r\ndisplay timecode: 00:00:01:05\r\n\r\n"}));
    // The player goes quiet: the transport says so.
    deck.s.answering = false;
    const std::vector<std::string> quiet = session.changes(deck.s, t + 1s);
    ASSERT_EQ(quiet.size(), 2u);
    EXPECT_NE(quiet[0].find("status: none\r\n"), std::string::npos);
    EXPECT_NE(quiet[0].find("player: not answering\r\n"), std::string::npos);

    EXPECT_FALSE(session.watchdogExpired(t + 1h));
    session.line("watchdog: period: 6", t);
    EXPECT_FALSE(session.watchdogExpired(t + 5s));
    EXPECT_TRUE(session.watchdogExpired(t + 6s));
    session.line("ping", t + 5s);
    EXPECT_FALSE(session.watchdogExpired(t + 10s));
}

class HyperDeckOnController : public test::RemoteFixture {};

TEST_F(HyperDeckOnController, OperationsReachThePlayerInOrderAndStopEndsALoop) {
    Quenta::setrepeatval(1000);
    vcr.MakeOffset();  // 00:00:00:00 unless the settings say otherwise
    HyperDeckDeck deck(vcr);
    deck.start();
    ASSERT_TRUE(deck.submit(Op{Op::Kind::gotoTimecode, 0, "00:00:02:00"}));
    ASSERT_TRUE(deck.submit(Op{Op::Kind::play}));
    ASSERT_TRUE(deck.submit(Op{Op::Kind::jog, -3}));
    ASSERT_TRUE(deck.submit(Op{Op::Kind::setRange, 0, "00:00:01:00", "00:00:03:00"}));
    ASSERT_TRUE(test::eventually([&] { return contains(queued(), "SR\r") && deck.hasRange(); }));
    // The search (offset applied), then the play after it, then the steps.
    const std::vector<std::string> q = queued();
    const auto at = [&](const std::string& s) { return std::find(q.begin(), q.end(), s) - q.begin(); };
    EXPECT_LT(at("FR0000060SE\r"), at("PL\r"));
    EXPECT_LT(at("PL\r"), at("SR\r"));
    EXPECT_EQ(std::count(q.begin(), q.end(), "SR\r"), 3);
    EXPECT_EQ(display.gettext(Field::cuefield), "00:00:01:00");
    EXPECT_EQ(display.gettext(Field::endfield), "00:00:03:00");

    // A loop of 1000 passes; a stop while its first segment plays (60
    // frames: 2100 ms) ends the segment and the loop.
    Utils::setClock(std::make_shared<test::TriggerSleeper>(rec, 2100, [&] { deck.stop(); }));
    rec->clear();
    ASSERT_TRUE(deck.submit(Op{Op::Kind::loop}));
    ASSERT_TRUE(test::eventually([&] { return contains(waits(), "2100") && !deck.state().loop; }));
    deck.shutdown();
    const std::vector<std::string> w = waits();
    const std::vector<std::string> after = queued();
    EXPECT_EQ(std::count(w.begin(), w.end(), "2100"), 1);
    EXPECT_EQ(std::count(after.begin(), after.end(), "PL\r"), 1);
    EXPECT_EQ(after.back(), "ST\r");
    deck.shutdown();
    EXPECT_FALSE(deck.submit(Op{Op::Kind::play}));
}


TEST_F(HyperDeckOnController, ServerAnswersEachClientAndNotifiesTheOnesThatAsked) {
    HyperDeckServer server(vcr, listenOn(ListenAddress{"127.0.0.1", 0}));
    server.start();
    const auto block = [](test::TcpClient& c) {
        std::string out;
        for (std::string line = c.readLine(); !line.empty() && line != "<timeout>"; line = c.readLine()) {
            out += line;
            if (line == "\r\n" || (out == line && line.find(":\r\n") == std::string::npos)) break;
        }
        return out;
    };
    test::TcpClient a(server.port()), b(server.port());
    EXPECT_EQ(block(a), greeting());
    EXPECT_EQ(block(b), greeting());
    a.sendLine("notify: transport: true display timecode: true");
    EXPECT_EQ(block(a), "200 ok\r\n");
    b.sendLine("play");
    EXPECT_EQ(block(b), "200 ok\r\n");
    // The play runs on the deck thread; its change and the new timecode
    // reach the client that asked for them.
    ASSERT_TRUE(test::eventually([&] { return contains(queued(), "PL\r"); }));
    const std::uint8_t frame[] = {'0', '0', '0', '0', '0', '4', '5', '\r'};
    vcr.DoTC(frame, sizeof frame, 8);
    std::string seen;
    ASSERT_TRUE(test::eventually([&] {
        seen += block(a);
        return seen.find("508 transport info:\r\nstatus: play\r\n") != std::string::npos &&
               seen.find("513 display timecode:\r\ndisplay timecode: 00:00:01:15\r\n") != std::string::npos;
    }));
    // b asked for nothing: its next answer is its own.
    b.sendLine("ping");
    EXPECT_EQ(block(b), "200 ok\r\n");
    server.stop();
    EXPECT_TRUE(a.closedByServer());
}

}  // namespace
