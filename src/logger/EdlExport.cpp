#include "logger/EdlExport.h"

#include <cstdio>
#include <tuple>

#include "logger/FieldConversions.h"

namespace morvia::edlexport {
namespace {

constexpr std::string_view CRLF = "\r\n";
constexpr int FramesPerSecond = 30;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// True when `s` is well-formed UTF-8 (no overlong forms, no surrogates).
bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        unsigned min = 0;
        unsigned cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size()) return false;
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// A source timecode read as a frame count.
struct Frames {
    long frames = 0;
    // Drop-frame only: the text named a frame number that the counting
    // skips; `frames` is the frame that follows.
    bool skipped = false;
};

// The frame count of an eleven-character timecode HH:MM:SS:FF (":" or ";"
// before the frames, as the logger accepts either), counted with the
// logger's conversion, or nothing when the text is not a timecode with
// minutes and seconds below 60 and frames below 30.
//
// The logger's drop-frame count puts a skipped frame number (HH:MM:00;00 or
// ;01 of a minute not divisible by ten) on the frame two before it, where
// another timecode already stands; an export takes the frame that follows
// the gap instead (HH:MM:00;02), as a tape counter would.
std::optional<Frames> frameCount(std::string tc, bool dropFrame) {
    if (tc.size() != 11) return std::nullopt;
    for (const std::size_t p : {0u, 1u, 3u, 4u, 6u, 7u, 9u, 10u})
        if (!isDigit(tc[p])) return std::nullopt;
    for (const std::size_t p : {2u, 5u, 8u})
        if (tc[p] != ':' && tc[p] != ';') return std::nullopt;
    auto pair = [&tc](std::size_t p) { return (tc[p] - '0') * 10 + (tc[p + 1] - '0'); };
    if (pair(3) > 59 || pair(6) > 59 || pair(9) >= FramesPerSecond) return std::nullopt;
    Frames f;
    if (dropFrame && pair(6) == 0 && pair(9) < 2 && pair(3) % 10 != 0) {
        tc.replace(9, 2, "02");
        f.skipped = true;
    }
    FieldConversions conv;
    f.frames = (dropFrame ? conv.CalcDRFCount(tc) : conv.TC2FieldsNDF(tc)) / FieldConversions::fpfr;
    return f;
}

std::string two(long v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02ld", v);
    return buf;
}

// One accepted clip: its edit number in the logger, names and frames.
struct Clip {
    int edit = 0;
    std::string name;
    std::string tape;
    long in = 0;
    long out = 0;
};

std::vector<Clip> acceptedClips(const std::vector<EdlEvent>& events, bool dropFrame,
                                std::vector<std::string>& warnings) {
    std::vector<Clip> clips;
    for (const EdlEvent& e : events) {
        const int edit = e.entry + 1;
        char num[16];
        std::snprintf(num, sizeof num, "%03d", edit);
        const std::string name = cleanName(e.clip);
        const std::string what = std::string("event ") + num + " (\"" + name + "\") left out: ";
        const auto in = frameCount(e.in, dropFrame);
        const auto out = frameCount(e.out, dropFrame);
        if (!in || !out) {
            warnings.push_back(what + "source " + (!in ? "in \"" + cleanName(e.in) : "out \"" + cleanName(e.out)) +
                               "\" is not a timecode");
            continue;
        }
        if (out->frames <= in->frames) {
            warnings.push_back(what + "source out " + cleanName(e.out) + " is not after source in " + cleanName(e.in));
            continue;
        }
        for (const auto& [side, text, f] : {std::tuple{"in", &e.in, *in}, std::tuple{"out", &e.out, *out}}) {
            if (f.skipped)
                warnings.push_back(std::string("event ") + num + ": source " + side + " " + *text +
                                   " names a frame number that drop-frame counting skips; written as " +
                                   timecodeText(f.frames, true));
        }
        clips.push_back(Clip{edit, name, tapeName(e.clip), in->frames, out->frames});
    }
    return clips;
}

void cmx3600(const std::vector<Clip>& clips, const Options& o, std::string& text) {
    // Only the header lines that every reader knows: TITLE and FCM.
    text += "TITLE: " + cleanName(o.title);
    text += CRLF;
    text += o.dropFrame ? "FCM: DROP FRAME" : "FCM: NON-DROP FRAME";
    text += CRLF;
    // Record times laid end to end from one hour, each as long as its source:
    // no overlaps, and record duration equals source duration.
    long record = frameCount("01:00:00:00", o.dropFrame)->frames;
    int number = 0;
    for (const Clip& c : clips) {
        const long recordOut = record + (c.out - c.in);
        char line[160];
        // Fixed columns with single blanks between the timecodes: event 3,
        // reel 8, channels 4, transition 4 and its operand 3.
        std::snprintf(line, sizeof line, "%03d  %-8s AA/V  C        %s %s %s %s", ++number, c.tape.c_str(),
                      timecodeText(c.in, o.dropFrame).c_str(), timecodeText(c.out, o.dropFrame).c_str(),
                      timecodeText(record, o.dropFrame).c_str(), timecodeText(recordOut, o.dropFrame).c_str());
        text += line;
        text += CRLF;
        if (!c.name.empty()) {
            text += "* FROM CLIP NAME: " + c.name;
            text += CRLF;
        }
        record = recordOut;
    }
}

void ale(const std::vector<Clip>& clips, const Options& o, std::string& text) {
    auto line = [&text](std::initializer_list<std::string_view> cells) {
        bool first = true;
        for (const auto cell : cells) {
            if (!first) text += '\t';
            text += cell;
            first = false;
        }
        text += CRLF;
    };
    line({"Heading"});
    line({"FIELD_DELIM", "TABS"});
    line({"VIDEO_FORMAT", "NTSC"});
    line({"AUDIO_FORMAT", "48khz"});
    line({"FPS", o.rate == Rate::Fps2997 ? "29.97" : "30"});
    text += CRLF;
    line({"Column"});
    line({"Name", "Tape", "Start", "End", "Tracks"});
    text += CRLF;
    line({"Data"});
    for (const Clip& c : clips)
        line({c.name, c.tape, timecodeText(c.in, o.dropFrame), timecodeText(c.out, o.dropFrame), "VA1A2"});
}

}  // namespace

std::string csvField(std::string_view s) {
    if (s.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(s);
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

namespace {

void csv(const std::vector<Clip>& clips, const Options& o, std::string& text) {
    text += "Tape Name,In,Out,Clip Name,Comment";
    text += CRLF;
    for (const Clip& c : clips) {
        text += csvField(c.tape) + "," + timecodeText(c.in, o.dropFrame) + "," + timecodeText(c.out, o.dropFrame) +
                "," + csvField(c.name) + ",";
        text += CRLF;
    }
}

}  // namespace

namespace {

struct FormatInfo {
    Format format;
    std::string_view name, suffix, display;
};

constexpr FormatInfo Formats[] = {
    {Format::Cmx3600, "cmx3600", ".edl", "CMX 3600 EDL"},
    {Format::Ale, "ale", ".ale", "Avid Log Exchange"},
    {Format::Csv, "csv", ".csv", "CSV batch list"},
};

const FormatInfo& info(Format f) {
    for (const auto& i : Formats)
        if (i.format == f) return i;
    return Formats[0];
}

}  // namespace

std::optional<Format> parseFormat(std::string_view name) {
    for (const auto& i : Formats)
        if (i.name == name) return i.format;
    return std::nullopt;
}

std::string_view suffix(Format format) { return info(format).suffix; }

std::string_view displayName(Format format) { return info(format).display; }

std::vector<EdlEvent> listedEvents(const EdlEntries& entries) {
    std::vector<EdlEvent> events;
    const int n = edl::eventCount(entries);
    for (int i = 0; i < n; ++i)
        events.push_back(EdlEvent{i, entries.ClipNameArray[i], entries.SrcInArray[i], entries.SrcOutArray[i]});
    return events;
}

Result exportEvents(const std::vector<EdlEvent>& events, const Options& options) {
    Result r;
    const std::vector<Clip> clips = acceptedClips(events, options.dropFrame, r.warnings);
    switch (options.format) {
        case Format::Cmx3600: cmx3600(clips, options, r.text); break;
        case Format::Ale: ale(clips, options, r.text); break;
        case Format::Csv: csv(clips, options, r.text); break;
    }
    return r;
}

std::string tapeName(std::string_view clip) {
    std::string tape;
    for (const char c : clip) {
        const bool keep = isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (keep && tape.size() < 8) tape.push_back(c);
    }
    return tape.empty() ? std::string("AX") : tape;
}

std::string cleanName(std::string_view clip) {
    std::string s = validUtf8(clip) ? std::string(clip) : latin1ToUtf8(clip);
    for (char& c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = ' ';
    }
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string timecodeText(long frames, bool dropFrame) {
    if (dropFrame) {
        // Put back the frame numbers that drop-frame counting skips: two per
        // minute, except in every tenth minute (17982 frames per ten minutes,
        // 1798 in a minute after the first of the ten).
        const long tens = frames / 17982;
        const long rest = frames % 17982;
        frames += 18 * tens + (rest < 2 ? 0 : 2 * ((rest - 2) / 1798));
    }
    const long ff = frames % FramesPerSecond;
    const long totalSeconds = frames / FramesPerSecond;
    return two(totalSeconds / 3600) + ":" + two(totalSeconds / 60 % 60) + ":" + two(totalSeconds % 60) +
           (dropFrame ? ";" : ":") + two(ff);
}

}  // namespace morvia::edlexport
