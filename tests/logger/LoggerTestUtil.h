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

inline std::string dataFile(const std::string& name) {
    return (std::filesystem::path(__FILE__).parent_path() / "data" / name).string();
}

} // namespace morvia::test
