// The script runner: executes the lines of "Script.txt" one after another
// through the command language.
#pragma once

#include <string>

#include "remote/CommandLanguage.h"

namespace morvia {

class LocalVCR;

// Runs "Script.txt" from the process's current directory, read afresh at
// every call. Lines end at LF, CR or CR LF. The run ends at the end of the
// file, at a line "Quit", at a line shorter than four characters (an empty
// line included), or after a line the command language does not understand
// ("Script Error"). Comment lines (';') are printed and skipped; every other
// line is printed, then executed. The console shows " ", "**********",
// "Found Script.txt File" before the first line and "Script ended",
// "**********", " " after the last, however the run ended. An operator stop
// request (LocalVCR::requestStop) ends the run after the line under way and
// cuts a sleeping "Wait" short at once. A missing file
// prints "No script file found!" and waits one second.
//
// Throws NumberFormatError (remote/CommandLanguage.h) when a line's numeric
// argument is not a decimal whole number, for instance a bare "Wait": the run
// has then ended with its closing lines, no further line ran, and
// NumberFormatError::line() names the failing line. Any other exception of a
// controller operation ends the run the same way and passes on unchanged.
// Blocks the calling thread for the whole run.
void script(LocalVCR& vcr);

} // namespace morvia
