// The logger's edit decision list (EDL) file: a title line, a remark line, a
// frame-count-mode line and one fixed-column event line per clip, every line
// ending in CR LF.
//
// Event line (81 characters with eleven-character timecodes):
//   0-2 edit number (001..100), 3-4 blanks, 5-11 reel (first six characters
//   of the clip name in ISO 8859-1, "S" when empty, blank padded to seven), 12-14 blanks,
//   15-30 "AA/V  C         ", 31-41 source in, 42-43 blanks, 44-54 source
//   out, 55-80 record in and out ("  00:00:00:00  00:00:00:00").
//
// Thread-safety: the functions touch only their arguments (and the console
// and the named file); they may run on any thread.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "startup/TextFiles.h"

namespace morvia {

inline constexpr int EdlEntryCount = 100;
// The empty timecode; also where a saved list ends.
inline constexpr std::string_view EmptyTC = "00:00:00:00";

// The logger's 100 entries, indexed by entry number 0..99.
struct EdlEntries {
    std::array<std::string, EdlEntryCount> EdNumArray;
    std::array<std::string, EdlEntryCount> ClipNameArray;
    std::array<std::string, EdlEntryCount> SrcInArray;
    std::array<std::string, EdlEntryCount> SrcOutArray;

    // Entry i: edit number i + 1, clip name "Clip Name <i+1>", empty times.
    static EdlEntries initial();
};

// One event read from a file: the entry it goes to and its three fields.
struct EdlEvent {
    int entry = 0;
    std::string clip;
    std::string in;
    std::string out;
};

namespace edl {

// The reel field: seven characters.
std::string reelName(std::string_view clip);
// The event line of entry `entry` (0-based), CR LF included.
std::string eventLine(int entry, std::string_view clip, std::string_view in, std::string_view out,
                      std::string_view fcm = ":");
// The three header lines, CR LF included.
std::string headerLines(std::string_view fileName, std::string_view appName, std::string_view fcm = ":");
// How many entries a save writes: entry 0 always, then up to (not including)
// the first later entry whose source in is EmptyTC; at most 100.
int eventCount(const EdlEntries& entries);
// The whole file.
std::string format(std::string_view fileName, std::string_view appName, const EdlEntries& entries,
                   std::string_view fcm = ":");

// The line helpers, under the names the EDL code has always used.
using text::LineSplitter;
using text::printable;

// How much of a file LoadEDL reads once every entry is filled.
inline constexpr std::size_t maxBytesAfterFull = std::size_t{1} << 20;
inline constexpr long maxLinesAfterFull = 10000;

// Interprets the lines of a file after its first byte 'T': three header
// lines (the first printed with its 'T'), then one entry per line. Lines of
// more than 60 characters fill entry i with positions 5-12 (clip name),
// 31-41 (source in) and 44-54 (source out); every line consumes an entry
// number. Lines beyond entry 99 are not loaded; finish() reports how many of
// them were events. The file's bytes are ISO 8859-1: clip names come out as
// UTF-8, and console lines (to `out`) as UTF-8 with control characters
// shown as '?'.
class EdlParser {
public:
    explicit EdlParser(std::function<void(std::string_view)> out) : out_(std::move(out)) {}
    void line(std::string_view kept, std::size_t fullLength);
    // Reports what was left out; `restUnread`: the reader stopped early.
    void finish(bool restUnread = false);
    // Every entry has been given a line.
    bool entriesFull() const { return entry_ >= EdlEntryCount; }
    // Lines seen since then.
    long linesAfterFull() const { return linesAfterFull_; }
    const std::vector<EdlEvent>& events() const { return events_; }
    std::vector<EdlEvent> takeEvents() { return std::move(events_); }
    int leftOut() const { return leftOut_; }

private:
    std::function<void(std::string_view)> out_;
    int header_ = 0;
    int entry_ = 0;
    int leftOut_ = 0;
    long linesAfterFull_ = 0;
    std::vector<EdlEvent> events_;
};

}  // namespace edl

// Writes the list to `fileName`, reporting failures as console lines:
// "FileStreamError: ..." (cannot create, or not a regular file),
// "FileIOError: ... 1" (write), "FileIOError: ... 2" (close). Symbolic links
// are followed (a dangling one creates its target) and stay links. A regular
// file with one name, or a new name, in a folder we can write: the text goes
// to a temporary file in the same folder, is flushed to disk and renamed over
// the target, keeping the old file's permissions, owner and group where
// permitted, so a failed save leaves the old file as it was. A file with
// several hard links, or in a folder we cannot write: written in place
// (space reserved first, then written, truncated and flushed), so the links
// and the file stay one. Anything else (a FIFO, a device) is refused
// ("FileStreamError: <path>: not a regular file") and not touched. Returns
// true on success.
bool SaveEDL(const std::string& fileName, std::string_view appName, const EdlEntries& entries);

// The same safe save for any text (the exports for editing software): same
// console lines, same temporary file and rename.
bool SaveText(const std::string& fileName, const std::string& text);

// Reads `fileName`, printing the first byte's signed value, "Reading EDL",
// the header lines and each event line. Returns the events read, also those
// read before a failure. Failures print "FileStreamError: ..." (cannot open),
// "FileIOError: ... 1" (read, empty file) or "FileIOError: ... 2" (close).
// Only regular files are read. Once all 100 entries have their lines, at
// most maxBytesAfterFull bytes or maxLinesAfterFull lines more are read; a
// file longer than that prints "EDL holds more than 100 events, the rest was
// not read".
std::vector<EdlEvent> LoadEDL(const std::string& fileName);

}  // namespace morvia
