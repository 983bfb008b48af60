#include "sessionlog/SessionEvent.h"

#include <cstdio>
#include <ctime>

namespace morvia::sessionlog {
namespace {

std::tm utcParts(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm parts{};
    ::gmtime_r(&secs, &parts);
    return parts;
}

// Milliseconds into the second, also for times before 1970.
int millisOf(std::chrono::system_clock::time_point t) {
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    return static_cast<int>(ms < 0 ? ms + 1000 : ms);
}

void member(std::string& out, std::string_view key, std::string_view jsonValue) {
    out += ',';
    out += jsonString(key);
    out += ':';
    out += jsonValue;
}

// A reader of one JSON value at a time over the line; every read returns
// false on malformed input.
class Reader {
public:
    explicit Reader(std::string_view s) : s_(s) {}

    void space() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\r' || s_[at_] == '\n')) ++at_;
    }
    bool eat(char c) {
        space();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool atEnd() {
        space();
        return at_ == s_.size();
    }
    char peek() {
        space();
        return at_ < s_.size() ? s_[at_] : '\0';
    }

    bool string(std::string& out) {
        if (!eat('"')) return false;
        while (at_ < s_.size()) {
            const char c = s_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= s_.size()) return false;
            const char e = s_[at_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned cp = 0;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        unsigned low = 0;
                        if (!(eat('\\') && at_ < s_.size() && s_[at_++] == 'u' && hex4(low)) || low < 0xDC00 ||
                            low > 0xDFFF)
                            return false;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    utf8(cp, out);
                    break;
                }
                default: return false;
            }
        }
        return false;
    }

    // Any value; `raw` gets its JSON text (a string's decoded text when
    // `decode` and it is a string).
    bool value(std::string& raw, bool decode) {
        const char c = peek();
        const std::size_t from = at_;
        if (c == '"') {
            std::string text;
            if (!string(text)) return false;
            raw = decode ? text : std::string(s_.substr(from, at_ - from));
            return true;
        }
        if (c == '{' || c == '[') {
            ++at_;
            const char close = c == '{' ? '}' : ']';
            if (!eat(close)) {
                do {
                    std::string ignored;
                    if (c == '{' && !(string(ignored) && eat(':'))) return false;
                    if (!value(ignored, false)) return false;
                } while (eat(','));
                if (!eat(close)) return false;
            }
        } else if (!literal("true") && !literal("false") && !literal("null") && !number()) {
            return false;
        }
        raw = std::string(s_.substr(from, at_ - from));
        return true;
    }

private:
    bool hex4(unsigned& v) {
        if (at_ + 4 > s_.size()) return false;
        for (int i = 0; i < 4; ++i) {
            const char h = s_[at_++];
            v <<= 4;
            if (h >= '0' && h <= '9') v |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f') v |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') v |= static_cast<unsigned>(h - 'A' + 10);
            else return false;
        }
        return true;
    }
    static void utf8(unsigned cp, std::string& out) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool literal(std::string_view word) {
        if (s_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    bool digits() {
        const std::size_t from = at_;
        while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
        return at_ > from;
    }
    bool number() {
        if (at_ < s_.size() && s_[at_] == '-') ++at_;
        if (!digits()) return false;
        if (at_ < s_.size() && s_[at_] == '.') {
            ++at_;
            if (!digits()) return false;
        }
        if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
            ++at_;
            if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
            if (!digits()) return false;
        }
        return true;
    }

    std::string_view s_;
    std::size_t at_ = 0;
};

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string utcText(std::chrono::system_clock::time_point t) {
    const std::tm p = utcParts(t);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.tm_year + 1900, p.tm_mon + 1, p.tm_mday,
                  p.tm_hour, p.tm_min, p.tm_sec, millisOf(t));
    return buf;
}

std::string logFileName(std::chrono::system_clock::time_point t, int n) {
    const std::tm p = utcParts(t);
    char buf[96];
    std::snprintf(buf, sizeof buf, "morvia-%04d%02d%02dT%02d%02d%02dZ", p.tm_year + 1900, p.tm_mon + 1, p.tm_mday,
                  p.tm_hour, p.tm_min, p.tm_sec);
    std::string name = buf;
    if (n > 1) name += "-" + std::to_string(n);
    return name + ".jsonl";
}

std::string formatLine(const Event& e) {
    std::string out = "{\"utc\":" + jsonString(utcText(e.utc));
    member(out, "mono_ms", std::to_string(e.monoMs));
    member(out, "event", jsonString(e.event));
    const auto text = [&out](std::string_view key, const std::string& v) {
        if (!v.empty()) member(out, key, jsonString(v));
    };
    text("source", e.source);
    text("peer", e.peer);
    text("command", e.command);
    text("wire", e.wire);
    text("tc", e.tc);
    if (e.title > 0) member(out, "title", std::to_string(e.title));
    if (e.chapter > 0) member(out, "chapter", std::to_string(e.chapter));
    text("outcome", e.outcome);
    for (const Event::Field& f : e.extra)
        member(out, f.key, f.kind == Event::Field::Kind::text ? jsonString(f.value) : f.value);
    out += '}';
    return out;
}

std::optional<Members> parseObject(std::string_view line) {
    Reader r(line);
    Members out;
    if (!r.eat('{')) return std::nullopt;
    if (!r.eat('}')) {
        do {
            std::string key, value;
            if (!r.string(key) || !r.eat(':') || !r.value(value, true)) return std::nullopt;
            out.emplace_back(std::move(key), std::move(value));
        } while (r.eat(','));
        if (!r.eat('}')) return std::nullopt;
    }
    if (!r.atEnd()) return std::nullopt;
    return out;
}

}  // namespace morvia::sessionlog
