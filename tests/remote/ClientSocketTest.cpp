#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "remote/ClientSocket.h"
#include "remote/RemoteFixture.h"
#include "support/TcpClient.h"

using namespace morvia;
using namespace morvia::test;

namespace {

class ControlServer : public RemoteFixture {
protected:
    void SetUp() override {
        RemoteFixture::SetUp();
        auto socket = OpenServerSocket(vcr, ListenAddress{ListenAddress::loopback, 0});
        ASSERT_TRUE(socket);
        port = socket->port();
        server = std::make_unique<morvia::ControlServer>(vcr, std::move(*socket));
        server->start();
    }
    void TearDown() override {
        if (server) server->stop();
        vcr.setconnectthread(nullptr);
        RemoteFixture::TearDown();
    }

    bool sawStatus(const std::string& s) {
        return eventually([&] { return contains(statuses(), s); });
    }
    long loopCloses() const {
        const auto lines = console.lines();
        return std::count(lines.begin(), lines.end(), std::string("Server Loop Close"));
    }
    // Every connection has ended, `closes` of them in all so far.
    bool ended(long closes) {
        return eventually([&] { return server->clients() == 0 && loopCloses() >= closes; });
    }
    // A client that got its greeting.
    std::unique_ptr<TcpClient> greeted() {
        auto c = std::make_unique<TcpClient>(port);
        EXPECT_TRUE(c->connected());
        EXPECT_EQ(c->readLine(), "OK\r\n");
        return c;
    }

    std::unique_ptr<morvia::ControlServer> server;
    int port = 0;
};

TEST_F(ControlServer, OpeningReportsThePortAndRefusesAPortInUse) {
    EXPECT_TRUE(contains(statuses(), "Server Socket Opened OK at Port " + std::to_string(port)));
    EXPECT_TRUE(sawStatus("Awaiting Client Connection"));
    std::string reason;
    EXPECT_FALSE(OpenServerSocket(vcr, ListenAddress{ListenAddress::loopback, port}, &reason));
    EXPECT_EQ(statuses().back(), "Can't Get ServerSocket at Port " + std::to_string(port));
    EXPECT_NE(reason.find("Address already in use"), std::string::npos) << reason;

    // Stopped, the port is free again.
    server->stop();
    EXPECT_TRUE(OpenServerSocket(vcr, ListenAddress{ListenAddress::loopback, port}));
}

TEST_F(ControlServer, GreetsExecutesAndAnswersOnlyTheClientThatAsked) {
    auto first = greeted();
    EXPECT_TRUE(sawStatus("Client Connection Accepted!"));
    first->send("Play\n");
    EXPECT_TRUE(eventually([&] { return contains(queued(), "PL\r"); }));
    EXPECT_TRUE(sawStatus("Client Command: Play"));

    // A client attached to the controller gets nothing of the network's
    // queries; two clients at once each get their own answers.
    auto attached = std::make_shared<RecordingClient>();
    vcr.setconnectthread(attached);
    auto second = greeted();
    second->send("GetTi\n");
    first->send("GetTC\nclose\r\nGetCh\n");
    EXPECT_EQ(second->readLine(), "1\r\n");
    EXPECT_EQ(first->readLine(), vcr.getTCString() + "\r\n") << "first answer after OK: nothing came for Play";
    EXPECT_EQ(first->readLine(), "1\r\n") << "lower-case close is just a command the language refuses";
    EXPECT_TRUE(sawStatus("Client Command: close"));
    EXPECT_TRUE(contains(console.lines(), "Time Code= " + vcr.getTCString()));
    EXPECT_TRUE(attached->lines().empty());
    EXPECT_EQ(server->clients(), 2);

    second->send("Status\nKILL\n");
    EXPECT_EQ(second->readLine(), vcr.getStatusString() + "\r\n");
    EXPECT_TRUE(second->closedByServer());
    EXPECT_TRUE(sawStatus("Client Closed Connection!"));
    EXPECT_TRUE(eventually([&] { return contains(rec->events(), "CONN:1"); })) << "the connect button is enabled again";
    first->send("KILL\n");
    EXPECT_TRUE(first->closedByServer()) << "nothing more came to the first client";
    EXPECT_TRUE(ended(2));

    // The listener serves the next client.
    auto next = greeted();
    next->send("Stop\n");
    EXPECT_TRUE(eventually([&] { return contains(queued(), "PA\r"); }));
}

TEST_F(ControlServer, EveryWayOfClosingEndsInOrder) {
    struct Case {
        std::string send;  // empty: the client drops the connection
        std::string status;
    };
    const std::vector<Case> cases = {
        {"\n", "Len=0 Close"},
        {"\r\n", "Len=0 Close"},
        {"Close\n", "Client Closed Connection!"},
        {"KILL\r", "Client Closed Connection!"},
        {std::string("KILL\0", 5), "Client Closed Connection!"},
        {"", "Null Close"},
        {std::string(5000, 'A'), "Line Too Long Close"},
    };
    long closes = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        rec->clear();
        auto client = greeted();
        if (c.send.empty()) client->close();
        else client->send(c.send);
        EXPECT_TRUE(ended(++closes));
        EXPECT_TRUE(contains(statuses(), c.status));
        EXPECT_EQ(contains(statuses(), "Client Command: null"), c.send.empty());
        EXPECT_TRUE(contains(rec->events(), "CONN:1"));
        EXPECT_TRUE(c.send.empty() || client->closedByServer());
    }
    EXPECT_EQ(console.lines(), std::vector<std::string>(cases.size(), "Server Loop Close"));
}

TEST_F(ControlServer, BadInputNeverEndsTheConnection) {
    auto client = greeted();

    // Short lines, bad numbers, a refused wait, a malformed timecode, raw
    // bytes, a long line just within the limit, a comment; every line ended
    // by LF CR, which must not read as an empty (closing) line.
    std::string junk;
    for (const char* line : {"ab", "P", "TC1", "Wait", "Wait 5", "TNumx", "RNum99999999999", "Wait-1", "TC1xx", ";"})
        junk += std::string(line) + "\n\r";
    junk += std::string("\x01\x02\xff\xfe\x00zz", 7) + "\n";
    junk += std::string(ClientSocket::maxLine, 'x') + "\r\n";
    client->send(junk);
    client->send("GetTi\n\rGetCh");
    client->send(std::string(1, '\0'));  // a NUL ends a line too
    EXPECT_EQ(client->readLine(), "1\r\n");
    EXPECT_EQ(client->readLine(), "1\r\n");
    EXPECT_EQ(server->clients(), 1);
    EXPECT_FALSE(contains(statuses(), "Len=0 Close"));
    EXPECT_TRUE(waits().empty()) << "nothing slept";
    EXPECT_EQ(Quenta::getrepeatval(), 2);

    // Random bytes for a while: whatever they form, the server neither
    // crashes nor hangs, and ends once the client goes.
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 50; ++round) {
        std::string noise(200, '\0');
        for (auto& ch : noise) ch = static_cast<char>(byte(gen));
        client->send(noise);
    }
    client->close();
    EXPECT_TRUE(ended(1));
}

TEST_F(ControlServer, AResetConnectionIsAReadError) {
    auto client = greeted();
    client->reset();
    EXPECT_TRUE(ended(1));
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Server ReadLine I/O Error", "Server Loop Close"}));
    EXPECT_FALSE(contains(statuses(), "Null Close"));
}

TEST_F(ControlServer, AFifthClientIsToldBusyAndAFreedPlaceIsServed) {
    std::vector<std::unique_ptr<TcpClient>> four;
    for (int i = 0; i < 4; ++i) four.push_back(greeted());
    EXPECT_TRUE(eventually([&] { return server->clients() == 4; }));

    TcpClient fifth(port);
    ASSERT_TRUE(fifth.connected());
    EXPECT_EQ(fifth.readLine(), "Server Busy\r\n");
    EXPECT_TRUE(fifth.closedByServer());
    for (auto& c : four) {  // the four are still served
        c->send("GetTi\n");
        EXPECT_EQ(c->readLine(), "1\r\n");
    }

    // A client that saw its end may come back at once: its place is free.
    four[2]->send("Close\n");
    EXPECT_TRUE(four[2]->closedByServer());
    auto sixth = greeted();
    sixth->send("GetCh\n");
    EXPECT_EQ(sixth->readLine(), "1\r\n");
}

TEST_F(ControlServer, StopEndsEveryConnectionInOrder) {
    auto a = greeted();
    auto b = greeted();
    server->stop();
    EXPECT_EQ(server->clients(), 0);
    EXPECT_TRUE(a->closedByServer());
    EXPECT_TRUE(b->closedByServer());
    EXPECT_EQ(loopCloses(), 2);
    EXPECT_FALSE(TcpClient(port).connected()) << "the port is closed";
    server->stop();  // again: nothing more
}

}  // namespace
