#include "remote/HyperDeckProtocol.h"

#include <array>

#include "player/StatusText.h"
#include "player/Timecode.h"

namespace morvia::hyperdeck {
namespace {

// Parameter names of more than one word that the protocol's commands use.
constexpr std::array<std::string_view, 22> kLongNames{
    "clip id",          "single clip",     "timecode in",      "timecode out",        "timeline in",
    "timeline out",     "slot id",         "display timecode", "dropped frames",      "timeline position",
    "dynamic range",    "video format",    "file format",      "record mode",         "video input",
    "audio input",      "audio codec",     "timecode input",   "timecode output",     "timecode preference",
    "timecode preset",  "audio input channels",
};

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Where the parameter name at the end of `segment` begins (after a blank).
std::size_t nameStart(std::string_view segment) {
    for (std::string_view n : kLongNames) {
        if (segment.size() > n.size() && segment.substr(segment.size() - n.size()) == n &&
            segment[segment.size() - n.size() - 1] == ' ')
            return segment.size() - n.size();
    }
    const std::size_t blank = segment.rfind(' ');
    return blank == std::string_view::npos ? std::string_view::npos : blank + 1;
}

bool validName(std::string_view n) { return !n.empty() && n.find(':') == std::string_view::npos; }

}  // namespace

const std::string* Request::find(std::string_view param) const {
    for (const Param& p : params)
        if (p.name == param) return &p.value;
    return nullptr;
}

std::optional<Params> splitParams(std::string_view text) {
    text = trim(text);
    Params out;
    if (text.empty()) return out;
    // A separator is ": " (or a colon at the very end); the colons inside a
    // timecode are followed by digits.
    std::vector<std::string_view> segments;
    std::size_t from = 0;
    for (;;) {
        std::size_t sep = text.find(": ", from);
        if (sep == std::string_view::npos) {
            if (!text.empty() && text.back() == ':' && text.size() - 1 >= from) {
                segments.push_back(text.substr(from, text.size() - 1 - from));
                segments.emplace_back();
            } else {
                segments.push_back(text.substr(from));
            }
            break;
        }
        segments.push_back(text.substr(from, sep - from));
        from = sep + 2;
    }
    if (segments.size() < 2) return std::nullopt;
    std::string name(trim(segments[0]));
    if (!validName(name)) return std::nullopt;
    for (std::size_t i = 1; i < segments.size(); ++i) {
        std::string_view seg = trim(segments[i]);
        if (i + 1 == segments.size()) {
            out.push_back({name, std::string(seg)});
            break;
        }
        const std::size_t start = nameStart(seg);
        if (start == std::string_view::npos) return std::nullopt;
        out.push_back({name, std::string(trim(seg.substr(0, start)))});
        name = std::string(seg.substr(start));
        if (!validName(name)) return std::nullopt;
    }
    return out;
}

std::optional<Request> RequestReader::feed(std::string_view raw) {
    const std::string_view line = trim(raw);
    if (block_) {
        if (line.empty()) {
            std::optional<Request> done = std::move(block_);
            block_.reset();
            return done;
        }
        if (++blockLines_ > maxBlockLines) {
            block_->malformed = true;
            return std::nullopt;
        }
        const std::size_t sep = line.find(": ");
        const bool bare = sep == std::string_view::npos && line.back() == ':';
        if (sep == std::string_view::npos && !bare) {
            block_->malformed = true;
            return std::nullopt;
        }
        const std::string_view name = trim(line.substr(0, bare ? line.size() - 1 : sep));
        if (!validName(name)) {
            block_->malformed = true;
            return std::nullopt;
        }
        block_->params.push_back({std::string(name), bare ? std::string() : std::string(trim(line.substr(sep + 2)))});
        return std::nullopt;
    }
    if (line.empty()) return std::nullopt;
    Request r;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        r.name = std::string(line);
        return r;
    }
    r.name = std::string(trim(line.substr(0, colon)));
    const std::string_view rest = trim(line.substr(colon + 1));
    if (rest.empty()) {
        block_ = std::move(r);
        blockLines_ = 0;
        return std::nullopt;
    }
    if (std::optional<Params> params = splitParams(rest)) r.params = std::move(*params);
    else r.malformed = true;
    return r;
}

std::string simple(int code, std::string_view text) {
    std::string out = std::to_string(code);
    out += ' ';
    out += text;
    out += "\r\n";
    return out;
}

std::string block(int code, std::string_view text, const Params& params) {
    std::string out = std::to_string(code);
    out += ' ';
    out += text;
    out += ":\r\n";
    for (const Param& p : params) {
        out += p.name;
        out += ": ";
        out += p.value;
        out += "\r\n";
    }
    out += "\r\n";
    return out;
}

std::string greeting() { return block(500, "connection info", {{"protocol version", kProtocolVersion}, {"model", kModel}}); }

std::string transportStatus(int code) {
    switch (code) {
        case status::kPlay: return "play";
        case status::kForward: return "forward";
        case status::kRewind: return "rewind";
        case status::kJogForward:
        case status::kJogReverse: return "jog";
        default: return "stopped";  // a still frame, the stop and the open tray
    }
}

Params transportFields(const DeckState& s) {
    const std::string none = "none";
    const bool known = s.answering;
    const std::string tc = known && !s.timecode.empty() ? s.timecode : none;
    return {
        {"status", known ? transportStatus(s.status) : none},
        {"speed", known && s.speed ? std::to_string(*s.speed) : none},
        {"slot id", known ? "1" : none},
        {"clip id", known && s.title > 0 ? std::to_string(s.title) : none},
        {"single clip", s.singleClip ? "true" : "false"},
        {"display timecode", tc},
        {"timecode", tc},
        {"video format", none},
        {"loop", s.loop ? "true" : "false"},
        {"player", known ? "answering" : "not answering"},
    };
}

Params slotFields(const DeckState& s) {
    return {
        {"slot id", "1"},
        {"status", s.answering ? "mounted" : "error"},
        {"volume name", "none"},
        {"recording time", "0"},
        {"video format", "none"},
        {"player", s.answering ? "answering" : "not answering"},
    };
}

Params changedFields(const Params& before, const Params& after, std::initializer_list<std::string_view> skip) {
    Params out;
    for (std::size_t i = 0; i < after.size(); ++i) {
        bool skipped = false;
        for (std::string_view n : skip) skipped = skipped || after[i].name == n;
        if (skipped) continue;
        if (i >= before.size() || before[i] != after[i]) out.push_back(after[i]);
    }
    return out;
}

std::optional<int> jogFrames(std::string_view text) {
    text = trim(text);
    int sign = 1;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        sign = text.front() == '-' ? -1 : 1;
        text.remove_prefix(1);
    }
    const std::optional<int> frames = strictTimecode(text);
    if (!frames) return std::nullopt;
    return sign * *frames;
}

std::optional<int> strictTimecode(std::string_view text) {
    if (text.size() != 11 || text[2] != ':' || text[5] != ':' || text[8] != ':') return std::nullopt;
    const auto two = [&](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
    const std::optional<int> frames = timecode::TCFrames(text);  // checks the digits
    if (!frames || two(3) >= 60 || two(6) >= 60 || two(9) >= timecode::kFramesPerSecond) return std::nullopt;
    return frames;
}

std::optional<bool> parseBool(std::string_view text) {
    if (text == "true") return true;
    if (text == "false") return false;
    return std::nullopt;
}

}  // namespace morvia::hyperdeck
