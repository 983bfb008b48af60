// Files in tests: the whole text of a file, text split into lines, and
// waiting for a text that a child program or a thread writes to a file.
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
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

}  // namespace morvia::test
