#include "remote/ScriptRunner.h"

#include <filesystem>
#include <fstream>
#include <optional>

#include "player/LocalVCR.h"
#include "startup/Utils.h"

namespace morvia {
namespace {

constexpr const char* scriptName = "Script.txt";

// Reads text lines that end at LF, CR or CR LF; the line end is not part of
// the line. A last line without a line end still counts; a read error ends
// the input like the end of the file.
class LineReader {
public:
    explicit LineReader(std::istream& in) : in_(in) {}

    std::optional<std::string> next() {
        std::string line;
        bool any = false;
        char c;
        while (in_.get(c)) {
            any = true;
            if (c == '\n') return line;
            if (c == '\r') {
                if (in_.peek() == '\n') in_.get(c);
                return line;
            }
            line.push_back(c);
        }
        if (any && !in_.bad()) return line;
        return std::nullopt;
    }

private:
    std::istream& in_;
};

void closingLines() {
    Utils::OutLine("Script ended");
    Utils::OutLine("**********");
    Utils::OutLine(" ");
}

} // namespace

void script(LocalVCR& vcr) {
    // An operator stop request from now on ends the run after the line under way.
    const unsigned since = vcr.stopGeneration();
    std::error_code ec;
    std::ifstream file;
    if (std::filesystem::exists(scriptName, ec)) file.open(scriptName, std::ios::in | std::ios::binary);
    if (!file.is_open()) {
        Utils::OutLine("No script file found!");
        Utils::DelayT(1000);
        return;
    }

    Utils::OutLine(" ");
    Utils::OutLine("**********");
    Utils::OutLine("Found Script.txt File");
    try {
        LineReader reader(file);
        while (!vcr.stopRequestedSince(since)) {
            auto line = reader.next();
            if (!line) break;
            if (*line == "Quit" || line->size() < 4) break;
            Utils::OutLine(*line);
            bool ok = (*line)[0] == ';' || ParseNetCommand(vcr, *line, since);
            if (!ok) {
                Utils::OutLine("Script Error");
                break;
            }
        }
    } catch (...) {
        closingLines();
        throw;
    }
    closingLines();
}

} // namespace morvia
