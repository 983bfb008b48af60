// The session log of the built program against dvdsim: a run with a
// script, buttons, keys and a close under a local time zone far from UTC; a
// run killed in the middle; a folder that cannot be written. Lines are read
// with Qt's JSON reader, not the program's own.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Eventually.h"
#include "support/Files.h"

#if !defined(MORVIA_BIN) || !defined(MORVIA_DEMO_BIN) || !defined(DVDSIM_BIN) || !defined(MORVIA_EDL_BIN)
#error "the session log tests need morvia, morvia-demo, dvdsim and morvia-edl"
#endif

namespace {

namespace fs = std::filesystem;
using morvia::test::ChildProcess;
using morvia::test::eventually;
using morvia::test::readFile;
using morvia::test::splitLines;
using morvia::test::waitForText;

// The keys a line may have: the common ones and every event's own.
const std::set<std::string> kKeys = {"utc",     "mono_ms", "event",  "source",    "peer",    "command",
                                     "wire",    "tc",      "title",  "chapter",   "outcome", "version",
                                     "host",    "user",    "port",   "settings_file", "settings", "reason",
                                     "point",   "operation", "phase", "passes",   "file",    "line",
                                     "path",    "events"};
const std::set<std::string> kEvents = {"start",  "command", "link_down", "link_up", "title",    "chapter",
                                       "tc",     "in_point", "out_point", "cue",    "review",  "repeat",
                                       "script", "edl_save", "edl_load", "connection", "end"};
const std::set<std::string> kSources = {"button", "key",      "script",  "network", "hyperdeck",
                                        "editport", "startup", "close"};

std::vector<QJsonObject> completeLines(const fs::path& log) {
    std::vector<QJsonObject> out;
    std::string text = readFile(log);
    // A killed run may leave a last line without its end: not a complete line.
    text.erase(text.find_last_of('\n') == std::string::npos ? 0 : text.find_last_of('\n') + 1);
    for (const auto& l : splitLines(text)) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(l), &error);
        EXPECT_TRUE(doc.isObject()) << error.errorString().toStdString() << ": " << l;
        out.push_back(doc.object());
    }
    return out;
}

std::string str(const QJsonObject& o, const char* key) { return o.value(key).toString().toStdString(); }

// The commands the simulator received by the close, with CR written as "\r",
// polls left out.
std::vector<std::string> playerCommands(const fs::path& simLog) {
    std::vector<std::string> out;
    for (const auto& c : morvia::test::simCommandsAfterTheClose(simLog)) {
        if (c.command != "?F\\r") out.push_back(c.command);
    }
    return out;
}

std::vector<fs::path> logFiles(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

class SessionLogProcess : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("morvia-sessionlog-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "logs");
        sim = std::make_unique<ChildProcess>(
            std::vector<std::string>{DVDSIM_BIN, "--log", (dir / "sim.log").string()}, dir, dir / "sim.out");
        ASSERT_TRUE(waitForText(dir / "sim.out", "\n", std::chrono::seconds(10))) << "dvdsim printed no terminal";
        port = splitLines(readFile(dir / "sim.out")).at(0);
    }
    void TearDown() override {
        if (app) app->end(SIGKILL, std::chrono::seconds(5));
        sim->end(SIGTERM, std::chrono::seconds(5));
        if (!HasFailure()) fs::remove_all(dir);
    }
    void settings(const std::string& sessionLog) {
        std::ofstream(dir / "Settings.txt") << "Verbose=NO\nUserNote=Log\nDVDCOMPort=" << port
                                            << "\nTCOffset=00:00:00:00\nStartTitle=2\nUseClipboard=NO\nStopOnExit=NO\n"
                                            << "SessionLog=" << sessionLog << "\n";
    }
    void start(const char* program, std::vector<std::string> env, const std::string& console = "console.txt") {
        env.insert(env.begin(), "QT_QPA_PLATFORM=offscreen");
        app = std::make_unique<ChildProcess>(std::vector<std::string>{program}, dir, dir / console, env);
    }
    bool ready(const std::string& console = "console.txt") {
        return waitForText(dir / console, " Ready", std::chrono::seconds(90));
    }

    fs::path dir;
    std::string port;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<ChildProcess> app;
};

TEST_F(SessionLogProcess, ARunWithAScriptButtonsKeysAndACloseLogsWhatThePlayerGot) {
    settings("logs");
    std::ofstream(dir / "Script.txt") << "Pause\r\nWait1\r\nPlay\r\nTC200:00:30:00\r\nQuit\r\n";
    const auto before = std::chrono::system_clock::now();
    // Kolkata is five and a half hours from UTC: local time in the log shows.
    start(MORVIA_DEMO_BIN, {"TZ=Asia/Kolkata", "MORVIA_DEMO_INPUT=button:Pause,key:J,key:K,button:Play",
                            "MORVIA_DEMO_SCRIPT=1"});
    const auto status = app->wait(std::chrono::seconds(120));
    ASSERT_TRUE(status.has_value()) << "morvia did not end after the close";
    EXPECT_EQ(*status, 0);
    const auto after = std::chrono::system_clock::now();

    const auto files = logFiles(dir / "logs");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0].filename().string(), std::regex(R"(morvia-\d{8}T\d{6}Z\.jsonl)")))
        << files[0];
    const std::string text = readFile(files[0]);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const auto lines = completeLines(files[0]);
    ASSERT_GE(lines.size(), 3u);

    const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    double lastMono = -1;
    std::vector<std::string> sent;
    std::vector<std::pair<std::string, std::string>> bySource;  // (command, source) of what was sent
    std::set<std::string> events;
    for (const QJsonObject& o : lines) {
        for (const QString& k : o.keys()) EXPECT_TRUE(kKeys.count(k.toStdString())) << "undocumented field " << k.toStdString();
        EXPECT_TRUE(kEvents.count(str(o, "event"))) << str(o, "event");
        EXPECT_TRUE(std::regex_match(str(o, "utc"), utc)) << str(o, "utc");
        ASSERT_TRUE(o.value("mono_ms").isDouble());
        EXPECT_GE(o.value("mono_ms").toDouble(), lastMono);
        lastMono = o.value("mono_ms").toDouble();
        if (o.contains("source")) {
            EXPECT_TRUE(kSources.count(str(o, "source"))) << str(o, "source");
        }
        events.insert(str(o, "event"));
        if (str(o, "event") == "command") {
            EXPECT_FALSE(str(o, "command").empty());
            if (str(o, "outcome") == "sent") {
                std::string wire = str(o, "wire");
                for (auto at = wire.find('\r'); at != std::string::npos; at = wire.find('\r', at))
                    wire.replace(at, 1, "\\r");
                sent.push_back(wire);
                bySource.emplace_back(str(o, "command"), str(o, "source"));
            }
        }
    }
    EXPECT_EQ(str(lines.front(), "event"), "start");
    EXPECT_EQ(str(lines.front(), "port"), port);
    EXPECT_EQ(lines.front().value("settings").toObject().value("SessionLog").toString().toStdString(), "logs");
    EXPECT_EQ(str(lines.back(), "event"), "end");
    EXPECT_EQ(str(lines.back(), "outcome"), "window closed");
    EXPECT_EQ(str(lines.back(), "source"), "close");
    for (const char* e : {"tc", "script", "out_point", "in_point"}) EXPECT_TRUE(events.count(e)) << e;

    // The same commands, in the same order, as the player received.
    EXPECT_EQ(sent, playerCommands(dir / "sim.log"));

    // Who asked: the operator's input in its order, the script, start-up and the close.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"start", "startup"},  {"still", "button"}, {"scan reverse", "key"}, {"still", "key"},
        {"play", "button"},    {"still", "script"}, {"play", "script"},      {"pause", "close"},
        {"pause", "close"}};
    std::size_t at = 0;
    for (const auto& want : expected) {
        while (at < bySource.size() && bySource[at] != want) ++at;
        EXPECT_LT(at, bySource.size()) << "missing or out of order: " << want.first << " from " << want.second;
        ++at;
    }

    // UTC, not the local time of the zone the program ran in.
    const auto startUtc = str(lines.front(), "utc");
    std::tm parts{};
    ASSERT_TRUE(strptime(startUtc.c_str(), "%Y-%m-%dT%H:%M:%S", &parts));
    const auto logged = std::chrono::system_clock::from_time_t(timegm(&parts));
    EXPECT_GE(logged, std::chrono::time_point_cast<std::chrono::seconds>(before) - std::chrono::seconds(1));
    EXPECT_LE(logged, after);

    // The CSV of the log: a header and one row per event, UTC first.
    ChildProcess csv({MORVIA_EDL_BIN, "log2csv", files[0].string(), "-o", (dir / "log.csv").string()}, dir,
                     dir / "csv.out");
    ASSERT_EQ(csv.wait(std::chrono::seconds(30)), std::optional<int>(0)) << readFile(dir / "csv.out.err");
    const auto rows = splitLines(readFile(dir / "log.csv"));
    ASSERT_EQ(rows.size(), lines.size() + 1);
    EXPECT_EQ(rows[0].rfind("utc,mono_ms,event,", 0), 0u) << rows[0];
    EXPECT_EQ(rows[1].rfind(startUtc + ",0,start,startup,", 0), 0u) << rows[1];
}

TEST_F(SessionLogProcess, AKilledRunLeavesCompleteLinesAndTheNextRunWritesANewFile) {
    settings("logs");
    start(MORVIA_BIN, {});
    ASSERT_TRUE(ready()) << readFile(dir / "console.txt");
    // Killed while the timecode runs and events are being written.
    ASSERT_TRUE(eventually([&] {
        const auto f = logFiles(dir / "logs");
        return f.size() == 1 && readFile(f[0]).find("\"event\":\"tc\"") != std::string::npos;
    }, std::chrono::seconds(30)));
    app->signal(SIGKILL);
    ASSERT_EQ(app->wait(std::chrono::seconds(10)), std::optional<int>(128 + SIGKILL));
    const auto first = logFiles(dir / "logs");
    ASSERT_EQ(first.size(), 1u);
    const std::string killed = readFile(first[0]);
    const auto lines = completeLines(first[0]);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(str(lines.front(), "event"), "start");
    for (const auto& o : lines) EXPECT_NE(str(o, "event"), "end");

    // The next run: a file of its own, the killed run's left as it was.
    start(MORVIA_BIN, {}, "console2.txt");
    ASSERT_TRUE(eventually([&] { return logFiles(dir / "logs").size() == 2; }, std::chrono::seconds(30)));
    ASSERT_TRUE(ready("console2.txt")) << readFile(dir / "console2.txt");
    app->end(SIGTERM, std::chrono::seconds(30));
    EXPECT_EQ(readFile(first[0]), killed);
    const auto files = logFiles(dir / "logs");
    ASSERT_EQ(files.size(), 2u);
    const fs::path second = files[0] == first[0] ? files[1] : files[0];
    const auto next = completeLines(second);
    ASSERT_GE(next.size(), 2u);
    EXPECT_EQ(str(next.front(), "event"), "start");
    EXPECT_EQ(str(next.back(), "event"), "end");
    EXPECT_EQ(str(next.back(), "outcome"), "signal");
}

TEST_F(SessionLogProcess, AFolderThatCannotBeWrittenGivesOneLineAndTheProgramRunsOn) {
    std::ofstream(dir / "plain") << "a file, not a folder";
    settings((dir / "plain" / "logs").string());
    start(MORVIA_BIN, {});
    ASSERT_TRUE(ready()) << readFile(dir / "console.txt");
    std::vector<std::string> said;
    for (const auto& l : splitLines(readFile(dir / "console.txt")))
        if (l.find("Session log") != std::string::npos) said.push_back(l);
    EXPECT_EQ(said, std::vector<std::string>{"Session log off: cannot write to " + (dir / "plain" / "logs").string() +
                                             ": Not a directory"});
    for (const auto& [name, cpu] : app->threads()) EXPECT_EQ(name.find("session log"), std::string::npos) << name;
    app->end(SIGTERM, std::chrono::seconds(30));
    EXPECT_EQ(app->wait(std::chrono::seconds(1)), std::optional<int>(0));
}

}  // namespace
