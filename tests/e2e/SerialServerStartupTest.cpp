// Start-up of the built program on a player port behind a serial server that
// is not there or does not answer: the port's start-up failure, with one line
// naming host, port and reason, within 4 s of the first console line.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "startup/Posix.h"
#include "support/ChildProcess.h"
#include "support/Eventually.h"
#include "support/SerialServer.h"
#include "support/TestSupport.h"

namespace {

using namespace morvia;
using Clock = std::chrono::steady_clock;

// A loopback listener that never accepts; `fill` connections (never accepted)
// fill its queue, so that later connection attempts get no answer at all.
struct DeafListener {
    explicit DeafListener(int fill) {
        fd = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd.get(), fill > 0 ? 0 : 8) != 0 ||
            ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("no listener");
        port = ntohs(a.sin_port);
        for (int i = 0; i < fill; ++i) {
            UniqueFd c(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            (void)::connect(c.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers.push_back(std::move(c));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the handshakes settle
    }
    UniqueFd fd;
    int port = 0;
    std::vector<UniqueFd> fillers;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Case {
    const char* name;
    std::function<int()> server;  // returns the port; keeps what it made in `keep`
    const char* reason;
};

TEST(SerialServerStartup, AServerThatIsNotThereEndsStartUpWithTheReason) {
#ifndef MORVIA_BIN
    FAIL() << "MORVIA_BIN is not defined: the morvia program was not built";
#else
    std::unique_ptr<DeafListener> keep;
    const std::vector<Case> cases = {
        {"closed port", [] { return test::freeLoopbackPort(); }, "connection refused"},
        {"full queue, no answer",
         [&] {
             keep = std::make_unique<DeafListener>(4);
             return keep->port;
         },
         "no connection within 3 s"},
        {"connected, option never answered",
         [&] {
             keep = std::make_unique<DeafListener>(0);
             return keep->port;
         },
         "no answer to the COM-PORT-OPTION within 3 s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir("net-startup");
        const int port = c.server();
        const std::string url = "rfc2217://127.0.0.1:" + std::to_string(port);
        std::ofstream(dir.file("Settings.txt")) << "Verbose=NO\nUserNote=net\nDVDCOMPort=" << url
                                                << "\nTCOffset=00:00:00:00\nStartTitle=1\nUseClipboard=NO\n"
                                                   "StopOnExit=NO\n";
        const std::string out = dir.file("out.txt");
        test::ChildProcess morvia({MORVIA_BIN}, dir.path(), out, {"QT_QPA_PLATFORM=offscreen"});
        ASSERT_TRUE(test::eventually([&] { return slurp(out).find('\n') != std::string::npos; },
                                     std::chrono::seconds(20)));
        const auto firstLine = Clock::now();
        const std::string why = "Serial Port " + url + ": 127.0.0.1 port " + std::to_string(port) + ": " + c.reason;
        ASSERT_TRUE(test::eventually([&] { return slurp(out).find(why) != std::string::npos; },
                                     std::chrono::seconds(10)))
            << slurp(out);
        EXPECT_LE(std::chrono::duration<double>(Clock::now() - firstLine).count(), 4.0);
        EXPECT_NE(slurp(out).find(" \nSerial Port " + url + " not available\n" + why + "\n"), std::string::npos)
            << slurp(out);
        EXPECT_EQ(morvia.wait(std::chrono::seconds(20)), 0);
        keep.reset();
    }
#endif
}

}  // namespace
