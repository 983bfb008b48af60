// The text command language shared by scripts and network clients: one line
// names one controller operation. The language keeps no state of its own.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "startup/Decimal.h"  // ParseDecimal reads the numbers of a line

namespace morvia {

class LocalVCR;
class ClientSeam;

// A command line whose argument cannot be read: the line performs no action.
// Carries the argument text and the whole command line that failed.
class LineArgumentError : public std::runtime_error {
public:
    LineArgumentError(const std::string& what, std::string argument, std::string line);
    // The argument text that could not be read.
    const std::string& argument() const noexcept { return argument_; }
    // The command line it came from, without its line end.
    const std::string& line() const noexcept { return line_; }
    // What was wrong, for a status message: "bad number", "bad timecode".
    virtual std::string problem() const = 0;

private:
    std::string argument_;
    std::string line_;
};

// The numeric argument of "TNum", "CNum", "RNum" or "Wait" is not a decimal
// whole number (optional minus sign, one or more digits, nothing else, within
// 32 bits).
class NumberFormatError : public LineArgumentError {
public:
    NumberFormatError(std::string argument, std::string line);
    std::string problem() const override { return "bad number"; }
};

// The argument of "TC1" or "TC2" is not a timecode (hh:mm:ss:ff digits).
class TimecodeFormatError : public LineArgumentError {
public:
    TimecodeFormatError(std::string argument, std::string line);
    std::string problem() const override { return "bad timecode"; }
};

// Performs the command on one line (without its line end) through the
// controller and reports whether the line was understood:
// - a line starting with ';' is a comment: true, nothing happens;
// - whole-word commands ("Play", "Pause", ..., "Repeat") must equal the line;
//   the queries "GetTC", "GetTi", "GetCh" and "Status" print their value and
//   send it to the client attached to the controller, if any;
// - "TNum"n / "CNum"n go to title / chapter n when it is 1..99 (otherwise
//   nothing; still true), "RNum"n sets the repeat count, "Wait"n sleeps n s;
// - "TC1"t / "TC2"t write t into the in / out field and re-validate the points;
//   a t that is not a timecode throws TimecodeFormatError and leaves the
//   fields and points as they were.
// A line shorter than four characters that is not a comment is refused
// (false) without being examined further. "Wait" with a negative number, or
// one whose milliseconds do not fit 32 bits, is refused (false) and nothing
// sleeps.
//
// Throws NumberFormatError when a numeric argument is not a decimal whole
// number, TimecodeFormatError for a point that is not a timecode; the line
// then performs no action. Exceptions of the controller's
// own operations (e.g. a timecode field that is not a timecode) pass through.
// Runs on the caller's thread and blocks it for the command's waits.
bool ParseNetCommand(LocalVCR& vcr, const std::string& line);
// As above for a caller that began at stop generation `since` (a script run):
// an operator stop request after it ends a "Repeat" after its current pass
// and cuts a "Wait" short at once (LocalVCR::requestStop).
bool ParseNetCommand(LocalVCR& vcr, const std::string& line, unsigned since);
// As above for a network client: the answers of the query commands go to
// `answerTo` (the client whose line this is) instead of the attached client,
// and an operator stop ends a "Review" or "Repeat" pass where it is
// (LocalVCR::PassStop::atOnce), since the Stop's own command does not wait
// behind it.
bool ParseNetCommand(LocalVCR& vcr, const std::string& line, unsigned since, ClientSeam& answerTo);

}  // namespace morvia
