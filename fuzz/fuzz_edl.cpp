// The EDL loader: the input is written to a file in a temporary directory and
// read with LoadEDL; the same bytes also go through the line splitter and the
// parser in small uneven chunks, and both readings must agree line for line.
// Every console line the loader prints must be free of control characters.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "logger/Edl.h"
#include "startup/TextFiles.h"

using namespace morvia;

namespace {

std::vector<std::string>& captured() {
    static std::vector<std::string> lines;
    return lines;
}

bool sameEvents(const std::vector<EdlEvent>& a, const std::vector<EdlEvent>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].entry != b[i].entry || a[i].clip != b[i].clip || a[i].in != b[i].in || a[i].out != b[i].out)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quietProcess();
    static const bool sink = [] {
        Utils::setConsoleSink([](std::string_view line) { captured().emplace_back(line); });
        return true;
    }();
    (void)sink;
    static const auto file = fuzz::tempDir() / "list.edl";

    fuzz::writeFile(file, data, size);
    captured().clear();
    const std::vector<EdlEvent> loaded = LoadEDL(file.string());
    const std::vector<std::string> fileLines = std::move(captured());
    captured().clear();

    for (const std::string& line : fileLines) {
        for (char c : line) {
            const auto u = static_cast<unsigned char>(c);
            MORVIA_FUZZ_CHECK((u >= 0x20 || c == '\t') && u != 0x7F);
        }
    }
    MORVIA_FUZZ_CHECK(loaded.size() <= static_cast<std::size_t>(EdlEntryCount));
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        const EdlEvent& e = loaded[i];
        MORVIA_FUZZ_CHECK(e.entry >= 0 && e.entry < EdlEntryCount);
        if (i > 0) MORVIA_FUZZ_CHECK(e.entry > loaded[i - 1].entry);
        // The clip name is eight ISO 8859-1 characters of the file, handed on as UTF-8.
        MORVIA_FUZZ_CHECK(text::utf8ToLatin1(e.clip).size() == 8 && e.in.size() == 11 && e.out.size() == 11);
    }
    if (size == 0 || data[0] != 'T') {
        MORVIA_FUZZ_CHECK(loaded.empty());
        return 0;
    }

    // The same lines through the pure parts, fed in chunks of 1..13 bytes.
    std::vector<std::string> parsedLines;
    edl::EdlParser parser([&](std::string_view s) { parsedLines.emplace_back(s); });
    edl::LineSplitter splitter;
    const edl::LineSplitter::Sink feed = [&](std::string_view kept, std::size_t full) {
        MORVIA_FUZZ_CHECK(kept.size() <= full && kept.size() <= 4096);
        parser.line(kept, full);
    };
    const char* text = reinterpret_cast<const char*>(data) + 1;
    std::size_t left = size - 1;
    while (left > 0) {
        const std::size_t n = std::min<std::size_t>(left, static_cast<std::size_t>(text[0] & 0x0F) % 13 + 1);
        splitter.feed(text, n, feed);
        text += n;
        left -= n;
    }
    splitter.finish(feed);
    parser.finish();

    MORVIA_FUZZ_CHECK(sameEvents(parser.events(), loaded));
    // The loader prints the first byte's value and "Reading EDL", then the
    // parser's lines.
    MORVIA_FUZZ_CHECK(fileLines.size() == parsedLines.size() + 2);
    for (std::size_t i = 0; i < parsedLines.size(); ++i) MORVIA_FUZZ_CHECK(fileLines[i + 2] == parsedLines[i]);
    return 0;
}
