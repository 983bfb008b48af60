// The script runner: executes the lines of "Script.txt" one after another
// through the command language.
#pragma once

#include <cstddef>
#include <string>

#include "remote/CommandLanguage.h"

namespace morvia {

class LocalVCR;

// The longest script line run, in characters (line end not counted).
inline constexpr std::size_t maxScriptLine = 4096;

// Runs "Script.txt" from the process's current directory, read afresh at
// every call. Lines end at LF, CR or CR LF. The run ends at the end of the
// file, at a line "Quit", at a line shorter than four characters (an empty
// line included), after a line the command language does not understand
// ("Script Error"), or at a line longer than maxScriptLine (its first 80
// characters are printed, then "Script Error"). Comment lines (';') are
// printed and skipped; every other line is printed, then executed. Printed
// lines show control characters as '?'. The console shows " ", "**********",
// "Found Script.txt File" before the first line and "Script ended",
// "**********", " " after the last, however the run ended. An operator stop
// request (LocalVCR::requestStop) ends the run after the line under way and
// cuts a sleeping "Wait" short at once.
//
// Only a regular file is read (never a FIFO or a device, which could block
// the caller for ever or never end). Without a run, one line and a one-second
// wait: "No script file found!" when there is no such name, "Script.txt is
// not a regular file", or "Unable to read Script.txt: <reason>".
//
// Throws a LineArgumentError (remote/CommandLanguage.h) when a line's
// argument cannot be read: NumberFormatError for a numeric argument that is
// not a decimal whole number (a bare "Wait"), TimecodeFormatError for a "TC1"
// or "TC2" point that is not a timecode. The run has then ended with its
// closing lines, no further line ran, and line() names the failing line. Any
// other exception of a controller operation ends the run the same way and
// passes on unchanged. Blocks the calling thread for the whole run.
void script(LocalVCR& vcr);

}  // namespace morvia
