#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "remote/LineConnection.h"
#include "remote/ListenAddress.h"
#include "remote/Listener.h"
#include "support/Eventually.h"
#include "support/TcpClient.h"

using namespace morvia;
using namespace morvia::test;

namespace {

TEST(ListenAddress, SettingValues) {
    struct Case {
        std::string value;
        std::optional<ListenAddress> expected;
        std::string reasonPart;  // for a refused value
    };
    const std::vector<Case> cases = {
        {"2001", ListenAddress{"127.0.0.1", 2001}, ""},
        {"0", ListenAddress{"127.0.0.1", 0}, ""},
        {"0.0.0.0:2001", ListenAddress{"0.0.0.0", 2001}, ""},
        {"192.168.1.20:9993", ListenAddress{"192.168.1.20", 9993}, ""},
        {"localhost:65535", ListenAddress{"127.0.0.1", 65535}, ""},
        {"[::1]:2001", ListenAddress{"::1", 2001}, ""},
        {"[::]:02001", ListenAddress{"::", 2001}, ""},
        {"", std::nullopt, "no port"},
        {"127.0.0.1:", std::nullopt, "no port"},
        {"65536", std::nullopt, "65536"},
        {"-1", std::nullopt, "-1"},
        {"+80", std::nullopt, "+80"},
        {"20 01", std::nullopt, "20 01"},
        {"host.example:2001", std::nullopt, "host.example"},
        {"1.2.3:2001", std::nullopt, "1.2.3"},
        {"::1:2001", std::nullopt, "brackets"},
        {"[::1]2001", std::nullopt, "no port"},
        {"[::1:2001", std::nullopt, "]"},
        {"[1.2.3.4]:2001", std::nullopt, "IPv6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const auto parsed = parseListenAddress(c.value);
        EXPECT_EQ(parsed.address, c.expected);
        if (!c.expected) {
            EXPECT_NE(parsed.reason.find(c.reasonPart), std::string::npos) << parsed.reason;
        }
    }
    EXPECT_EQ(describe({"127.0.0.1", 2001}), "127.0.0.1:2001");
    EXPECT_EQ(describe({"::1", 9993}), "[::1]:9993");
}

TEST(ListenAddress, OpensThereOrSaysWhyNot) {
    ServerSocket s = listenOn({"127.0.0.1", 0});
    EXPECT_GT(s.port(), 0);
    try {
        listenOn({"127.0.0.1", s.port()});
        FAIL() << "a port in use opened twice";
    } catch (const SocketError& e) {
        EXPECT_EQ(std::string(e.what()), "bind 127.0.0.1:" + std::to_string(s.port()) + ": Address already in use");
    }
    // IPv6 loopback where the machine has it; its absence is reported, not hidden.
    try {
        ServerSocket v6 = listenOn({"::1", 0});
        EXPECT_GT(v6.port(), 0);
    } catch (const SocketError& e) {
        EXPECT_NE(std::string(e.what()).find("[::1]:0"), std::string::npos) << e.what();
    }
}

// A protocol for the listener's own tests: greets, echoes each line, ends
// on "bye".
class Echo : public Listener::Connection {
public:
    explicit Echo(std::shared_ptr<LineConnection> c) : conn_(std::move(c)) {}
    void serve(std::stop_token stop) override {
        conn_->sendLine("hello");
        std::string line;
        while (conn_->readLine(line, stop) == LineConnection::Read::line && line != "bye") conn_->sendLine(line);
    }

private:
    std::shared_ptr<LineConnection> conn_;
};

Listener::Protocol echoProtocol() {
    return {"echo", "echo", "busy", [](std::shared_ptr<LineConnection> c) { return std::make_unique<Echo>(std::move(c)); }};
}

TEST(Listener, AStormOfConnectsLeavesTheServedClientsServed) {
    Listener listener(listenOn({"127.0.0.1", 0}), echoProtocol());
    listener.start();
    std::vector<std::unique_ptr<TcpClient>> served;
    for (int i = 0; i < Listener::maxClients; ++i) {
        served.push_back(std::make_unique<TcpClient>(listener.port()));
        EXPECT_EQ(served.back()->readLine(), "hello\r\n");
    }
    // 200 connects: each is told busy and closed, none waits unanswered.
    // Clients are taken in the order they came, so once the last one has
    // its answer, none of the storm is left in the backlog to take the
    // place freed below.
    for (int i = 0; i < 200; ++i) {
        TcpClient extra(listener.port());
        ASSERT_TRUE(extra.connected());
        if (i % 50 == 0 || i == 199) {
            EXPECT_EQ(extra.readLine(), "busy\r\n");
            EXPECT_TRUE(extra.closedByServer());
        }
    }
    for (auto& c : served) {
        c->send("ping\r\n");
        EXPECT_EQ(c->readLine(), "ping\r\n");
    }
    // A connection that ends frees its place.
    served[0]->send("bye\n");
    EXPECT_TRUE(served[0]->closedByServer());
    EXPECT_TRUE(eventually([&] { return listener.clients() == Listener::maxClients - 1; }));
    TcpClient next(listener.port());
    EXPECT_EQ(next.readLine(), "hello\r\n");

    listener.stop();
    EXPECT_EQ(listener.clients(), 0);
    for (std::size_t i = 1; i < served.size(); ++i) EXPECT_TRUE(served[i]->closedByServer());
    EXPECT_TRUE(next.closedByServer());
}

// A connected pair: the client end and the accepted server end.
struct Pair {
    ServerSocket listening = listenOn({"127.0.0.1", 0});
    TcpClient client;
    std::shared_ptr<LineConnection> server;
    explicit Pair(int receiveBuffer = 0) : client(listening.port(), receiveBuffer) {
        int fd = -1;
        eventually([&] { return (fd = ::accept4(listening.fd(), nullptr, nullptr, SOCK_CLOEXEC)) >= 0; });
        server = std::make_shared<LineConnection>(UniqueFd(fd));
    }
};

TEST(LineConnection, AClientThatNeverReadsIsStuckWithoutHoldingASender) {
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
    const double limit = LineConnection::sendTimeoutMs / 1000.0 / 2;
    std::stop_source stop;
    std::string line;

    // More than the socket buffers hold, less than what may pile up: sends
    // return at once, the reader gives up after the time-out.
    Pair p(4096);
    auto t = Clock::now();
    p.server->send(std::string(LineConnection::maxPendingOut / 2, 'x'));
    p.server->sendLine("another answer meanwhile");
    EXPECT_LT(seconds(t), limit) << "a send waited for the client";
    EXPECT_EQ(p.server->readLine(line, stop.get_token()), LineConnection::Read::stuck);

    // Too much at once: stuck without waiting out the time-out.
    Pair q(4096);
    q.server->send(std::string(LineConnection::maxPendingOut + 1, 'y'));
    t = Clock::now();
    EXPECT_EQ(q.server->readLine(line, stop.get_token()), LineConnection::Read::stuck);
    EXPECT_LT(seconds(t), limit);
}

TEST(LineConnection, StopIdleAndCloseEndAWaitingReader) {
    std::string line;
    Pair p;
    // An idle deadline that has passed, then a stop raised before the read.
    EXPECT_EQ(p.server->readLine(line, {}, std::chrono::steady_clock::now()), LineConnection::Read::idle);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(p.server->readLine(line, stop.get_token()), LineConnection::Read::stopped);
    // Lines that arrived are handed out; a close ends the stream for the
    // reader and the client, and later sends are dropped.
    p.client.send(std::string("a\n\rb\0c\r\n", 8));
    std::stop_source none;
    for (const char* expected : {"a", "b", "c"}) {
        EXPECT_EQ(p.server->readLine(line, none.get_token()), LineConnection::Read::line);
        EXPECT_EQ(line, expected);
    }
    p.server->close();
    p.server->sendLine("dropped");
    EXPECT_TRUE(p.server->closed());
    EXPECT_EQ(p.server->readLine(line, none.get_token()), LineConnection::Read::end);
    EXPECT_TRUE(p.client.closedByServer());
}

}  // namespace
