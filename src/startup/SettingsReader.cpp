#include "startup/SettingsReader.h"

#include "startup/TextFiles.h"

namespace morvia {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

using text::appendUtf8;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads \uXXXX at text[i] (i indexes the 'u'); the code unit, or -1 when the
// four digits are not there.
long unicodeEscape(std::string_view text, std::size_t i) {
    if (i + 4 >= text.size()) return -1;
    long v = 0;
    for (std::size_t k = 1; k <= 4; ++k) {
        int h = hexValue(text[i + k]);
        if (h < 0) return -1;
        v = v * 16 + h;
    }
    return v;
}

// Turns the escapes of a key or value into characters; bytes are Latin-1.
std::string convert(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        char c = in[i++];
        if (c != '\\') {
            appendUtf8(out, static_cast<unsigned char>(c));
            continue;
        }
        if (i >= in.size()) break;  // a lone trailing backslash stands for nothing
        c = in[i];
        if (c == 'u') {
            long unit = unicodeEscape(in, i);
            if (unit < 0) {
                out.push_back('u');
                ++i;
                continue;
            }
            i += 5;
            char32_t cp = static_cast<char32_t>(unit);
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                // A high surrogate pairs with a directly following \u low surrogate.
                long low = (i + 1 < in.size() && in[i] == '\\' && in[i + 1] == 'u') ? unicodeEscape(in, i + 1) : -1;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                         (static_cast<char32_t>(low) - 0xDC00);
                    i += 6;
                } else {
                    cp = 0xFFFD;
                }
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                cp = 0xFFFD;
            }
            appendUtf8(out, cp);
            continue;
        }
        ++i;
        switch (c) {
            case 't': out.push_back('\t'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            default: appendUtf8(out, static_cast<unsigned char>(c)); break;
        }
    }
    return out;
}

// Splits one logical line into key and value and stores them.
void storeLine(std::string_view line, SettingsReader::Table& table) {
    std::size_t keyLen = 0;
    std::size_t valueStart = line.size();
    bool hasSep = false;
    bool backslash = false;
    while (keyLen < line.size()) {
        char c = line[keyLen];
        if ((c == '=' || c == ':') && !backslash) {
            valueStart = keyLen + 1;
            hasSep = true;
            break;
        }
        if (isBlank(c) && !backslash) {
            valueStart = keyLen + 1;
            break;
        }
        backslash = (c == '\\') ? !backslash : false;
        ++keyLen;
    }
    while (valueStart < line.size()) {
        char c = line[valueStart];
        if (!isBlank(c)) {
            if (!hasSep && (c == '=' || c == ':')) hasSep = true;
            else break;
        }
        ++valueStart;
    }
    table[convert(line.substr(0, keyLen))] = convert(line.substr(valueStart));
}

}  // namespace

SettingsReader::Table SettingsReader::parse(std::string_view s) {
    Table table;
    std::string line;         // the logical line, continuation backslashes removed
    bool continuing = false;  // the previous physical line ended in a continuation
    // Each physical line: leading blanks go; outside a continuation a blank
    // line or a comment is skipped; a line ending in an odd number of
    // backslashes goes on in the next one.
    const auto physical = [&](std::string_view p, std::size_t) {
        std::size_t i = 0;
        while (i < p.size() && isBlank(p[i])) ++i;
        const std::string_view rest = p.substr(i);
        if (!continuing && (rest.empty() || rest[0] == '#' || rest[0] == '!')) return;
        line += rest;
        std::size_t backslashes = 0;
        while (backslashes < rest.size() && rest[rest.size() - 1 - backslashes] == '\\') ++backslashes;
        continuing = backslashes % 2 == 1;
        if (continuing) {
            line.pop_back();
            return;
        }
        if (!line.empty()) storeLine(line, table);
        line.clear();
    };
    text::LineSplitter splitter(std::string::npos);
    splitter.feed(s.data(), s.size(), physical);
    bool unended = false;  // the input's last line has no line end
    splitter.finish([&](std::string_view p, std::size_t n) {
        unended = true;
        physical(p, n);
    });
    // The input ended inside a continuation: what was gathered is a line (a
    // lone backslash at the very end too).
    if (continuing && (unended || !line.empty())) storeLine(line, table);
    return table;
}

std::size_t SettingsReader::utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

std::string SettingsReader::utf8Prefix(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count) return std::string(text.substr(0, i));
            ++seen;
        }
    }
    return std::string(text);
}

}  // namespace morvia
