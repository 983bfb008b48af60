#include <gtest/gtest.h>

#include <unistd.h>

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
        ASSERT_TRUE(OpenServerSocket(vcr, 0, ss));
        ASSERT_TRUE(ss);
        port = ss->port();
    }
    void TearDown() override {
        vcr.setconnectthread(nullptr);
        RemoteFixture::TearDown();
    }

    std::shared_ptr<ClientSocket> serve() {
        auto c = std::make_shared<ClientSocket>(ss, vcr);
        c->start();
        return c;
    }
    bool sawStatus(const std::string& s) {
        return eventually([&] { return contains(statuses(), s); });
    }
    bool ended(ClientSocket& c) {
        return eventually([&] { return c.finished() && contains(console.lines(), "Server Loop Close"); });
    }

    std::shared_ptr<ServerSocket> ss;
    int port = 0;
};

TEST_F(ControlServer, OpeningReportsThePortAndRefusesAPortInUse) {
    EXPECT_TRUE(contains(statuses(), "Server Socket Opened OK at Port " + std::to_string(port)));
    auto before = ss;
    EXPECT_FALSE(OpenServerSocket(vcr, port, ss));
    EXPECT_EQ(statuses().back(), "Can't Get ServerSocket at Port " + std::to_string(port));
    EXPECT_EQ(ss, before) << "a failed open keeps the socket it had";
    EXPECT_THROW(ServerSocket::open(port), SocketError);
}

TEST_F(ControlServer, GreetsExecutesAndAnswersOnlyWhenAttached) {
    auto conn = serve();
    EXPECT_TRUE(sawStatus("Awaiting Client Connection"));
    TcpClient client(port);
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(client.readLine(), "OK\r\n");
    EXPECT_TRUE(sawStatus("Client Connection Accepted!"));

    client.send("Play\n");
    EXPECT_TRUE(eventually([&] { return contains(queued(), "PL\r"); }));
    EXPECT_TRUE(sawStatus("Client Command: Play"));

    // Not attached: the query prints but sends nothing.
    client.send("GetTC\r\nPause\r");
    EXPECT_TRUE(eventually([&] { return contains(queued(), "ST\r"); }));
    EXPECT_TRUE(contains(console.lines(), "Time Code= " + vcr.getTCString()));

    vcr.setconnectthread(conn);
    client.send("GetTC\nclose\r\nGetTi\n");
    EXPECT_EQ(client.readLine(), vcr.getTCString() + "\r\n") << "first answer after OK: nothing came for Play";
    EXPECT_EQ(client.readLine(), "1\r\n") << "lower-case close is just a command the language refuses";
    EXPECT_TRUE(sawStatus("Client Command: close"));
    EXPECT_FALSE(conn->finished());

    vcr.setconnectthread(nullptr);
    client.send("GetCh\nKILL\n");
    EXPECT_TRUE(sawStatus("Client Closed Connection!"));
    EXPECT_TRUE(ended(*conn));
    EXPECT_TRUE(client.closedByServer()) << "detached: GetCh answered nothing";
    EXPECT_TRUE(contains(rec->events(), "CONN:1")) << "the connect button is enabled again";

    // The listening socket serves the next client through a new connection.
    auto next = serve();
    TcpClient second(port);
    ASSERT_TRUE(second.connected());
    EXPECT_EQ(second.readLine(), "OK\r\n");
    second.send("Stop\n");
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
        {"", "Null Close"},
        {std::string(5000, 'A'), "Line Too Long Close"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        rec->clear();
        ConsoleCapture run;
        auto conn = serve();
        TcpClient client(port);
        ASSERT_TRUE(client.connected());
        EXPECT_EQ(client.readLine(), "OK\r\n");
        if (c.send.empty()) client.close();
        else client.send(c.send);
        EXPECT_TRUE(eventually([&] { return conn->finished(); }));
        EXPECT_TRUE(contains(statuses(), c.status));
        if (c.send.empty()) {
            EXPECT_TRUE(contains(statuses(), "Client Command: null"));
        }
        EXPECT_EQ(run.lines(), std::vector<std::string>{"Server Loop Close"});
        EXPECT_TRUE(contains(rec->events(), "CONN:1"));
        if (!c.send.empty()) {
            EXPECT_TRUE(client.closedByServer());
        }
    }
}

TEST_F(ControlServer, BadInputNeverEndsTheConnection) {
    auto conn = serve();
    vcr.setconnectthread(conn);
    TcpClient client(port);
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(client.readLine(), "OK\r\n");

    // Short lines, bad numbers, a refused wait, a malformed timecode, raw
    // bytes, a long line just within the limit, a comment.
    std::string junk = "ab\nP\r\nTC1\nWait\nWait 5\nTNumx\nRNum99999999999\nWait-1\nTC1xx\n";
    junk += std::string("\x01\x02\xff\xfe\x00zz", 7) + "\n";
    junk += std::string(ClientSocket::maxLine, 'x') + "\r\n";
    junk += ";\n";
    client.send(junk);
    client.send("GetTi\n");
    EXPECT_EQ(client.readLine(), "1\r\n");
    EXPECT_FALSE(conn->finished());
    EXPECT_TRUE(waits().empty()) << "nothing slept";
    EXPECT_EQ(Quenta::getrepeatval(), 2);

    // Random bytes for a while: whatever they form, the server neither
    // crashes nor hangs, and ends once the client goes.
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 50; ++round) {
        std::string noise(200, '\0');
        for (auto& ch : noise) ch = static_cast<char>(byte(gen));
        client.send(noise);
    }
    client.close();
    EXPECT_TRUE(ended(*conn));
}

TEST_F(ControlServer, AResetConnectionIsAReadError) {
    auto conn = serve();
    TcpClient client(port);
    EXPECT_EQ(client.readLine(), "OK\r\n");
    client.reset();
    EXPECT_TRUE(eventually([&] { return conn->finished(); }));
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Server ReadLine I/O Error", "Server Loop Close"}));
    EXPECT_FALSE(contains(statuses(), "Null Close"));
}

TEST_F(ControlServer, FailedAcceptEndsInOrder) {
    auto broken = std::make_shared<ServerSocket>(ServerSocket::open(0, "127.0.0.1"));
    ClientSocket conn(broken, vcr);
    conn.start();
    EXPECT_TRUE(sawStatus("Awaiting Client Connection"));
    ::shutdown(broken->fd(), SHUT_RDWR);  // accept now fails
    EXPECT_TRUE(ended(conn));
    EXPECT_TRUE(contains(statuses(), "I/O Open Unsuccessful"));
    EXPECT_FALSE(contains(statuses(), "Client Connection Accepted!"));
    EXPECT_TRUE(contains(rec->events(), "CONN:1"));
}

TEST_F(ControlServer, StopEndsAWaitingConnection) {
    auto conn = serve();
    EXPECT_TRUE(sawStatus("Awaiting Client Connection"));
    conn->stop();
    EXPECT_TRUE(conn->finished());
    EXPECT_TRUE(contains(console.lines(), "Server Loop Close"));
    EXPECT_FALSE(contains(statuses(), "I/O Open Unsuccessful")) << "a stop is not a failure";

    // A connected one stops too, and its client sees the end.
    auto busy = serve();
    TcpClient client(port);
    EXPECT_EQ(client.readLine(), "OK\r\n");
    busy->stop();
    EXPECT_TRUE(busy->finished());
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(ControlServer, AClientThatNeverReadsIsClosedWithoutHoldingAnyoneElse) {
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };

    // More than the socket buffers hold, less than what may pile up.
    auto conn = serve();
    vcr.setconnectthread(conn);
    TcpClient client(port, 4096);
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(client.readLine(), "OK\r\n");
    auto t = Clock::now();
    conn->Send(std::string(ClientSocket::maxPendingOut / 2, 'x'));
    const double first = seconds(t);
    // Another thread's answer meanwhile: queued behind, not waiting for room.
    t = Clock::now();
    vcr.reporttc();
    const double second = seconds(t);
    const double limit = ClientSocket::sendTimeoutMs / 1000.0 / 2;
    EXPECT_LT(first, limit) << "a send waited for the client";
    EXPECT_LT(second, limit) << "an answer waited for a stuck client";
    EXPECT_TRUE(sawStatus("Send Time-out Close"));
    EXPECT_TRUE(ended(*conn));

    // Too much at once: closed without waiting out the time-out.
    auto conn2 = serve();
    vcr.setconnectthread(conn2);
    TcpClient client2(port, 4096);
    EXPECT_EQ(client2.readLine(), "OK\r\n");
    rec->clear();
    conn2->Send(std::string(ClientSocket::maxPendingOut + 1, 'y'));
    EXPECT_TRUE(eventually([&] { return conn2->finished(); }));
    EXPECT_TRUE(contains(statuses(), "Send Time-out Close"));
}

}  // namespace
