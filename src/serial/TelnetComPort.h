// The client side of a Telnet session with the COM-PORT-OPTION (RFC 2217), as
// a state machine with no I/O: the port object hands it the bytes that came
// from the server and sends what it answers.
//
// Opening: the client offers the option (and binary transfer and
// suppress-go-ahead both ways); once the server agrees (DO COM-PORT-OPTION)
// it sends the line settings (bit rate, data size, parity, stop size, no flow
// control) and raises DTR and RTS. The session is ready when the server has
// answered the four line settings with the values asked; it fails when the
// server refuses the option or answers a setting with another value. The
// answers to SET-CONTROL are not awaited (a server in front of a port
// without modem lines never sends them) and, like line-state and modem-state
// notices, are ignored.
//
// Data: 0xFF is doubled on the way out and undoubled on the way in; Telnet
// commands and subnegotiations never appear among the data bytes.
//
// Thread-safety: none; one object per connection, used by its one user.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "serial/SerialConfig.h"

namespace morvia {

using Bytes = std::vector<std::uint8_t>;

// A port's line settings in RFC 2217's own codes.
struct ComPortLine {
    std::uint32_t baud = 4800;
    std::uint8_t dataSize = 8;  // 5..8
    std::uint8_t parity = 1;    // 1 none, 2 odd, 3 even, 4 mark
    std::uint8_t stopSize = 1;  // 1 one, 2 two
    bool operator==(const ComPortLine&) const = default;
};
ComPortLine comPortLineOf(const SerialConfig& cfg);

class TelnetComPort {
public:
    enum class State { Offered, Setting, Ready, Failed };

    // Telnet bytes and the option's codes the machine speaks.
    static constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
    static constexpr std::uint8_t BINARY = 0, ECHO = 1, SGA = 3, COM_PORT = 44;
    static constexpr std::uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4,
                                  SET_CONTROL = 5, SERVER_OFFSET = 100;
    static constexpr std::uint8_t CONTROL_NO_FLOW = 1, CONTROL_DTR_ON = 8, CONTROL_DTR_OFF = 9, CONTROL_RTS_ON = 11,
                                  CONTROL_RTS_OFF = 12;

    explicit TelnetComPort(ComPortLine line);

    // What the client sends first.
    Bytes greeting();
    // Takes bytes from the server in any pieces: data bytes are appended to
    // `data`, what the client answers to `answer`.
    void receive(std::span<const std::uint8_t> in, Bytes& data, Bytes& answer);
    // Data bytes for the server, 0xFF doubled, appended to `out`.
    static void escape(std::span<const std::uint8_t> in, Bytes& out);
    // One COM-PORT-OPTION command from the client, appended to `out`.
    static void command(std::uint8_t cmd, std::span<const std::uint8_t> value, Bytes& out);
    // The four line settings and no flow control, appended to `out`; their
    // answers are checked only while opening.
    static void lineCommands(const ComPortLine& line, Bytes& out);

    State state() const { return state_; }
    // Why the session failed (set in Failed).
    const std::string& failure() const { return failure_; }
    // What the client still waits for while opening, for a time-out message.
    std::string waitingFor() const;

private:
    enum class In { Data, Iac, Verb, Sb, SbIac };
    void verb(std::uint8_t v, std::uint8_t option, Bytes& answer);
    void subnegotiation(Bytes& answer);
    void fail(std::string why);

    ComPortLine line_;
    State state_ = State::Offered;
    std::string failure_;
    In in_ = In::Data;
    std::uint8_t verb_ = 0;
    Bytes sb_;
    bool lastWasCr_ = false;
    // Per option: we (the client) do it / the server does it, and whether the
    // client asked for it and awaits the answer.
    std::array<bool, 256> usOn_{}, usAsked_{}, themOn_{}, themAsked_{};
    // The answers to the four line settings (0: not yet).
    std::uint32_t gotBaud_ = 0;
    std::uint8_t gotData_ = 0, gotParity_ = 0, gotStop_ = 0;
};

}  // namespace morvia
