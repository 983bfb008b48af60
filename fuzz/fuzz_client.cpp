// The TCP control server's line loop: each input is sent by a client over a
// loopback connection to a fresh control server (its listener and connection
// threads started and joined within the input). The commands the controller queued
// and the answers the client received must equal what the command language
// gives when the same input is split into lines by the protocol's rules and
// run directly on a second controller.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "remote/ClientSocket.h"
#include "remote/CommandLanguage.h"
#include "remote/LineConnection.h"
#include "remote/ListenAddress.h"
#include "remote/Socket.h"
#include "startup/Quenta.h"
#include "startup/TextFiles.h"

using namespace morvia;

namespace {

// The lines the server hands to the command language, by the protocol's
// rules: a line ends at LF, CR, CR LF, LF CR or NUL; an empty line, "Close",
// "KILL", a line longer than the limit or the end of the stream end the
// session; a last line without its end still counts.
std::vector<std::string> referenceLines(std::string_view in) {
    text::LineQueue queue(LineConnection::maxLine + 1, text::LineEnds::network);
    queue.feed(in.data(), in.size());
    queue.finish();
    std::vector<std::string> lines;
    std::string line;
    std::size_t full = 0;
    while (queue.take(line, full)) {
        if (full > LineConnection::maxLine) break;
        if (line.empty() || line == "Close" || line == "KILL") break;
        lines.push_back(line);
    }
    return lines;
}

// Sends the input as a client, half-closes, and returns everything the server
// sent until it closed the connection.
std::string talk(int port, const std::uint8_t* data, std::size_t size) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) fuzz::fail("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // The client closes last (it half-closes first), so every input leaves a
    // TIME_WAIT entry for a minute. Tens of thousands of inputs would use up
    // one source address's ephemeral ports and the next connect would fail,
    // so the source address walks through 127.0.0.0/8; each has ports of its
    // own.
    static std::uint32_t source = 0;
    source = source % 65000 + 1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + source);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) fuzz::fail("bind");
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        int err = errno;
        if (err == EINTR) {
            // libFuzzer's timer signal cut the call short; the connection
            // goes on by itself and its outcome is read once it is writable.
            pollfd ready{fd, POLLOUT, 0};
            while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {}
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        }
        if (err != 0) {
            std::fprintf(stderr, "connect: %s\n", std::strerror(err));
            fuzz::fail("connect");
        }
    }
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the server ended the session early
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    std::string got;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quietProcess();

    // Through the server.
    Quenta::resetDefaults();
    fuzz::CheckingLink link;
    link.keep = true;
    fuzz::FieldDisplay display;
    std::string received;
    bool stoppedByBudget = false;
    {
        LocalVCR vcr(&link, display, 2001);
        fuzz::Budget::instance().reset(&vcr);
        ControlServer server(vcr, listenOn({ListenAddress::loopback, 0}));
        server.start();
        received = talk(server.port(), data, size);
        server.stop();
        MORVIA_FUZZ_CHECK(server.clients() == 0);
        stoppedByBudget = fuzz::Budget::instance().exhausted();
        fuzz::Budget::instance().reset(nullptr);
    }

    // Directly, on the lines the protocol's rules give.
    Quenta::resetDefaults();
    fuzz::CheckingLink link2;
    link2.keep = true;
    fuzz::FieldDisplay display2;
    auto answers = std::make_shared<test::RecordingClient>();
    {
        LocalVCR vcr(&link2, display2, 2001);
        fuzz::Budget::instance().reset(&vcr);
        for (const std::string& line : referenceLines(std::string_view(reinterpret_cast<const char*>(data), size))) {
            try {
                ParseNetCommand(vcr, line, vcr.stopGeneration(), *answers);
            } catch (const std::exception&) {
                // The server ignores such a line and keeps the connection.
            }
        }
        stoppedByBudget = stoppedByBudget || fuzz::Budget::instance().exhausted();
        fuzz::Budget::instance().reset(nullptr);
    }
    Quenta::resetDefaults();

    // A long repeat cut short by the harness ends at a point that depends on
    // the server's own status lines; only the greeting can be compared then.
    MORVIA_FUZZ_CHECK(received.rfind("OK\r\n", 0) == 0);
    if (stoppedByBudget) return 0;

    MORVIA_FUZZ_CHECK(received == "OK\r\n" + answers->text());
    MORVIA_FUZZ_CHECK(link.kept == link2.kept);
    return 0;
}
