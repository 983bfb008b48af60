// Reading the text files an operator hands us (settings, scripts, EDL
// lists): opening only regular files, reading with EINTR retried, splitting
// lines and making them safe to print.
//
// Thread-safety: a LineSplitter belongs to one thread; the functions touch
// only their arguments and the named file.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "startup/Posix.h"

namespace morvia::text {

// What openRegular found.
struct Opened {
    enum class Status { ok, missing, failed, notRegular };
    UniqueFd fd;  // the open descriptor when ok
    Status status = Status::failed;
    std::string reason;      // failed: the system's reason
    bool directory = false;  // notRegular: it is a directory
};

// Opens `path` for reading when it is a regular file (after symbolic links).
// The open does not block (a FIFO without a writer, a device) and does not
// make a terminal ours. `missing` is a name that does not exist, not even as
// a dangling symbolic link.
Opened openRegular(const std::string& path);

// Appends code point `cp` to `out` in UTF-8.
void appendUtf8(std::string& out, char32_t cp);
// ISO 8859-1 bytes as UTF-8 text.
std::string latin1ToUtf8(std::string_view bytes);
// UTF-8 text as ISO 8859-1 bytes: a character outside ISO 8859-1, and each
// byte that is not part of a valid UTF-8 sequence, becomes '?'.
std::string utf8ToLatin1(std::string_view text);

// read(2) with EINTR retried.
long readSome(int fd, char* buf, std::size_t n);

// Console form of a line read from a file: control characters become '?',
// so a binary file cannot send escape sequences to the terminal.
std::string printable(std::string_view line);

// Which bytes end a line.
enum class LineEnds {
    // Files: LF, CR and CR LF each end one line.
    text,
    // Network clients: as text, and LF CR also ends one line (so a client
    // that ends each command with LF CR sends no empty lines), and a NUL byte
    // ends a line too.
    network,
};

// Splits bytes into lines at the ends `ends` names (also across chunk
// boundaries). Keeps at most `keep` characters of a line and reports its full
// length, so a huge line costs no more than `keep` bytes. A last line without
// an ending is delivered by finish().
class LineSplitter {
public:
    using Sink = std::function<void(std::string_view kept, std::size_t fullLength)>;
    explicit LineSplitter(std::size_t keep = 4096, LineEnds ends = LineEnds::text) : keep_(keep), ends_(ends) {}
    void feed(const char* data, std::size_t n, const Sink& sink);
    void finish(const Sink& sink);
    // Full length of the line under way (not yet ended).
    std::size_t pendingLength() const { return length_; }

private:
    void flush(const Sink& sink);
    std::size_t keep_;
    LineEnds ends_;
    std::string line_;
    std::size_t length_ = 0;
    // The last byte ended a line and the other one of the pair may follow:
    // '\n' after a CR, '\r' after an LF (network ends only), 0 when none.
    char pairWith_ = 0;
};

// A LineSplitter that keeps the lines it found until they are taken, for
// readers that fill from a descriptor in chunks and hand out one line at a
// time.
class LineQueue {
public:
    explicit LineQueue(std::size_t keep = 4096, LineEnds ends = LineEnds::text) : splitter_(keep, ends) {}
    void feed(const char* data, std::size_t n);
    // The input ended: a last line without an ending becomes a line.
    void finish();
    bool empty() const { return lines_.empty(); }
    // The oldest line (kept characters) and its full length; false when
    // there is none.
    bool take(std::string& line, std::size_t& fullLength);
    std::size_t pendingLength() const { return splitter_.pendingLength(); }

private:
    void add(std::string_view kept, std::size_t fullLength);
    LineSplitter splitter_;
    std::deque<std::pair<std::string, std::size_t>> lines_;
};

}  // namespace morvia::text
