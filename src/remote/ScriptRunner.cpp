#include "remote/ScriptRunner.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "player/LocalVCR.h"
#include "sessionlog/SessionLog.h"
#include "startup/TextFiles.h"
#include "startup/Utils.h"

namespace morvia {
namespace {

constexpr const char* scriptName = "Script.txt";
// Characters of a too-long line that are still printed before "Script Error".
constexpr std::size_t shownOfLongLine = 80;

// A script run in the session log: its file, the number of the last line
// read and how it went.
void scriptEvent(const char* phase, int line, const std::string& outcome) {
    if (!sessionlog::enabled()) return;
    sessionlog::Event e("script");
    e.outcome = outcome;
    e.text("phase", phase).text("file", scriptName);
    if (line > 0) e.number("line", line);
    sessionlog::record(std::move(e));
}

void closingLines() {
    Utils::OutLine("Script ended");
    Utils::OutLine("**********");
    Utils::OutLine(" ");
}

// The script's lines, read in chunks as the run needs them, so that a huge
// file costs one chunk and one line of memory at a time.
class ScriptLines {
public:
    explicit ScriptLines(UniqueFd fd) : fd_(std::move(fd)), lines_(maxScriptLine) {}

    // False with `error` set when the file cannot be read at all.
    bool prime(std::string& error) {
        if (fill()) return true;
        error = error_;
        return false;
    }

    // The next line and its full length; false at the end of the file (a read
    // error later on ends the input like the end of the file).
    bool next(std::string& line, std::size_t& fullLength) {
        while (lines_.empty() && !end_) fill();
        return lines_.take(line, fullLength);
    }

private:
    bool fill() {
        char buf[4096];
        const long n = text::readSome(fd_.get(), buf, sizeof buf);
        if (n > 0) {
            lines_.feed(buf, static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0) error_ = std::strerror(errno);
        lines_.finish();
        end_ = true;
        return n == 0;
    }

    UniqueFd fd_;
    text::LineQueue lines_;
    bool end_ = false;
    std::string error_;
};

}  // namespace

void script(LocalVCR& vcr) {
    // The commands the script sends are the script's, whoever pressed it.
    const sessionlog::Scope source("script");
    // An operator stop request from now on ends the run after the line under way.
    const unsigned since = vcr.stopGeneration();
    text::Opened opened = text::openRegular(scriptName);
    if (opened.status != text::Opened::Status::ok) {
        scriptEvent("ended", 0, opened.status == text::Opened::Status::missing ? "no script file" : "not read");
        if (opened.status == text::Opened::Status::missing) Utils::OutLine("No script file found!");
        else if (opened.status == text::Opened::Status::notRegular)
            Utils::OutLine(std::string(scriptName) + " is not a regular file");
        else Utils::OutLine("Unable to read " + std::string(scriptName) + ": " + opened.reason);
        Utils::DelayT(1000);
        return;
    }
    ScriptLines reader(std::move(opened.fd));
    std::string error;
    if (!reader.prime(error)) {
        scriptEvent("ended", 0, "not read");
        Utils::OutLine("Unable to read " + std::string(scriptName) + ": " + error);
        Utils::DelayT(1000);
        return;
    }

    Utils::OutLine(" ");
    Utils::OutLine("**********");
    Utils::OutLine("Found Script.txt File");
    scriptEvent("started", 0, "");
    int lineNo = 0;
    std::string outcome = "ended";
    try {
        std::string line;
        std::size_t length = 0;
        while (reader.next(line, length)) {
            if (vcr.stopRequestedSince(since)) {
                outcome = "stopped";
                break;
            }
            ++lineNo;
            if (length > maxScriptLine) {
                Utils::OutLine(text::printable(line.substr(0, shownOfLongLine)));
                Utils::OutLine("Script Error");
                outcome = "error";
                break;
            }
            if (line == "Quit" || line.size() < 4) break;
            Utils::OutLine(text::printable(line));
            bool ok = line[0] == ';' || ParseNetCommand(vcr, line, since);
            if (!ok) {
                Utils::OutLine("Script Error");
                outcome = "error";
                break;
            }
        }
    } catch (...) {
        scriptEvent("ended", lineNo, "error");
        closingLines();
        throw;
    }
    scriptEvent("ended", lineNo, outcome);
    closingLines();
}

}  // namespace morvia
