#include "remote/HyperDeckSession.h"

#include <array>
#include <cstdlib>

#include "startup/Decimal.h"

namespace morvia::hyperdeck {
namespace {

const std::string kOk = simple(200, "ok");
const std::string kSyntax = simple(100, "syntax error");
const std::string kUnsupportedParam = simple(101, "unsupported parameter");
const std::string kInvalid = simple(102, "invalid value");
const std::string kUnsupported = simple(103, "unsupported");
const std::string kNoDisk = simple(105, "no disk");
const std::string kOutOfRange = simple(109, "out of range");
const std::string kRemoteOff = simple(111, "remote control disabled");
const std::string kBusy = simple(150, "invalid state");

// Commands that would record, erase or change the media or the deck's
// configuration: a disc player does none of them.
constexpr std::array<std::string_view, 12> kRefused{
    "record",       "format",  "delete",    "clips add",       "clips clear",  "clips remove",
    "slot unblock", "preview", "uptime set", "play on startup", "play option", "identify",
};

// The commands this port knows, with their parameters, for "help" and
// "commands".
constexpr std::array<std::pair<std::string_view, std::string_view>, 20> kCommands{{
    {"help", ""},
    {"commands", ""},
    {"device info", ""},
    {"transport info", ""},
    {"slot info", "slot id"},
    {"slot select", "slot id"},
    {"clips count", ""},
    {"clips get", "clip id count version"},
    {"disk list", "slot id"},
    {"play", "speed loop single clip"},
    {"stop", ""},
    {"shuttle", "speed"},
    {"jog", "timecode"},
    {"goto", "clip id timecode"},
    {"playrange set", "in out timecode in timecode out"},
    {"playrange clear", ""},
    {"notify", "remote transport slot configuration display timecode"},
    {"remote", "enable override"},
    {"watchdog", "period"},
    {"ping", ""},
}};

std::string helpText() {
    Params lines;
    for (const auto& [name, params] : kCommands)
        lines.push_back({std::string(name), params.empty() ? std::string("-") : std::string(params)});
    lines.push_back({"quit", "-"});
    return block(201, "help", lines);
}

std::string commandsText() {
    std::string out = "212 commands:\r\n<commands>\r\n";
    for (const auto& [name, params] : kCommands) out += "<command name=\"" + std::string(name) + "\"/>\r\n";
    out += "<command name=\"quit\"/>\r\n</commands>\r\n\r\n";
    return out;
}

bool allowedOnly(const Request& r, std::initializer_list<std::string_view> names) {
    for (const Param& p : r.params) {
        bool known = false;
        for (std::string_view n : names) known = known || p.name == n;
        if (!known) return false;
    }
    return true;
}

}  // namespace

Session::Session(Deck& deck) : deck_(deck) {}

Session::Reply Session::line(std::string_view text, Clock::time_point now) {
    std::lock_guard g(lock_);
    lastCommand_ = now;
    std::optional<Request> r = reader_.feed(text);
    if (!r) return {};
    if (r->malformed) return {kSyntax};
    return handle(*r);
}

bool Session::watchdogExpired(Clock::time_point now) const {
    std::lock_guard g(lock_);
    return watchdogSeconds_ > 0 && now - lastCommand_ >= std::chrono::seconds(watchdogSeconds_);
}

std::optional<Session::Clock::time_point> Session::watchdogDeadline() const {
    std::lock_guard g(lock_);
    if (watchdogSeconds_ <= 0) return std::nullopt;
    return lastCommand_ + std::chrono::seconds(watchdogSeconds_);
}

bool Session::notifying() const {
    std::lock_guard g(lock_);
    return notify_.transport || notify_.slot || notify_.displayTimecode;
}

std::vector<std::string> Session::changes(const DeckState& state, Clock::time_point now) {
    std::lock_guard g(lock_);
    std::vector<std::string> out;
    if (notify_.transport) {
        Params now = transportFields(state);
        Params changed = changedFields(lastTransport_, now, {"display timecode", "timecode"});
        if (!changed.empty()) out.push_back(block(508, "transport info", changed));
        lastTransport_ = std::move(now);
    }
    if (notify_.slot) {
        Params now = slotFields(state);
        Params changed = changedFields(lastSlot_, now, {"slot id"});
        if (!changed.empty()) {
            changed.insert(changed.begin(), {"slot id", "1"});
            out.push_back(block(502, "slot info", changed));
        }
        lastSlot_ = std::move(now);
    }
    if (notify_.displayTimecode) {
        const std::string tc = transportFields(state)[5].value;  // display timecode
        const bool due = !lastTimecodeSent_ || now - *lastTimecodeSent_ >= kTimecodeInterval;
        if (tc != lastTimecode_ && due) {
            out.push_back(block(513, "display timecode", {{"display timecode", tc}}));
            lastTimecode_ = tc;
            lastTimecodeSent_ = now;
        }
    }
    return out;
}

Session::Reply Session::handle(const Request& r) {
    const std::string& n = r.name;
    const bool bare = r.params.empty();
    if (n == "quit" && bare) return {kOk, true};
    if (n == "ping" && bare) return {kOk};
    if ((n == "help" || n == "?") && bare) return {helpText()};
    if (n == "commands" && bare) return {commandsText()};
    if (n == "device info" && bare)
        return {block(204, "device info",
                      {{"protocol version", kProtocolVersion}, {"model", kModel}, {"slot count", "1"}})};
    if (n == "transport info" && bare) return {block(208, "transport info", transportFields(deck_.state()))};
    if (n == "slot info") return {slotInfo(r)};
    if (n == "slot select") return {slotInfo(r).starts_with("202") ? kOk : kInvalid};
    if (n == "clips count" && bare) return {block(214, "clips count", {{"clip count", "none"}})};
    if (n == "clips get") return {block(205, "clips info", {{"clip count", "none"}})};
    if (n == "disk list") return {block(206, "disk list", {{"slot id", "1"}})};
    if (n == "play") return {play(r, false)};
    if (n == "shuttle") return {play(r, true)};
    if (n == "stop" && bare) {
        if (!remoteEnabled_) return {kRemoteOff};
        if (!deck_.state().answering) return {kNoDisk};
        deck_.stop();
        return {kOk};
    }
    if (n == "goto") return {gotoCommand(r)};
    if (n == "jog") return {jog(r)};
    if (n == "playrange set") return {playrange(r, true)};
    if (n == "playrange clear" && bare) return {playrange(r, false)};
    if (n == "notify") return {notify(r)};
    if (n == "watchdog") return {watchdog(r)};
    if (n == "remote") return {remote(r)};
    if (n == "configuration") return {bare ? block(211, "configuration", {}) : kUnsupported};
    for (std::string_view refused : kRefused)
        if (n == refused) return {kUnsupported};
    return {kSyntax};
}

std::string Session::slotInfo(const Request& r) {
    if (!allowedOnly(r, {"slot id"})) return kUnsupportedParam;
    if (const std::string* id = r.find("slot id"); id && *id != "1") return kInvalid;
    return block(202, "slot info", slotFields(deck_.state()));
}

std::optional<Op> Session::speedOp(int speed) {
    if (speed == 100) return Op{Op::Kind::play};
    if (speed == 0) return Op{Op::Kind::pause};
    if (speed == 25) return Op{Op::Kind::slowQuarter};
    if (speed == 50) return Op{Op::Kind::slowHalf};
    if (speed > 100) return Op{Op::Kind::forward, speed};
    if (speed < 0) return Op{Op::Kind::rewind, speed};
    return std::nullopt;
}

std::string Session::transport(Op op) {
    if (!remoteEnabled_) return kRemoteOff;
    if (!deck_.state().answering) return kNoDisk;
    return deck_.submit(std::move(op)) ? kOk : kBusy;
}

std::string Session::play(const Request& r, bool shuttle) {
    if (shuttle ? !allowedOnly(r, {"speed"}) : !allowedOnly(r, {"speed", "loop", "single clip"}))
        return kUnsupportedParam;
    std::optional<int> speed = 100;
    if (const std::string* s = r.find("speed")) speed = ParseDecimal(*s);
    else if (shuttle) return kSyntax;
    if (!speed) return kInvalid;
    std::optional<bool> loop = false;
    std::optional<bool> single = false;
    if (const std::string* v = r.find("loop")) loop = parseBool(*v);
    if (const std::string* v = r.find("single clip")) single = parseBool(*v);
    if (!loop || !single) return kInvalid;
    std::optional<Op> op = speedOp(*speed);
    if (!op) return kInvalid;
    // A range played once or in a loop, at play speed.
    if ((*loop || *single) && *speed == 100 && deck_.hasRange()) op = Op{*loop ? Op::Kind::loop : Op::Kind::review};
    return transport(std::move(*op));
}

std::string Session::gotoCommand(const Request& r) {
    if (r.params.size() != 1) return r.params.empty() ? kSyntax : kUnsupportedParam;
    const Param& p = r.params.front();
    if (p.name == "timecode") {
        const bool relative = !p.value.empty() && (p.value.front() == '+' || p.value.front() == '-');
        if (relative) return jog(r);
        const std::optional<int> frames = strictTimecode(p.value);
        if (!frames) return kInvalid;
        if (!deck_.reachable(*frames)) return kOutOfRange;
        return transport(Op{Op::Kind::gotoTimecode, 0, p.value});
    }
    if (p.name == "clip id") {
        const bool relative = !p.value.empty() && (p.value.front() == '+' || p.value.front() == '-');
        const std::optional<int> n = ParseDecimal(p.value, DecimalSign::plusOrMinus);
        if (!n) return kInvalid;
        int title = *n;
        if (relative) {
            const int now = deck_.state().title;
            if (now <= 0) return kOutOfRange;  // the current title is not known
            title = now + *n;
        }
        if (title < 1 || title > 99) return kOutOfRange;
        return transport(Op{Op::Kind::gotoTitle, title});
    }
    if (p.name == "clip" || p.name == "timeline") return kUnsupported;
    return kUnsupportedParam;
}

std::string Session::jog(const Request& r) {
    if (r.params.size() != 1 || r.params.front().name != "timecode") return kUnsupportedParam;
    const std::optional<int> frames = jogFrames(r.params.front().value);
    if (!frames) return kInvalid;
    if (std::abs(*frames) > kMaxJog) return kOutOfRange;
    if (*frames == 0) return transport(Op{Op::Kind::pause});
    return transport(Op{Op::Kind::jog, *frames});
}

std::string Session::playrange(const Request& r, bool set) {
    if (!set) return transport(Op{Op::Kind::clearRange});
    if (!allowedOnly(r, {"in", "out", "timecode in", "timecode out"})) return kUnsupportedParam;
    const std::string* in = r.find("in");
    const std::string* out = r.find("out");
    if (!in) in = r.find("timecode in");
    if (!out) out = r.find("timecode out");
    if (!in || !out) return kSyntax;
    const std::optional<int> a = strictTimecode(*in);
    const std::optional<int> b = strictTimecode(*out);
    if (!a || !b || *a >= *b) return kInvalid;
    if (!deck_.reachable(*a) || !deck_.reachable(*b)) return kOutOfRange;
    return transport(Op{Op::Kind::setRange, 0, *in, *out});
}

std::string Session::notify(const Request& r) {
    if (r.params.empty()) {
        const auto b = [](bool v) { return std::string(v ? "true" : "false"); };
        return block(209, "notify",
                     {{"transport", b(notify_.transport)},
                      {"slot", b(notify_.slot)},
                      {"remote", b(notify_.remote)},
                      {"configuration", b(notify_.configuration)},
                      {"dropped frames", "false"},
                      {"display timecode", b(notify_.displayTimecode)}});
    }
    Notify next = notify_;
    for (const Param& p : r.params) {
        const std::optional<bool> v = parseBool(p.value);
        if (!v) return kInvalid;
        if (p.name == "transport") next.transport = *v;
        else if (p.name == "slot") next.slot = *v;
        else if (p.name == "remote") next.remote = *v;
        else if (p.name == "configuration") next.configuration = *v;
        else if (p.name == "display timecode") next.displayTimecode = *v;
        else if (*v) return kUnsupportedParam;  // never sent, so "false" is already true
    }
    // The messages report changes from what holds now.
    const DeckState s = deck_.state();
    if (next.transport && !notify_.transport) lastTransport_ = transportFields(s);
    if (next.slot && !notify_.slot) lastSlot_ = slotFields(s);
    if (next.displayTimecode && !notify_.displayTimecode) {
        lastTimecode_ = transportFields(s)[5].value;
        lastTimecodeSent_.reset();
    }
    notify_ = next;
    return kOk;
}

std::string Session::watchdog(const Request& r) {
    const std::string* period = r.find("period");
    if (!period || r.params.size() != 1) return r.params.empty() ? kSyntax : kUnsupportedParam;
    const std::optional<int> seconds = ParseDecimal(*period, DecimalSign::none);
    if (!seconds) return kInvalid;
    watchdogSeconds_ = *seconds;
    return kOk;
}

std::string Session::remote(const Request& r) {
    if (r.params.empty())
        return block(210, "remote info", {{"enabled", remoteEnabled_ ? "true" : "false"}, {"override", "false"}});
    if (!allowedOnly(r, {"enable", "override"})) return kUnsupportedParam;
    std::optional<bool> enable = remoteEnabled_;
    if (const std::string* v = r.find("enable")) enable = parseBool(*v);
    if (const std::string* v = r.find("override"); v && !parseBool(*v)) return kInvalid;
    if (!enable) return kInvalid;
    remoteEnabled_ = *enable;
    return kOk;
}

}  // namespace morvia::hyperdeck
