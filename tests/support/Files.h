// Files in tests: the whole text of a file, text split into lines, waiting
// for a text that a child program or a thread writes to a file, and the
// commands in a simulator's log.
#pragma once

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/Eventually.h"

namespace morvia::test {

// The whole file; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    return std::move(text).str();
}

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

inline std::vector<std::string> fileLines(const std::string& path) { return splitLines(readFile(path)); }

// True once the file holds `text` within `limit`.
inline bool waitForText(const std::string& path, const std::string& text, std::chrono::milliseconds limit) {
    return eventually([&] { return readFile(path).find(text) != std::string::npos; }, limit, kFilePace);
}

// True once a line of the file starts with `prefix` within `limit`.
inline bool waitForLine(const std::string& path, const std::string& prefix, std::chrono::milliseconds limit) {
    return eventually(
        [&] {
            for (const auto& l : fileLines(path))
                if (l.rfind(prefix, 0) == 0) return true;
            return false;
        },
        limit, kFilePace);
}

// One command a simulator's log (dvdsim --log) records: its time in ms and
// its text with the carriage return written as "\r".
struct SimCommand {
    double ms;
    std::string command;
};

// Every command in the simulator's log at `path`, polls included, in order.
inline std::vector<SimCommand> simCommands(const std::string& path) {
    std::vector<SimCommand> out;
    for (const auto& l : fileLines(path)) {
        std::istringstream in(l);
        double ms = 0;
        std::string kind, text;
        if (!(in >> ms >> kind) || kind != "cmd") continue;
        std::getline(in >> std::ws, text);
        out.push_back({ms, text});
    }
    return out;
}

// The simulator's commands once the program at the other end has closed:
// the close's two stops are the last commands it sends, and the simulator
// logs what it reads a little after the program wrote it (the program may
// have ended meanwhile), so this waits up to `limit` for the two to be last.
inline std::vector<SimCommand> simCommandsAfterTheClose(const std::string& path,
                                                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::vector<SimCommand> cmds;
    eventually(
        [&] {
            cmds = simCommands(path);
            const std::size_t n = cmds.size();
            return n >= 2 && cmds[n - 1].command == "PA\\r" && cmds[n - 2].command == "PA\\r";
        },
        limit, kFilePace);
    return cmds;
}

}  // namespace morvia::test
