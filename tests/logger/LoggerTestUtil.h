// Helpers for the logger tests: whole-file writing and the sample data files
// (the scratch directory and whole-file reading are in TestSupport.h).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TestSupport.h"

namespace morvia::test {

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A file of tests/logger/data. __FILE__ may be relative to the build
// directory, which is not the directory the tests run in; the source
// directory is given to the build as an absolute path.
inline std::string dataFile(const std::string& name) {
#ifdef MORVIA_TESTS_SOURCE_DIR
    const std::filesystem::path dir = std::filesystem::path(MORVIA_TESTS_SOURCE_DIR) / "logger";
#else
    const std::filesystem::path dir = std::filesystem::path(__FILE__).parent_path();
#endif
    return (dir / "data" / name).string();
}

} // namespace morvia::test
