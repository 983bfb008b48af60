// The session log's pure parts (escaping, the line, times and file names,
// the reader, the command names, the CSV) table-driven, and the writer on a
// stepped clock: what it writes, from whom, when a timecode event comes, a
// taken name and an unwritable folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "logger/SessionLogCsv.h"
#include "player/CommandNames.h"
#include "sessionlog/SessionLog.h"
#include "support/Files.h"
#include "support/SteppedClock.h"
#include "support/TestSupport.h"

namespace {

using namespace morvia;
using namespace morvia::sessionlog;
using std::chrono::milliseconds;

// 2026-12-09 08:15:02.123 UTC.
std::chrono::system_clock::time_point exampleTime() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(1796804102)) + milliseconds(123);
}

// A member of a parsed line; "" when absent.
std::string field(const Members& m, const std::string& key) {
    for (const auto& [k, v] : m)
        if (k == key) return v;
    return {};
}

TEST(SessionLogText, EscapesTimesNamesAndLines) {
    struct Case {
        std::string in, json;
    };
    for (const Case& c : std::vector<Case>{{"PL\r", R"("PL\r")"},
                                           {"", R"("")"},
                                           {"a\"b\\c/d", R"("a\"b\\c/d")"},
                                           {"\n\t\b\f", R"("\n\t\b\f")"},
                                           {std::string("\x01\x1f", 2), R"("\u0001\u001f")"},
                                           {"Zürich", "\"Zürich\""}}) {
        EXPECT_EQ(jsonString(c.in), c.json) << c.in;
        // What the reader makes of it is the text again.
        const auto back = parseObject("{\"k\":" + c.json + "}");
        ASSERT_TRUE(back) << c.json;
        EXPECT_EQ(field(*back, "k"), c.in);
    }

    // UTC whatever the local zone is.
    ::setenv("TZ", "Asia/Kolkata", 1);
    ::tzset();
    EXPECT_EQ(utcText(exampleTime()), "2026-12-09T08:15:02.123Z");
    EXPECT_EQ(utcText(exampleTime() - milliseconds(123)), "2026-12-09T08:15:02.000Z");
    EXPECT_EQ(logFileName(exampleTime()), "morvia-20261209T081502Z.jsonl");
    EXPECT_EQ(logFileName(exampleTime(), 3), "morvia-20261209T081502Z-3.jsonl");
    ::unsetenv("TZ");
    ::tzset();

    Event e("command");
    e.utc = exampleTime();
    e.monoMs = 1500;
    e.source = "network";
    e.peer = "127.0.0.1:50123";
    e.command = "play";
    e.wire = "PL\r";
    e.tc = "00:01:02:03";
    e.title = 2;
    e.outcome = "sent";
    e.number("count", 3).json("settings", R"({"A":"1"})");
    EXPECT_EQ(formatLine(e),
              R"({"utc":"2026-12-09T08:15:02.123Z","mono_ms":1500,"event":"command","source":"network",)"
              R"("peer":"127.0.0.1:50123","command":"play","wire":"PL\r","tc":"00:01:02:03","title":2,)"
              R"("outcome":"sent","count":3,"settings":{"A":"1"}})");
    const auto parsed = parseObject(formatLine(e));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(field(*parsed, "wire"), "PL\r");
    EXPECT_EQ(field(*parsed, "settings"), R"({"A":"1"})");
    EXPECT_EQ(field(*parsed, "chapter"), "");  // zero: left out

    for (const char* bad : {"", "{", R"({"utc":"2026-12)", R"({"a":1} x)", "[1]", R"({"a":})", R"({"a":"\q"})",
                            "{\"a\":\"\n\"}", R"({"a":01x})"})
        EXPECT_FALSE(parseObject(bad)) << bad;
}

TEST(SessionLogText, CommandNames) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"PL\r", "play"},           {"PA\r", "pause"},
        {"ST\r", "still"},          {"\r", "clear"},
        {"?F\r", "frame query"},    {"TI02SEPL\r", "title search play"},
        {"CH12SEPL\r", "chapter search play"}, {"FR0001234SMPL\r", "frame stop marker play"},
        {"30SPMF\r", "speed forward"}, {"XY\r", "XY"}};
    for (const auto& [wire, name] : cases) EXPECT_EQ(commandName(wire), name) << wire;
}

TEST(SessionLogText, CsvOfALog) {
    const std::string log =
        R"({"utc":"2026-12-09T08:15:02.123Z","mono_ms":0,"event":"start","source":"startup","user":"ann, bob"})"
        "\n"
        R"({"utc":"2026-12-09T08:15:03.000Z","mono_ms":877,"event":"command","source":"key","command":"play","wire":"PL\r","outcome":"sent"})"
        "\r\n\n"
        R"({"utc":"2026-12-09T08:15:04.000Z","mono_ms":1877,"event":"script","file":"say \"hi\"","line":3})"
        "\n"
        R"({"utc":"2026-12-09T08:15:05.0)";
    const SessionLogCsv csv = sessionLogToCsv(log);
    EXPECT_EQ(csv.rows, 3);
    EXPECT_EQ(csv.text,
              "utc,mono_ms,event,source,peer,command,wire,tc,title,chapter,outcome,user,file,line\r\n"
              "2026-12-09T08:15:02.123Z,0,start,startup,,,,,,,,\"ann, bob\",,\r\n"
              "2026-12-09T08:15:03.000Z,877,command,key,,play,PL\\r,,,,sent,,,\r\n"
              "2026-12-09T08:15:04.000Z,1877,script,,,,,,,,,,\"say \"\"hi\"\"\",3\r\n");
    ASSERT_EQ(csv.warnings.size(), 1u);
    EXPECT_EQ(csv.warnings[0], "line 5 is not a complete event, left out");
}

class SessionLogWriter : public ::testing::Test {
protected:
    std::vector<Members> lines(const std::string& path) {
        std::vector<Members> out;
        for (const auto& l : test::fileLines(path)) {
            auto m = parseObject(l);
            EXPECT_TRUE(m) << l;
            if (m) out.push_back(*m);
        }
        return out;
    }
    test::TempDir dir{"sessionlog"};
    std::shared_ptr<test::SteppedClock> clock = std::make_shared<test::SteppedClock>();
};

TEST_F(SessionLogWriter, WritesEveryEventWithItsSourceAndATimecodeEventASecondAtMost) {
    EXPECT_FALSE(enabled());
    Event start("start");
    start.source = "startup";
    auto log = Writer::open(dir.path().string(), std::move(start.text("port", "/dev/pts/9")), clock);
    ASSERT_TRUE(log);
    EXPECT_TRUE(enabled());

    Source keySource;
    {
        const Scope outer("button");
        const Scope inner("key");
        keySource = currentSource();
        record(Event("in_point"));  // the inner scope's source
    }
    EXPECT_EQ(currentSource().kind, "");
    // Written later on another thread, logged with the source of its queueing.
    std::thread([&] { recordCommand("play", "PL\r", "sent", keySource); }).join();
    std::thread([] {
        const Scope s("network", "127.0.0.1:50123");
        connectionOpened("network", "127.0.0.1:50123");
        record(Event("out_point"));
    }).join();

    noteTimecode("00:00:01:00");  // first: an event
    clock->advance(milliseconds(100));
    noteTimecode("00:00:01:03");  // moved within the second: none
    clock->advance(milliseconds(1500));
    noteTimecode("00:00:01:03");  // stands: none
    clock->advance(milliseconds(100));
    noteTimecode("00:00:02:10");  // moved, a second after the last: an event
    clock->advance(milliseconds(3000));
    noteTimecode("00:00:02:10");  // stands: none
    noteTitle(2, 1);
    noteTitle(2, 1);   // no change: none
    noteTitle(2, 0);   // chapter not reported: none
    noteTitle(2, 5);   // chapter
    recordCommand("still", "ST\r", "dropped", Source{}, "49 commands waiting");

    const std::string path = log->path();
    log->finish("window closed");
    EXPECT_FALSE(enabled());
    record(Event("late"));  // after the end: not written
    log.reset();

    EXPECT_EQ(std::filesystem::path(path).parent_path(), dir.path());
    const auto got = lines(path);
    std::vector<std::string> events;
    for (const auto& m : got) events.push_back(field(m, "event"));
    EXPECT_EQ(events, (std::vector<std::string>{"start", "in_point", "command", "connection", "out_point", "tc", "tc",
                                                "title", "chapter", "command", "end"}));
    ASSERT_EQ(got.size(), events.size());
    EXPECT_EQ(field(got[0], "port"), "/dev/pts/9");
    EXPECT_EQ(field(got[0], "mono_ms"), "0");
    EXPECT_EQ(field(got[1], "source"), "key");
    EXPECT_EQ(field(got[2], "source"), "key");
    EXPECT_EQ(field(got[2], "wire"), "PL\r");
    EXPECT_EQ(field(got[2], "outcome"), "sent");
    EXPECT_EQ(field(got[3], "outcome"), "opened");
    EXPECT_EQ(field(got[4], "source"), "network");
    EXPECT_EQ(field(got[4], "peer"), "127.0.0.1:50123");
    EXPECT_EQ(field(got[5], "tc"), "00:00:01:00");
    EXPECT_EQ(field(got[6], "tc"), "00:00:02:10");
    EXPECT_EQ(field(got[6], "mono_ms"), "1700");
    EXPECT_EQ(field(got[7], "title"), "2");
    EXPECT_EQ(field(got[8], "chapter"), "5");
    EXPECT_EQ(field(got[9], "reason"), "49 commands waiting");
    EXPECT_EQ(field(got[9], "tc"), "00:00:02:10");  // the timecode shown then
    EXPECT_EQ(field(got[10], "outcome"), "window closed");
    long long last = 0;
    for (const auto& m : got) {
        const long long ms = std::stoll(field(m, "mono_ms"));
        EXPECT_GE(ms, last);
        last = ms;
        EXPECT_EQ(field(m, "utc").back(), 'Z');
    }
}

TEST_F(SessionLogWriter, NeverTakesTheNameOfAnExistingFile) {
    // The names of this second and the next two are taken.
    const auto now = std::chrono::system_clock::now();
    std::vector<std::string> taken;
    for (int s = 0; s < 3; ++s) {
        taken.push_back(dir.file(logFileName(now + std::chrono::seconds(s))));
        std::ofstream(taken.back()) << "earlier run\n";
    }
    auto log = Writer::open(dir.path().string(), Event("start"), clock);
    ASSERT_TRUE(log);
    const std::string path = log->path();
    log.reset();
    for (const auto& t : taken) {
        EXPECT_NE(path, t);
        EXPECT_EQ(test::readFile(t), "earlier run\n");
    }
    const auto got = lines(path);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(field(got[1], "outcome"), "stopped");
}

TEST_F(SessionLogWriter, AFolderThatCannotBeWrittenGivesOneLineAndNoLog) {
    std::ofstream(dir.file("plain")) << "a file, not a folder";
    test::ConsoleCapture console;
    auto log = Writer::open(dir.file("plain") + "/logs", Event("start"), clock);
    EXPECT_FALSE(log);
    EXPECT_FALSE(enabled());
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_EQ(console.lines()[0], "Session log off: cannot write to " + dir.file("plain") + "/logs: Not a directory");
    record(Event("nothing"));  // no log: nothing happens
}

}  // namespace
