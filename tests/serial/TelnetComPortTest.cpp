// The Telnet and COM-PORT-OPTION client as a state machine, and the network
// port names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/NetPortName.h"
#include "serial/TelnetComPort.h"

using namespace morvia;
using T = TelnetComPort;

namespace {

Bytes b(std::initializer_list<int> v) {
    Bytes out;
    for (int x : v) out.push_back(static_cast<std::uint8_t>(x));
    return out;
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
// The server's answer to one line setting.
Bytes answer(int cmd, Bytes value) { return cat({b({T::IAC, T::SB, T::COM_PORT, 100 + cmd}), value, b({T::IAC, T::SE})}); }
const Bytes kDoComPort = b({T::IAC, T::DO, T::COM_PORT});
const Bytes kAgreed =
    cat({answer(1, b({0, 0, 0x12, 0xC0})), answer(2, b({8})), answer(3, b({1})), answer(4, b({1}))});

struct Session {
    Bytes data, answer;
    T machine{ComPortLine{}};
};

// Feeds `in` whole, or one byte at a time.
void feed(Session& r, const Bytes& in, bool split) {
    if (!split) return r.machine.receive(in, r.data, r.answer);
    for (std::uint8_t x : in) r.machine.receive(std::span(&x, 1), r.data, r.answer);
}

TEST(TelnetComPort, ServerStreamsGiveStateDataAndFailure) {
    struct Case {
        const char* name;
        Bytes fromServer;
        T::State state;
        Bytes data;
        const char* failure;
    };
    const Bytes notices = cat({answer(7, b({0x30})), answer(6, b({0x60})), answer(5, b({8}))});
    const std::vector<Case> cases = {
        {"agreed and set", cat({kDoComPort, kAgreed}), T::State::Ready, {}, ""},
        {"server's own negotiation first, then data",
         cat({b({T::IAC, T::WILL, T::ECHO, T::IAC, T::WILL, T::SGA, T::IAC, T::DO, T::BINARY, T::IAC, T::WILL, 34}),
              kDoComPort, kAgreed, b({'0', '1', T::IAC, T::IAC, '\r'})}),
         T::State::Ready, b({'0', '1', 0xFF, '\r'}), ""},
        {"notices and commands among the data",
         cat({kDoComPort, kAgreed, b({'R'}), notices, b({T::IAC, 241, T::IAC, 249, '\r'})}), T::State::Ready,
         b({'R', '\r'}), ""},
        {"option refused (DONT)", b({T::IAC, T::DONT, T::COM_PORT}), T::State::Failed, {},
         "the server refused the COM-PORT-OPTION"},
        {"option refused (WONT)", b({T::IAC, T::WONT, T::COM_PORT}), T::State::Failed, {},
         "the server refused the COM-PORT-OPTION"},
        {"bit rate answered with another value",
         cat({kDoComPort, answer(1, b({0, 0, 0x25, 0x80})), answer(2, b({8})), answer(3, b({1})), answer(4, b({1}))}),
         T::State::Failed, {}, "the server set the bit rate to 9600, not 4800"},
        {"parity answered with another value", cat({kDoComPort, answer(3, b({3}))}), T::State::Failed, {},
         "the server set the parity to code 3, not 1"},
        {"three of four answers", cat({kDoComPort, answer(1, b({0, 0, 0x12, 0xC0})), answer(2, b({8})), answer(3, b({1}))}),
         T::State::Setting, {}, ""},
        {"answers before the option are not taken", cat({kAgreed, notices}), T::State::Offered, {}, ""},
    };
    for (const auto& c : cases) {
        for (bool split : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (split ? ", one byte at a time" : ""));
            Session r;
            r.machine.greeting();
            feed(r, c.fromServer, split);
            EXPECT_EQ(r.machine.state(), c.state);
            EXPECT_EQ(r.data, c.data);
            EXPECT_EQ(r.machine.failure(), c.failure);
        }
    }
}

TEST(TelnetComPort, ClientOffersSetsTheLineOnceAgreedAndAnswersWithoutLoops) {
    Session r;
    EXPECT_EQ(r.machine.greeting(), b({T::IAC, T::WILL, T::COM_PORT, T::IAC, T::WILL, T::BINARY, T::IAC, T::WILL,
                                       T::SGA, T::IAC, T::DO, T::BINARY, T::IAC, T::DO, T::SGA}));
    // Agreement to what the client offered needs no answer; an unknown
    // option is refused; the option's agreement sends the line settings and
    // raises DTR and RTS.
    feed(r, cat({b({T::IAC, T::DO, T::BINARY, T::IAC, T::WILL, T::ECHO, T::IAC, T::DO, 24}), kDoComPort}), false);
    Bytes line;
    T::lineCommands(ComPortLine{}, line);
    const Bytes dtr = b({T::IAC, T::SB, T::COM_PORT, 5, 8, T::IAC, T::SE});
    const Bytes rts = b({T::IAC, T::SB, T::COM_PORT, 5, 11, T::IAC, T::SE});
    EXPECT_EQ(r.answer, cat({b({T::IAC, T::DO, T::ECHO, T::IAC, T::WONT, 24}), line, dtr, rts}));
    EXPECT_EQ(line, cat({b({T::IAC, T::SB, T::COM_PORT, 1, 0, 0, 0x12, 0xC0, T::IAC, T::SE}),
                         b({T::IAC, T::SB, T::COM_PORT, 2, 8, T::IAC, T::SE}),
                         b({T::IAC, T::SB, T::COM_PORT, 3, 1, T::IAC, T::SE}),
                         b({T::IAC, T::SB, T::COM_PORT, 4, 1, T::IAC, T::SE}),
                         b({T::IAC, T::SB, T::COM_PORT, 5, 1, T::IAC, T::SE})}));
    // The same requests again change nothing and are not answered again.
    r.answer.clear();
    feed(r, cat({b({T::IAC, T::DO, T::BINARY, T::IAC, T::WILL, T::ECHO}), kDoComPort}), true);
    EXPECT_TRUE(r.answer.empty());

    // 0xFF in data and in a setting's value is doubled.
    Bytes out;
    T::escape(b({'A', 0xFF, '\r'}), out);
    EXPECT_EQ(out, b({'A', 0xFF, 0xFF, '\r'}));
    out.clear();
    T::lineCommands(ComPortLine{0x0001FFFF, 8, 1, 1}, out);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), b({T::IAC, T::SB, T::COM_PORT, 1, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(NetPortName, FormsAcceptedAndRefused) {
    struct Case {
        const char* name;
        bool ok;
        bool rfc2217;
        const char* host;
        const char* port;
    };
    const std::vector<Case> cases = {
        {"rfc2217://player-room:4001", true, true, "player-room", "4001"},
        {"socket://192.168.1.20:4001", true, false, "192.168.1.20", "4001"},
        {"rfc2217://[fe80::1]:2217", true, true, "fe80::1", "2217"},
        {"rfc2217://[::1]:65535", true, true, "::1", "65535"},
        {"rfc2217://host", false, true, "", ""},
        {"rfc2217://host:0", false, true, "", ""},
        {"rfc2217://host:65536", false, true, "", ""},
        {"rfc2217://host:+40", false, true, "", ""},
        {"socket://::1:4001", false, false, "", ""},
        {"socket://[host]:4001", false, false, "", ""},
        {"socket://:4001", false, false, "", ""},
        {"rfc2217://host:4001/x", false, true, "", ""},
        {"/dev/ttyUSB0", false, false, "", ""},
        {"COM1", false, false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto p = parseNetPortName(c.name);
        ASSERT_EQ(p.has_value(), c.ok);
        EXPECT_EQ(isNetworkPortName(c.name), std::string(c.name).find("://") != std::string::npos);
        if (!p) continue;
        EXPECT_EQ(p->rfc2217, c.rfc2217);
        EXPECT_EQ(p->host, c.host);
        EXPECT_EQ(p->service, c.port);
    }
}

}  // namespace
