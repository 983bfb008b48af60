#include "serial/TelnetComPort.h"

#include <utility>

namespace morvia {
namespace {

bool weDo(std::uint8_t option) {
    return option == TelnetComPort::BINARY || option == TelnetComPort::SGA || option == TelnetComPort::COM_PORT;
}
bool theyMay(std::uint8_t option) {
    return option == TelnetComPort::BINARY || option == TelnetComPort::SGA || option == TelnetComPort::ECHO;
}
void put(Bytes& out, std::uint8_t a, std::uint8_t b, std::uint8_t c) { out.insert(out.end(), {a, b, c}); }

}  // namespace

ComPortLine comPortLineOf(const SerialConfig& cfg) {
    static constexpr std::uint32_t rates[] = {110, 150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    ComPortLine line;
    const int rate = cfg.getBitRate();
    line.baud = rate >= 0 && rate < 12 ? rates[rate] : 4800;
    line.dataSize = static_cast<std::uint8_t>(5 + cfg.getDataBits());
    line.parity = static_cast<std::uint8_t>(cfg.getParity() + 1);  // none, odd, even, mark
    line.stopSize = static_cast<std::uint8_t>(cfg.getStopBits() + 1);
    return line;
}

TelnetComPort::TelnetComPort(ComPortLine line) : line_(line) {}

Bytes TelnetComPort::greeting() {
    Bytes out;
    for (std::uint8_t o : {COM_PORT, BINARY, SGA}) {
        put(out, IAC, WILL, o);
        usAsked_[o] = true;
    }
    for (std::uint8_t o : {BINARY, SGA}) {
        put(out, IAC, DO, o);
        themAsked_[o] = true;
    }
    return out;
}

void TelnetComPort::escape(std::span<const std::uint8_t> in, Bytes& out) {
    for (std::uint8_t b : in) {
        out.push_back(b);
        if (b == IAC) out.push_back(IAC);
    }
}

void TelnetComPort::command(std::uint8_t cmd, std::span<const std::uint8_t> value, Bytes& out) {
    put(out, IAC, SB, COM_PORT);
    out.push_back(cmd);
    escape(value, out);
    out.insert(out.end(), {IAC, SE});
}

void TelnetComPort::lineCommands(const ComPortLine& line, Bytes& out) {
    const std::uint8_t baud[4] = {static_cast<std::uint8_t>(line.baud >> 24), static_cast<std::uint8_t>(line.baud >> 16),
                                  static_cast<std::uint8_t>(line.baud >> 8), static_cast<std::uint8_t>(line.baud)};
    command(SET_BAUDRATE, baud, out);
    command(SET_DATASIZE, std::span(&line.dataSize, 1), out);
    command(SET_PARITY, std::span(&line.parity, 1), out);
    command(SET_STOPSIZE, std::span(&line.stopSize, 1), out);
    const std::uint8_t noFlow = CONTROL_NO_FLOW;
    command(SET_CONTROL, std::span(&noFlow, 1), out);
}

void TelnetComPort::receive(std::span<const std::uint8_t> in, Bytes& data, Bytes& answer) {
    for (std::uint8_t b : in) {
        switch (in_) {
            case In::Data:
                if (b == IAC) {
                    in_ = In::Iac;
                } else if (!(b == 0 && lastWasCr_ && !themOn_[BINARY])) {
                    // Outside binary mode a CR travels as CR NUL; the NUL is not data.
                    data.push_back(b);
                }
                lastWasCr_ = b == '\r';
                break;
            case In::Iac:
                if (b == IAC) {
                    data.push_back(IAC);
                    lastWasCr_ = false;
                    in_ = In::Data;
                } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                    verb_ = b;
                    in_ = In::Verb;
                } else if (b == SB) {
                    sb_.clear();
                    in_ = In::Sb;
                } else {
                    in_ = In::Data;  // NOP, GA, a mark: nothing for the link
                }
                break;
            case In::Verb:
                verb(verb_, b, answer);
                in_ = In::Data;
                break;
            case In::Sb:
                if (b == IAC) in_ = In::SbIac;
                else sb_.push_back(b);
                break;
            case In::SbIac:
                if (b == IAC) {
                    sb_.push_back(IAC);
                    in_ = In::Sb;
                } else {
                    // IAC SE ends it; anything else after an IAC ends a broken one the same way.
                    subnegotiation(answer);
                    in_ = In::Data;
                }
                break;
        }
    }
}

void TelnetComPort::verb(std::uint8_t v, std::uint8_t option, Bytes& answer) {
    switch (v) {
        case DO:
            if (!weDo(option)) {
                put(answer, IAC, WONT, option);
            } else if (!usOn_[option]) {
                if (!usAsked_[option]) put(answer, IAC, WILL, option);
                usOn_[option] = true;
                usAsked_[option] = false;
                if (option == COM_PORT && state_ == State::Offered) {
                    state_ = State::Setting;
                    lineCommands(line_, answer);
                    for (std::uint8_t c : {CONTROL_DTR_ON, CONTROL_RTS_ON}) command(SET_CONTROL, std::span(&c, 1), answer);
                }
            }
            break;
        case DONT:
            if (usOn_[option] && !usAsked_[option]) put(answer, IAC, WONT, option);
            usOn_[option] = usAsked_[option] = false;
            if (option == COM_PORT && state_ != State::Failed) fail("the server refused the COM-PORT-OPTION");
            break;
        case WILL:
            if (!theyMay(option)) {
                put(answer, IAC, DONT, option);
            } else if (!themOn_[option]) {
                if (!themAsked_[option]) put(answer, IAC, DO, option);
                themOn_[option] = true;
                themAsked_[option] = false;
            }
            break;
        case WONT:
            if (themOn_[option] && !themAsked_[option]) put(answer, IAC, DONT, option);
            themOn_[option] = themAsked_[option] = false;
            if (option == COM_PORT && state_ != State::Failed) fail("the server refused the COM-PORT-OPTION");
            break;
        default:
            break;
    }
}

void TelnetComPort::subnegotiation(Bytes& answer) {
    (void)answer;
    if (sb_.size() < 2 || sb_[0] != COM_PORT || state_ != State::Setting) return;
    const std::uint8_t cmd = sb_[1];
    const std::span<const std::uint8_t> value(sb_.data() + 2, sb_.size() - 2);
    if (cmd == SERVER_OFFSET + SET_BAUDRATE && value.size() == 4) {
        gotBaud_ = static_cast<std::uint32_t>(value[0]) << 24 | static_cast<std::uint32_t>(value[1]) << 16 |
                   static_cast<std::uint32_t>(value[2]) << 8 | value[3];
    } else if (value.size() == 1 && cmd == SERVER_OFFSET + SET_DATASIZE) {
        gotData_ = value[0];
    } else if (value.size() == 1 && cmd == SERVER_OFFSET + SET_PARITY) {
        gotParity_ = value[0];
    } else if (value.size() == 1 && cmd == SERVER_OFFSET + SET_STOPSIZE) {
        gotStop_ = value[0];
    } else {
        return;  // SET-CONTROL answers, line-state and modem-state notices
    }
    if (gotBaud_ != 0 && gotBaud_ != line_.baud)
        fail("the server set the bit rate to " + std::to_string(gotBaud_) + ", not " + std::to_string(line_.baud));
    else if (gotData_ != 0 && gotData_ != line_.dataSize)
        fail("the server set the data size to " + std::to_string(gotData_) + ", not " +
             std::to_string(line_.dataSize));
    else if (gotParity_ != 0 && gotParity_ != line_.parity)
        fail("the server set the parity to code " + std::to_string(gotParity_) + ", not " +
             std::to_string(line_.parity));
    else if (gotStop_ != 0 && gotStop_ != line_.stopSize)
        fail("the server set the stop size to code " + std::to_string(gotStop_) + ", not " +
             std::to_string(line_.stopSize));
    else if (gotBaud_ && gotData_ && gotParity_ && gotStop_)
        state_ = State::Ready;
}

void TelnetComPort::fail(std::string why) {
    if (state_ == State::Ready) return;  // a later refusal is the server's business; the line works
    state_ = State::Failed;
    failure_ = std::move(why);
}

std::string TelnetComPort::waitingFor() const {
    return state_ == State::Offered ? "no answer to the COM-PORT-OPTION" : "no answer to the line settings";
}

}  // namespace morvia
