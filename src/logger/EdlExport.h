// The logger's clips in the layouts that editing software imports: a CMX 3600
// edit decision list, an Avid Log Exchange (ALE) file and a comma-separated
// batch list. Pure: events in, text out.
//
// Every format gets the same clips: an event whose timecodes do not parse, or
// whose out is not after its in, is left out with a warning. In drop-frame
// counting a skipped frame number (00:01:00;00) stands for the frame after
// the gap (00:01:00;02), with a warning. Control characters, tabs included,
// become blanks, so no value can add an ALE column. Source out is
// exclusive (duration = out - in) in all three layouts, so the ALE "End" and
// the CSV "Out" are the logger's source out as it stands.
//
// Names are stored as the logger has them: UTF-8 when they are valid UTF-8,
// otherwise ISO 8859-1. The output is UTF-8.
//
// Thread-safety: the functions touch only their arguments.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logger/Edl.h"

namespace morvia::edlexport {

enum class Format { Cmx3600, Ale, Csv };

enum class Rate { Fps30, Fps2997 };

struct Options {
    Format format = Format::Cmx3600;
    Rate rate = Rate::Fps30;
    // Drop-frame counting and ";" before the frames (SMPTE, at 29.97).
    bool dropFrame = false;
    // TITLE line of a CMX 3600 list.
    std::string title;
};

struct Result {
    std::string text;
    // One line per event left out, without a trailing newline.
    std::vector<std::string> warnings;
};

// "cmx3600", "ale", "csv".
std::optional<Format> parseFormat(std::string_view name);
// ".edl", ".ale", ".csv".
std::string_view suffix(Format format);
// "CMX 3600 EDL", "Avid Log Exchange", "CSV batch list": for menus and titles.
std::string_view displayName(Format format);

// The events a "Save EDL" of these entries writes, in the same order.
std::vector<EdlEvent> listedEvents(const EdlEntries& entries);

// The text in the chosen layout; lines end in CR LF.
Result exportEvents(const std::vector<EdlEvent>& events, const Options& options);

// Helpers the layouts share (exposed for the tests).

// The clip name reduced to ASCII letters, digits and "_", cut to 8; "AX"
// when nothing is left.
std::string tapeName(std::string_view clip);
// The clip name as UTF-8, control characters as blanks, outer blanks removed.
std::string cleanName(std::string_view clip);
// A frame count as HH:MM:SS:FF at 30 frames per second, or in SMPTE
// drop-frame counting as HH:MM:SS;FF (the inverse of the logger's
// drop-frame field count, halved). Hours of 100 or more are written in full.
std::string timecodeText(long frames, bool dropFrame);
// A CSV field, quoted when it holds a comma, a quote or a line break (and
// then with quotes doubled).
std::string csvField(std::string_view s);

}  // namespace morvia::edlexport
