// A session log (JSON Lines) as CSV for a spreadsheet: one row per event.
// Pure, no I/O.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvia {

struct SessionLogCsv {
    std::string text;  // header and rows, lines ending in CR LF
    int rows = 0;
    // One line per line of the log left out (not one JSON object, as the
    // last line of a killed run can be), without a trailing newline.
    std::vector<std::string> warnings;
};

// The columns: utc first, then mono_ms, event, source, peer, command, wire,
// tc, title, chapter, outcome, then every other field in the order it first
// appears. A field an event lacks is an empty cell; the wire is written with
// its JSON escapes ("PL\r" as the five characters P L \ r), so that a row
// stays one line; a nested value (the settings) as its JSON text.
SessionLogCsv sessionLogToCsv(std::string_view jsonLines);

}  // namespace morvia
