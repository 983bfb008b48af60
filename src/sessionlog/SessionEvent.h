// One event of the session log and its JSON line: pure values and functions,
// no I/O, no state.
//
// A line is one JSON object: "utc", "mono_ms" and "event" first, then the
// common fields that apply (source, peer, command, wire, tc, title, chapter,
// outcome), then the event's own fields in the order they were added.
// Empty texts and zero title/chapter are left out.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvia::sessionlog {

struct Event {
    // An event's own field: a text, a whole number or a JSON value given as
    // its text (an object of the settings).
    struct Field {
        enum class Kind { text, number, json };
        std::string key;
        std::string value;
        Kind kind = Kind::text;
    };

    Event() = default;
    explicit Event(std::string name) : event(std::move(name)) {}

    Event& text(std::string key, std::string value) {
        extra.push_back({std::move(key), std::move(value), Field::Kind::text});
        return *this;
    }
    Event& number(std::string key, long long value) {
        extra.push_back({std::move(key), std::to_string(value), Field::Kind::number});
        return *this;
    }
    Event& json(std::string key, std::string value) {
        extra.push_back({std::move(key), std::move(value), Field::Kind::json});
        return *this;
    }

    // Stamped when the event is recorded.
    std::chrono::system_clock::time_point utc{};
    long long monoMs = 0;

    std::string event;
    std::string source;  // button, key, script, network, hyperdeck, editport, startup, close
    std::string peer;    // the network peer's address, for network sources
    std::string command;
    std::string wire;    // the bytes as sent
    std::string tc;
    int title = 0;
    int chapter = 0;
    std::string outcome;
    std::vector<Field> extra;
};

// `text` as a JSON string, quotes included: control characters escaped
// (\r, \n, \t, \b, \f, others \u00XX), bytes 0x80 and up passed through.
std::string jsonString(std::string_view text);
// ISO 8601 in UTC with milliseconds and Z: 2026-12-09T08:15:02.123Z.
std::string utcText(std::chrono::system_clock::time_point t);
// The log's file name for a run that started at `t`: morvia-20261209T081502Z.jsonl,
// or with `n` > 1 morvia-20261209T081502Z-n.jsonl.
std::string logFileName(std::chrono::system_clock::time_point t, int n = 1);
// The event as one JSON line, without the line end.
std::string formatLine(const Event& e);

// A JSON object's members in file order: the key and the value, a string's
// value decoded and any other value (number, object, array, true, false,
// null) as its JSON text. Nothing when `line` is not one JSON object.
using Members = std::vector<std::pair<std::string, std::string>>;
std::optional<Members> parseObject(std::string_view line);

}  // namespace morvia::sessionlog
