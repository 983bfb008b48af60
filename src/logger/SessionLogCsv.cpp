#include "logger/SessionLogCsv.h"

#include <algorithm>
#include <array>

#include "logger/EdlExport.h"
#include "sessionlog/SessionEvent.h"

namespace morvia {
namespace {

constexpr std::array<std::string_view, 11> kFirstColumns = {"utc",  "mono_ms", "event",   "source",
                                                            "peer", "command", "wire",    "tc",
                                                            "title", "chapter", "outcome"};
constexpr const char* CRLF = "\r\n";

}  // namespace

SessionLogCsv sessionLogToCsv(std::string_view jsonLines) {
    SessionLogCsv out;
    std::vector<std::string> columns(kFirstColumns.begin(), kFirstColumns.end());
    std::vector<sessionlog::Members> events;
    int lineNo = 0;
    while (!jsonLines.empty()) {
        const std::size_t end = jsonLines.find('\n');
        std::string_view line = jsonLines.substr(0, end);
        jsonLines.remove_prefix(end == std::string_view::npos ? jsonLines.size() : end + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        std::optional<sessionlog::Members> members = sessionlog::parseObject(line);
        if (!members) {
            out.warnings.push_back("line " + std::to_string(lineNo) + " is not a complete event, left out");
            continue;
        }
        for (const auto& [key, value] : *members)
            if (std::find(columns.begin(), columns.end(), key) == columns.end()) columns.push_back(key);
        events.push_back(std::move(*members));
    }
    for (std::size_t i = 0; i < columns.size(); ++i) out.text += (i ? "," : "") + edlexport::csvField(columns[i]);
    out.text += CRLF;
    for (const sessionlog::Members& e : events) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (i) out.text += ',';
            const auto it = std::find_if(e.begin(), e.end(), [&](const auto& m) { return m.first == columns[i]; });
            if (it == e.end()) continue;
            if (columns[i] == "wire") {
                const std::string quoted = sessionlog::jsonString(it->second);
                out.text += edlexport::csvField(std::string_view(quoted).substr(1, quoted.size() - 2));
            } else {
                out.text += edlexport::csvField(it->second);
            }
        }
        out.text += CRLF;
        ++out.rows;
    }
    return out;
}

}  // namespace morvia
