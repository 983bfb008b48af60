// The built morvia program with its HyperDeck-compatible port open, against
// the dvdsim player simulator: raw clients on loopback, and the client
// library that control panels use (Node.js, installed by scripts/setup.sh).
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TcpClient.h"

#if !defined(MORVIA_BIN) || !defined(DVDSIM_BIN)
#error "the end-to-end tests need the morvia and dvdsim programs (MORVIA_BIN, DVDSIM_BIN)"
#endif

namespace {

namespace fs = std::filesystem;
using morvia::test::ChildProcess;
using morvia::test::readFile;
using morvia::test::splitLines;
using morvia::test::TcpClient;
using morvia::test::waitForText;

// One block the port sent: its lines without CR LF, up to (not including)
// the empty line that ends a block with parameters. Empty when nothing came.
std::vector<std::string> readBlock(TcpClient& c, int ms = 20000) {
    std::vector<std::string> out;
    for (;;) {
        const std::string line = c.readLine(ms);
        if (line.empty() || line == "<timeout>" || line.size() < 2 || !line.ends_with("\r\n")) return out;
        const std::string text = line.substr(0, line.size() - 2);
        if (text.empty()) return out;  // the end of a block
        out.push_back(text);
        if (out.size() == 1 && !text.ends_with(":")) return out;  // a one-line answer
    }
}

class HyperDeckEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("morvia-hyperdeck-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        sim = std::make_unique<ChildProcess>(
            std::vector<std::string>{DVDSIM_BIN, "--log", (dir / "sim.log").string()}, dir, dir / "sim.out");
        ASSERT_TRUE(waitForText(dir / "sim.out", "\n", std::chrono::seconds(10))) << "dvdsim printed no terminal";
        // Port 0: any free port on the loopback address, named on the console.
        std::ofstream(dir / "Settings.txt") << "Verbose=NO\nUserNote=HyperDeck\nDVDCOMPort="
                                            << splitLines(readFile(dir / "sim.out")).at(0)
                                            << "\nTCOffset=00:00:00:00\nStartTitle=1\nUseClipboard=NO\nStopOnExit=NO\n"
                                               "HyperDeckServer=0\n";
        app = std::make_unique<ChildProcess>(std::vector<std::string>{MORVIA_BIN}, dir, dir / "console.txt",
                                             std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"});
        const std::string prefix = "HyperDeck-compatible port listening on 127.0.0.1:";
        ASSERT_TRUE(waitForText(dir / "console.txt", prefix, std::chrono::seconds(90))) << readFile(dir / "console.txt");
        for (const auto& l : splitLines(readFile(dir / "console.txt")))
            if (l.starts_with(prefix)) port = std::stoi(l.substr(prefix.size()));
        ASSERT_GT(port, 0);
    }
    void TearDown() override {
        if (app) app->end(SIGTERM, std::chrono::seconds(10));
        if (sim) sim->end(SIGTERM, std::chrono::seconds(5));
        if (!HasFailure()) fs::remove_all(dir);
    }
    // How many times the player received `command` (with its CR written "\r").
    int received(const std::string& command) const {
        int n = 0;
        for (const auto& l : splitLines(readFile(dir / "sim.log")))
            n += l.ends_with(" cmd " + command);
        return n;
    }
    // The port as /proc/net/tcp writes it: four upper-case hex digits.
    std::string portHex() const {
        std::ostringstream h;
        h << std::uppercase << std::hex << port;
        return std::string(4 - std::min<std::size_t>(4, h.str().size()), '0') + h.str();
    }
    // The local addresses of the TCP sockets listening on our port.
    std::vector<std::string> listeningOn() const {
        std::vector<std::string> out;
        for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            std::ifstream in(table);
            std::string line;
            std::getline(in, line);  // header
            while (std::getline(in, line)) {
                std::istringstream f(line);
                std::vector<std::string> col;
                for (std::string c; f >> c;) col.push_back(c);
                if (col.size() > 3 && col[3] == "0A" && col[1].ends_with(":" + portHex())) out.push_back(col[1]);
            }
        }
        return out;
    }

    fs::path dir;
    int port = 0;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<ChildProcess> app;
};

const std::vector<std::string> kGreeting = {"500 connection info:", "protocol version: 1.11",
                                            "model: Morvia DVD-V7400 controller"};

TEST_F(HyperDeckEndToEnd, ServesFourClientsOnLoopbackRefusesAFifthAndServesTheNextAfterADrop) {
    // Only on the loopback address, as the bare port asks.
    EXPECT_EQ(listeningOn(), std::vector<std::string>{"0100007F:" + portHex()});

    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::make_unique<TcpClient>(port));
        ASSERT_TRUE(clients.back()->connected());
        EXPECT_EQ(readBlock(*clients.back()), kGreeting) << "client " << i;
    }
    TcpClient& a = *clients[0];
    TcpClient& b = *clients[1];

    // Commands reach the player.
    const int slowBefore = received("30SPMF\\r");
    ASSERT_TRUE(a.sendLine("play: speed: 50"));
    EXPECT_EQ(readBlock(a), std::vector<std::string>{"200 ok"});
    EXPECT_TRUE(morvia::test::eventually([&] { return received("30SPMF\\r") > slowBefore; }));
    ASSERT_TRUE(b.send("goto:\r\ntimecode: 00:00:04:00\r\n\r\n"));  // the block form
    EXPECT_EQ(readBlock(b), std::vector<std::string>{"200 ok"});
    EXPECT_TRUE(morvia::test::eventually([&] { return received("FR0000120SE\\r") > 0; }));

    // A query answers the client that asked, and only it: b's next answer is
    // its own.
    ASSERT_TRUE(a.sendLine("transport info"));
    const std::vector<std::string> info = readBlock(a);
    ASSERT_FALSE(info.empty());
    EXPECT_EQ(info[0], "208 transport info:");
    EXPECT_NE(std::find(info.begin(), info.end(), "slot id: 1"), info.end());
    ASSERT_TRUE(b.sendLine("ping"));
    EXPECT_EQ(readBlock(b), std::vector<std::string>{"200 ok"});

    // Garbage and unknown commands leave the connection open.
    ASSERT_TRUE(a.send(std::string("\x01\x02\xfe\xff garbage\r\nrecord\r\n")));
    EXPECT_EQ(readBlock(a), std::vector<std::string>{"100 syntax error"});
    EXPECT_EQ(readBlock(a), std::vector<std::string>{"103 unsupported"});

    // A fifth is told and closed; the four go on.
    TcpClient fifth(port);
    ASSERT_TRUE(fifth.connected());
    EXPECT_EQ(fifth.readAnswer(20000), "120 connection rejected");
    EXPECT_TRUE(fifth.closedByServer());
    ASSERT_TRUE(clients[3]->sendLine("ping"));
    EXPECT_EQ(readBlock(*clients[3]), std::vector<std::string>{"200 ok"});

    // A dropped client frees its place: the next is served within a second.
    clients[2].reset();
    const auto dropped = std::chrono::steady_clock::now();
    bool served = false;
    while (!served && std::chrono::steady_clock::now() - dropped < std::chrono::seconds(1)) {
        TcpClient next(port);
        served = next.connected() && readBlock(next, 1000) == kGreeting;
    }
    EXPECT_TRUE(served) << "no client served within a second of the drop";

    // quit answers, then closes.
    ASSERT_TRUE(a.sendLine("quit"));
    EXPECT_EQ(readBlock(a), std::vector<std::string>{"200 ok"});
    EXPECT_TRUE(a.closedByServer());
}

TEST_F(HyperDeckEndToEnd, TheClientLibraryConnectsPlaysStopsAndGoesToATimecode) {
    const fs::path script = fs::path(MORVIA_TESTS_SOURCE_DIR) / "hyperdeck" / "client.mjs";
    const fs::path library =
        fs::path(MORVIA_TESTS_SOURCE_DIR) / "hyperdeck" / "node_modules" / "hyperdeck-connection" / "package.json";
    std::string node;
    for (const char* candidate : {"/usr/bin/node", "/usr/local/bin/node", "/usr/bin/nodejs"})
        if (node.empty() && ::access(candidate, X_OK) == 0) node = candidate;
    ASSERT_FALSE(node.empty()) << "Node.js is not installed: run scripts/setup.sh";
    ASSERT_TRUE(fs::exists(library)) << "hyperdeck-connection is not installed in tests/hyperdeck: run scripts/setup.sh";

    ChildProcess client({node, script.string(), std::to_string(port)}, script.parent_path(), dir / "client.txt", {},
                        ChildProcess::Errors::Merged);
    const std::optional<int> status = client.wait(std::chrono::seconds(90));
    const std::string out = readFile(dir / "client.txt");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("PASS"), std::string::npos) << out;
    // The play and the search reached the player.
    EXPECT_GT(received("PL\\r"), 0);
    EXPECT_GT(received("FR0000150SE\\r"), 0) << "goto 00:00:05:00";
}

}  // namespace
