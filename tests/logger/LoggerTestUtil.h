// Helpers for the logger tests: whole-file writing and the sample data files
// (the scratch directory and whole-file reading are in TestSupport.h).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace morvia::test {

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Splits on CR LF; the text must end with one.
inline std::vector<std::string> crlfLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (auto p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", start)) {
        out.push_back(text.substr(start, p - start));
        start = p + 2;
    }
    EXPECT_EQ(start, text.size()) << "text does not end with CR LF";
    return out;
}

inline std::string dataFile(const std::string& name) {
    return (std::filesystem::path(MORVIA_TESTS_SOURCE_DIR) / "logger" / "data" / name).string();
}

}  // namespace morvia::test
