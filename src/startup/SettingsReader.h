// Reader of the settings file format: key/value lines read as ISO 8859-1
// bytes, with comments, separators, escapes and continuation lines.
//
// Keys and values come back as UTF-8 text: each byte of the file is the
// character of the same number (0x00-0xFF), and a \uXXXX escape is the
// character it names (a high/low surrogate pair of escapes is one character;
// a lone surrogate becomes U+FFFD).
//
// The format:
// - Lines end at LF, CR or CR LF. Blank lines, and lines whose first
//   non-blank character is '#' or '!', are ignored.
// - Blanks (space, tab) at the start of a line are skipped. The key runs up
//   to the first unescaped '=', ':', space or tab. Blanks after the key are
//   skipped, then one '=' or ':' if present, then blanks again; the value is
//   the rest of the line, trailing blanks included.
// - In keys and values a backslash starts an escape: \t, \n, \r, \uXXXX, and
//   a backslash before any other character stands for that character (a
//   \u not followed by four hexadecimal digits stands for 'u'). A line that
//   ends in an odd number of backslashes continues on the next line, whose
//   leading blanks are skipped; at the end of the input such a backslash is
//   dropped.
// - When a key occurs more than once, the last occurrence wins.
//
// Pure functions: any thread, any input (any bytes, any length) is accepted.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace morvia {

class SettingsReader {
public:
    using Table = std::map<std::string, std::string>;

    static Table parse(std::string_view bytes);

    // Characters (code points) of UTF-8 text.
    static std::size_t utf8Length(std::string_view text);
    // The first `count` characters of UTF-8 text (whole characters only).
    static std::string utf8Prefix(std::string_view text, std::size_t count);
};

}  // namespace morvia
