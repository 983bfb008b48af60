// The player link's events in the session log, over an in-memory line on a
// stepped clock: every command handed to it once it was sent or dropped (and
// why), with the source of the thread that queued it; the line going down
// and coming back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/SerOutPort.h"
#include "sessionlog/SessionLog.h"
#include "support/Files.h"
#include "support/MemoryLine.h"
#include "support/SteppedClock.h"
#include "support/TestSupport.h"

using namespace morvia;

namespace {

std::string member(const sessionlog::Members& m, const std::string& key) {
    for (const auto& [k, v] : m)
        if (k == key) return v;
    return {};
}

}  // namespace

TEST(SerOutPortLog, EveryCommandIsSentOrDroppedWithItsReasonAndSource) {
    test::TempDir dir("linklog");
    test::MemoryLine peer;
    test::ConsoleCapture console;
    auto clock = std::make_shared<test::SteppedClock>();
    SerOutPort link(peer.makePort(), peer.name(), clock);
    link.setwait(5);
    peer.answerWith([](const std::string&) { return std::string("R\r"); });
    Clock::duration pause = SerOutPort::cyclePause;
    auto step = [&](int cycles) {
        for (int i = 0; i < cycles; ++i) {
            clock->advance(pause);
            pause = link.cycle(clock->now());
        }
    };
    auto log = sessionlog::Writer::open(dir.path().string(), sessionlog::Event("start"), clock);
    ASSERT_TRUE(log);

    {
        const sessionlog::Scope s("key");
        link.queue("PL\r");
    }
    {
        const sessionlog::Scope s("network", "127.0.0.1:40001");
        link.queue("ST\r");
    }
    step(2);  // written on this thread, outside both scopes: newest first
    {
        const sessionlog::Scope s("script");
        for (int i = 0; i < 50; ++i) link.queue("C" + std::to_string(i) + "\r");  // the 50th is refused
    }
    link.dropWaiting();  // the close: the 49 waiting go
    link.queue("NS\r");
    link.queue("NF\r");
    peer.hangUp();
    step(1);            // NF fails to go out; NS waits on a line that is gone
    link.queue("PA\r");  // handed over while the line is down
    peer.replug();
    step(40);  // reopened within a second
    const std::string path = log->path();
    log->finish("stopped");

    struct Want {
        std::string event, wire, outcome, reason, source;
    };
    std::vector<Want> want = {{"start", "", "", "", ""},
                              {"command", "ST\r", "sent", "", "network"},
                              {"command", "PL\r", "sent", "", "key"},
                              {"command", "C49\r", "dropped", "49 commands waiting", "script"}};
    for (int i = 48; i >= 0; --i) want.push_back({"command", "C" + std::to_string(i) + "\r", "dropped", "close", "script"});
    // The write that found the line gone closed it first: the line's end and
    // what waited, then the command whose write failed.
    want.push_back({"link_down", "", "", "line " + peer.name() + " hung up", ""});
    want.push_back({"command", "NS\r", "dropped", "line down", ""});
    want.push_back({"command", "NF\r", "dropped", "write failed", ""});
    want.push_back({"command", "PA\r", "dropped", "line down", ""});
    want.push_back({"link_up", "", "", "line " + peer.name() + " reopened", ""});
    want.push_back({"end", "", "stopped", "", ""});

    const auto lines = test::fileLines(path);
    ASSERT_EQ(lines.size(), want.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto m = sessionlog::parseObject(lines[i]);
        ASSERT_TRUE(m) << lines[i];
        EXPECT_EQ(member(*m, "event"), want[i].event) << lines[i];
        EXPECT_EQ(member(*m, "wire"), want[i].wire) << lines[i];
        EXPECT_EQ(member(*m, "outcome"), want[i].outcome) << lines[i];
        EXPECT_EQ(member(*m, "reason"), want[i].reason) << lines[i];
        EXPECT_EQ(member(*m, "source"), want[i].source) << lines[i];
    }
    EXPECT_NE(lines[1].find(R"("command":"still","wire":"ST\r")"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(R"("peer":"127.0.0.1:40001")"), std::string::npos) << lines[1];
}
