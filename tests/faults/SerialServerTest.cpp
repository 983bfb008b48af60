// The controller and its link against the simulator behind ser2net, as a
// player behind a serial device server: RFC 2217 and raw TCP, the server
// going away and coming back, and a slow network that splits replies.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <random>
#include <regex>
#include <set>

#include "faults/LiveRig.h"
#include "startup/Posix.h"
#include "startup/Worker.h"
#include "support/SerialServer.h"

using namespace morvia;
using namespace morvia::faults;

namespace {

// The settings of the terminal as `stty -a` prints them.
std::string sttyOf(const std::string& device) {
    std::string out;
    if (FILE* p = ::popen(("stty -a -F " + device + " 2>&1").c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        ::pclose(p);
    }
    return out;
}

// A TCP relay on a loopback port in front of `upstreamPort`: what the client
// sends goes on at once; what the server sends comes back after 20 to 150 ms,
// one byte per segment, 2 ms apart, in order.
class SlowRelay {
public:
    explicit SlowRelay(int upstreamPort) : upstream_(upstreamPort) {
        listen_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (::bind(listen_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_.get(), 4) != 0 ||
            ::getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("relay cannot listen");
        port_ = ntohs(a.sin_port);
        worker_.start([this](std::stop_token stop) { run(stop); });
    }
    ~SlowRelay() { worker_.stop(); }
    int port() const { return port_; }

private:
    using Clock = std::chrono::steady_clock;
    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        return a;
    }
    void run(std::stop_token stop) {
        std::mt19937 random(22);
        UniqueFd client, server;
        std::deque<std::pair<Clock::time_point, char>> toClient;
        while (!stop.stop_requested()) {
            if (!client) {
                pollfd p{listen_.get(), POLLIN, 0};
                if (::poll(&p, 1, 5) <= 0) continue;
                client = UniqueFd(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
                server = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
                const sockaddr_in up = loopback(upstream_);
                if (::connect(server.get(), reinterpret_cast<const sockaddr*>(&up), sizeof up) != 0) client.reset();
                const int one = 1;
                ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                continue;
            }
            pollfd p[2] = {{client.get(), POLLIN, 0}, {server.get(), POLLIN, 0}};
            ::poll(p, 2, 1);
            char buf[512];
            if (p[0].revents) {
                const ssize_t n = ::recv(client.get(), buf, sizeof buf, 0);
                if (n <= 0) break;
                ::send(server.get(), buf, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            }
            if (p[1].revents) {
                const ssize_t n = ::recv(server.get(), buf, sizeof buf, 0);
                if (n <= 0) break;
                auto at = RealTime::now() + std::chrono::milliseconds(std::uniform_int_distribution(20, 150)(random));
                if (!toClient.empty()) at = std::max(at, toClient.back().first + std::chrono::milliseconds(2));
                for (ssize_t i = 0; i < n; ++i, at += std::chrono::milliseconds(2)) toClient.emplace_back(at, buf[i]);
            }
            while (!toClient.empty() && toClient.front().first <= RealTime::now()) {
                ::send(client.get(), &toClient.front().second, 1, MSG_NOSIGNAL);
                toClient.pop_front();
            }
        }
    }

    int upstream_;
    int port_ = 0;
    UniqueFd listen_;
    Worker worker_{"slow relay"};
};

class SerialServerLink : public ::testing::Test {
protected:
    // The rig through ser2net (and the relay, if asked) to the simulator.
    void bringUp(bool rfc2217, bool slowRelay = false) {
        ASSERT_FALSE(test::ser2netProgram().empty()) << "ser2net is not installed: run scripts/setup.sh";
        rig = std::make_unique<LiveRig>(fastPlayer(), "serial-server", [&](const std::string& slave) {
            device = slave;
            server = std::make_unique<test::SerialServer>(rfc2217, slave, 9600);
            server->start();
            url = server->url();
            if (!slowRelay) return url;
            relay = std::make_unique<SlowRelay>(server->port());
            return (rfc2217 ? "rfc2217://127.0.0.1:" : "socket://127.0.0.1:") + std::to_string(relay->port());
        });
        ASSERT_FALSE(rig->sop->isbad()) << rig->console.tail();
        ASSERT_TRUE(rig->bringUp()) << rig->console.tail();
    }
    void TearDown() override {
        if (rig) rig->shutDown();
        rig.reset();
        relay.reset();
        server.reset();
    }
    long simCount(const std::string& command) const {
        const auto all = rig->simCommands();
        const auto it = all.find(command);
        return it == all.end() ? 0 : it->second;
    }
    // "Play >" reaches the player: paused first, then a click puts it in play.
    void playReachesThePlayer() {
        rig->vcr->pause();
        ASSERT_TRUE(eventually([&] { return rig->sim.mode() == dvdsim::Mode::Still; }, std::chrono::seconds(5)));
        const long plays = simCount("PL\r");
        ASSERT_GE(rig->probeAfter([this] { rig->vcr->play(); }, 5000), 0);
        EXPECT_TRUE(eventually([&] { return rig->sim.mode() == dvdsim::Mode::Play; }, std::chrono::seconds(5)));
        // The simulator's log hook counts a command after the player took it:
        // wait for the count, then check that exactly one PL arrived.
        eventually([&] { return simCount("PL\r") >= plays + 1; }, std::chrono::seconds(2));
        EXPECT_EQ(simCount("PL\r"), plays + 1);
        EXPECT_TRUE(rig->timecodeMoves(3000));
    }

    std::string device, url;
    std::unique_ptr<test::SerialServer> server;
    std::unique_ptr<SlowRelay> relay;
    std::unique_ptr<LiveRig> rig;
};

TEST_F(SerialServerLink, Rfc2217SetsTheFarLineAndCarriesTheDialogue) {
    bringUp(true);
    // The server opened the terminal at 9600; the client asked for 4800 8N1.
    const std::string stty = sttyOf(device);
    EXPECT_NE(stty.find("speed 4800 baud"), std::string::npos) << stty;
    EXPECT_TRUE(stty.find(" cs8") != std::string::npos && stty.find("-parenb") != std::string::npos &&
                stty.find("-cstopb") != std::string::npos)
        << stty;
    EXPECT_TRUE(eventually([&] { return simCount("?F\r") > 10; }, std::chrono::seconds(5)));
    playReachesThePlayer();
    EXPECT_EQ(rig->console.writeFailures(), 0) << rig->console.tail();
}

TEST_F(SerialServerLink, RawTcpCarriesTheDialogueAndLeavesTheLineToTheServer) {
    bringUp(false);
    const std::string stty = sttyOf(device);
    EXPECT_NE(stty.find("speed 9600 baud"), std::string::npos) << stty;
    playReachesThePlayer();
    EXPECT_EQ(rig->console.writeFailures(), 0) << rig->console.tail();
}

TEST_F(SerialServerLink, ServerGoneIsAHangUpAndItsReturnReopensTheLink) {
    bringUp(true);
    ASSERT_TRUE(rig->timecodeMoves(3000));
    ASSERT_TRUE(rig->display.indicateOk());
    const auto t0 = RealTime::now();
    server->kill();
    const std::regex reason("Serial Port " + std::regex_replace(url, std::regex(R"([.\[\]])"), R"(\$&)") +
                            ": connection (closed|reset) by the server\n");
    ASSERT_TRUE(eventually([&] { return !rig->display.indicateOk(); }, std::chrono::seconds(3)));
    ASSERT_TRUE(eventually([&] { return std::regex_search(rig->console.tail(), reason); }, std::chrono::seconds(3)))
        << rig->console.tail();
    EXPECT_LE(secondsSince(t0), 3.0);
    ASSERT_TRUE(eventually([&] { return rig->sop->lineDown(); }, std::chrono::seconds(3)));

    // A click while the server is away is dropped, not kept for later.
    const long plays = simCount("PL\r");
    rig->vcr->pause();
    ASSERT_GE(rig->probeAfter([this] { rig->vcr->play(); }, 5000), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a reopen attempt or two fail meanwhile

    const long polls = simCount("?F\r");
    server->start();
    const auto back = RealTime::now();
    ASSERT_TRUE(eventually([&] { return rig->console.tail().find("Serial Port " + url + " Opened OK") !=
                                        std::string::npos; },
                           std::chrono::seconds(5)))
        << rig->console.tail();
    ASSERT_TRUE(eventually([&] { return simCount("?F\r") > polls + 2; }, std::chrono::seconds(5)));
    EXPECT_LE(secondsSince(back), 5.0);
    EXPECT_TRUE(eventually([&] { return rig->display.indicateOk(); }, std::chrono::seconds(3)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(simCount("PL\r"), plays) << "a command given while the server was away reached the player";
    EXPECT_NE(sttyOf(device).find("speed 4800 baud"), std::string::npos) << "the reopen set the line again";
    EXPECT_NE(rig->console.tail().find("commands dropped"), std::string::npos) << rig->console.tail();
}

TEST_F(SerialServerLink, SlowSplitRepliesNeverMakeATimecodeThePlayerDidNotSend) {
    bringUp(true, true);
    // The spin-up's reply comes later than any reply wait (the simulator
    // answers "SA" after 300 ms, the relay adds up to 150): the exchange it
    // lands in shows the in point once. From the first frame reply on, every
    // reply is the exchange's own.
    ASSERT_TRUE(eventually([&] { return rig->vcr->getTCString() != "00:00:00:00"; }, std::chrono::seconds(5)));
    std::set<std::string> sent;
    std::set<std::string> shown;
    const long polls = simCount("?F\r");
    const auto until = RealTime::now() + std::chrono::seconds(5);
    while (RealTime::now() < until) {
        shown.insert(rig->vcr->getTCString());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_GT(simCount("?F\r"), polls + 15) << "the polls stopped";
    for (const auto& e : rig->sim.log()) {
        if (e.kind == dvdsim::LogEntry::Kind::Reply && e.bytes.size() == 8 && e.bytes[7] == '\r')
            sent.insert(timecode::FramesToTC(std::stoll(e.bytes.substr(0, 7))));
    }
    EXPECT_GT(shown.size(), 10u);
    // A reply read in two pieces is not a frame reply: the display would
    // show the in point (00:00:00:00 here), which the player never sent.
    for (const auto& tc : shown) {
        EXPECT_EQ(sent.count(tc), 1u) << tc << " was shown but never sent by the player";
    }
    playReachesThePlayer();
}

}  // namespace
