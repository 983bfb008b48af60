// The built morvia program against the dvdsim player simulator on a
// pseudo-terminal, in a temporary working directory, on Qt's offscreen
// platform: what the console shows and what the player receives, with the
// simulator's timestamps.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TcpClient.h"

#if !defined(MORVIA_BIN) || !defined(MORVIA_DEMO_BIN) || !defined(DVDSIM_BIN)
#error "the end-to-end tests need the morvia, morvia-demo and dvdsim programs (MORVIA_BIN, MORVIA_DEMO_BIN, DVDSIM_BIN)"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using morvia::test::eventually;
using morvia::test::readFile;
using morvia::test::splitLines;
using morvia::test::waitForText;

// A child process with its standard output in a file (and its errors in
// the same name + ".err").
using Child = morvia::test::ChildProcess;

using Received = morvia::test::SimCommand;

std::vector<Received> commands(const fs::path& log) { return morvia::test::simCommands(log); }
std::vector<Received> commandsAfterTheClose(const fs::path& log) { return morvia::test::simCommandsAfterTheClose(log); }

// Index of the first command equal to `text` at or after `from`; -1 if none.
int find(const std::vector<Received>& cmds, const std::string& text, int from = 0) {
    for (int i = from; i < static_cast<int>(cmds.size()); ++i)
        if (cmds[i].command == text) return i;
    return -1;
}

// True when `expected` appears in `got` in this order (other lines may come between).
::testing::AssertionResult inOrder(const std::vector<std::string>& got, const std::vector<std::string>& expected) {
    std::size_t at = 0;
    for (const auto& want : expected) {
        while (at < got.size() && got[at] != want) ++at;
        if (at == got.size()) return ::testing::AssertionFailure() << "missing or out of order: \"" << want << "\"";
        ++at;
    }
    return ::testing::AssertionSuccess();
}

// The TCP sockets in the listening state, from /proc/net/tcp{,6}: `column`
// 1 is the local address ("0100007F:07D1"), 9 the inode.
std::vector<std::string> listeningColumn(std::size_t column) {
    std::vector<std::string> out;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // header
        while (std::getline(in, line)) {
            std::istringstream f(line);
            std::vector<std::string> col;
            for (std::string c; f >> c;) col.push_back(c);
            if (col.size() > 9 && col[3] == "0A") out.push_back(col[column]);
        }
    }
    return out;
}
std::vector<std::string> listeningInodes() { return listeningColumn(9); }

// What the process's open descriptors point to.
std::vector<std::string> openTargets(pid_t pid) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code rc;
        out.push_back(fs::read_symlink(e.path(), rc).string());
    }
    return out;
}

// True when none of the process's sockets is listening.
::testing::AssertionResult listensNowhere(pid_t pid) {
    const auto listening = listeningInodes();
    for (const auto& t : openTargets(pid)) {
        if (t.rfind("socket:[", 0) != 0) continue;
        if (std::find(listening.begin(), listening.end(), t.substr(8, t.size() - 9)) != listening.end())
            return ::testing::AssertionFailure() << "listening socket " << t;
    }
    return ::testing::AssertionSuccess();
}

class AppEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("morvia-e2e-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (sim) {
            sim->signal(SIGTERM);
            sim->wait(std::chrono::seconds(5));
        }
        sim.reset();
        if (!HasFailure()) fs::remove_all(dir);
    }
    // Starts the simulator and writes a Settings.txt naming its terminal (or
    // `portName`, when given: the simulator's link).
    void startPlayer(const std::vector<std::string>& options, const std::string& startTitle,
                     const std::string& portName = {}) {
        std::vector<std::string> args = {DVDSIM_BIN, "--log", (dir / "sim.log").string()};
        args.insert(args.end(), options.begin(), options.end());
        sim = std::make_unique<Child>(args, dir, dir / "sim.out");
        ASSERT_TRUE(waitForText(dir / "sim.out", "\n", std::chrono::seconds(10))) << "dvdsim printed no terminal";
        port = splitLines(readFile(dir / "sim.out")).at(0);
        if (!portName.empty()) port = portName;
        std::ofstream(dir / "Settings.txt")
            << "Verbose=NO\nUserNote=EndToEnd\nDVDCOMPort=" << port
            << "\nTCOffset=00:00:00:00\nStartTitle=" << startTitle << "\nUseClipboard=NO\nStopOnExit=NO\n";
    }
    // The shipped program; with hooks (MORVIA_SCREENSHOT, MORVIA_DEMO_SCRIPT)
    // the demonstration program, which is the same App with those hooks.
    std::unique_ptr<Child> startApp(const std::vector<std::string>& hooks = {}) {
        std::vector<std::string> e = {"QT_QPA_PLATFORM=offscreen"};
        e.insert(e.end(), hooks.begin(), hooks.end());
        const char* program = hooks.empty() ? MORVIA_BIN : MORVIA_DEMO_BIN;
        return std::make_unique<Child>(std::vector<std::string>{program}, dir, dir / "console.txt", e);
    }
    std::vector<std::string> console() const { return splitLines(readFile(dir / "console.txt")); }
    // Starts the program with this Script.txt; it presses "Script" once
    // start-up is complete and leaves the window open. False when the script
    // never started.
    bool startWithScript(const std::string& script, std::unique_ptr<Child>& app) {
        std::ofstream(dir / "Script.txt") << script;
        app = startApp({"MORVIA_DEMO_SCRIPT=keep"});
        return waitForText(dir / "console.txt", "Found Script.txt File", std::chrono::seconds(90));
    }

    // The player at title 1 and the program with its control server on any
    // free loopback port, which `netPort` receives (0 when none came).
    std::unique_ptr<Child> startWithControlServer(int& netPort) {
        return startWithListener("ControlServer=0", "Control server listening on 127.0.0.1:", netPort);
    }
    // The same with the HyperDeck-compatible port.
    std::unique_ptr<Child> startWithHyperDeck(int& netPort) {
        return startWithListener("HyperDeckServer=0", "HyperDeck-compatible port listening on 127.0.0.1:", netPort);
    }
    // The player at title 1 and the program with the listener that `setting`
    // opens; `netPort` receives the port after `prefix` on the console.
    std::unique_ptr<Child> startWithListener(const std::string& setting, const std::string& prefix, int& netPort) {
        startPlayer({}, "1");
        std::ofstream(dir / "Settings.txt", std::ios::app) << setting << "\n";
        auto app = startApp();
        netPort = 0;
        const fs::path out = dir / "console.txt";
        if (waitForText(out, prefix, std::chrono::seconds(90)) &&
            eventually([&] { return readFile(out).find('\n', readFile(out).find(prefix)) != std::string::npos; })) {
            const std::string text = readFile(out);
            netPort = std::atoi(text.c_str() + text.find(prefix) + prefix.size());
        }
        return app;
    }

    fs::path dir;
    std::string port;
    std::unique_ptr<Child> sim;
};

// Width and height from a PNG file's header; {0, 0} when it is not a PNG.
std::pair<int, int> pngSize(const fs::path& p) {
    const std::string d = readFile(p);
    if (d.size() < 24 || d.compare(1, 3, "PNG") != 0) return {0, 0};
    auto be = [&d](int at) {
        return (static_cast<unsigned char>(d[at]) << 24) | (static_cast<unsigned char>(d[at + 1]) << 16) |
               (static_cast<unsigned char>(d[at + 2]) << 8) | static_cast<unsigned char>(d[at + 3]);
    };
    return {be(16), be(20)};
}

TEST_F(AppEndToEnd, StartsThePlayerAtItsTitleAndStopsItOnClose) {
    startPlayer({}, "12");
    auto app = startApp({"MORVIA_SCREENSHOT=" + (dir / "window.png").string()});
    ASSERT_TRUE(waitForText(dir / "console.txt", " Ready", std::chrono::seconds(60))) << readFile(dir / "console.txt");

    EXPECT_TRUE(inOrder(console(), {
                                       "Morvia/Lintra",
                                       "",
                                       "Serial Port " + port + " Opened OK",
                                       "",
                                       "Morvia",
                                       " ",
                                       "SETTINGS:",
                                       "User Note        = EndToEnd",
                                       "DVD Type         = DVD V7400",
                                       "DVD COM Port     = " + port,
                                       "Verbose          = NO",
                                       "Starting Title   = 12",
                                       "Time Code Offset = 00:00:00:00",
                                       "Use Clipboard    = NO",
                                       "Stop On Exit     = NO",
                                       "Control Server   = off",
                                       "HyperDeck Server = off",
                                       "",
                                       "Starting Disc",
                                       "Starting at Title 12",
                                       "DVD-V7400 On " + port + " Ready",
                                   }));
    int checks = 0;
    for (const auto& l : console()) checks += l.rfind("Checking DVD Status ", 0) == 0;
    EXPECT_GE(checks, 1);
    EXPECT_LE(checks, 5);

    // The window was shown at its size once start-up was complete.
    eventually([&] { return pngSize(dir / "window.png").first != 0; }, std::chrono::seconds(10),
               morvia::test::kFilePace);
    EXPECT_EQ(pngSize(dir / "window.png"), std::make_pair(320, 263));

    // The control server and the edit-controller port are switched off: no
    // listening socket, and no second serial port ("COM2" is /dev/ttyS1).
    const auto fds = openTargets(app->pid());
    ASSERT_FALSE(fds.empty());
    EXPECT_NE(std::find(fds.begin(), fds.end(), port), fds.end()) << "the player's port is open";
    for (const auto& t : fds) EXPECT_EQ(t.rfind("/dev/ttyS", 0), std::string::npos) << t;
    EXPECT_TRUE(listensNowhere(app->pid()));

    const auto before = commands(dir / "sim.log");
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(before[0].command, "SA\\r");
    const int firstCheck = find(before, "?P\\r");
    ASSERT_GT(firstCheck, 0);
    const double wake = before[firstCheck].ms - before[0].ms;
    EXPECT_GT(wake, 4800);  // five seconds after "SA"
    EXPECT_LT(wake, 10000);
    const int pause = find(before, "ST\\r", firstCheck);
    const int title = find(before, "TI12SEPL\\r");
    ASSERT_GT(pause, firstCheck);
    ASSERT_GT(title, pause);
    EXPECT_EQ(find(before, "TI01SEPL\\r"), -1);
    // The title burst: "\r", "NS", "ST" and the title command go out together.
    for (const char* c : {"\\r", "NS\\r"}) {
        const int at = find(before, c, pause + 1);
        ASSERT_GT(at, pause) << c;
        EXPECT_LT(std::abs(before[at].ms - before[title].ms), 1000) << c;
    }
    // Polling runs, and play starts about six seconds after the title command.
    const int play = find(before, "PL\\r", title);
    ASSERT_GT(play, title);
    const double toPlay = before[play].ms - before[title].ms;
    EXPECT_GT(toPlay, 5500);
    EXPECT_LT(toPlay, 11000);
    int polls = 0;
    for (int i = title; i < play; ++i) polls += before[i].command == "?F\\r";
    EXPECT_GT(polls, 10);

    // Closing the window stops the player, then the process ends.
    app->signal(SIGTERM);
    const auto status = app->wait(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value()) << "morvia did not end after the close";
    EXPECT_EQ(*status, 0);
    const auto after = commands(dir / "sim.log");
    const int stop = find(after, "PA\\r", static_cast<int>(before.size()));
    ASSERT_GE(stop, 0) << "no stop command reached the player";
    EXPECT_EQ(console().back(), " ");  // nothing printed after the ready lines
}

TEST_F(AppEndToEnd, GivesUpWhenThePlayerIsOff) {
    startPlayer({"--unit-off"}, "1");
    auto app = startApp();
    const auto status = app->wait(std::chrono::seconds(90));
    ASSERT_TRUE(status.has_value()) << readFile(dir / "console.txt");
    EXPECT_EQ(*status, 0);

    const auto out = console();
    EXPECT_TRUE(inOrder(out, {"Starting Disc", "Please Turn Unit ON"}));
    EXPECT_EQ(out.back(), "Please Turn Unit ON");
    std::vector<std::string> checks;
    for (const auto& l : out)
        if (l.rfind("Checking DVD Status ", 0) == 0) checks.push_back(l.substr(0, 21));
    EXPECT_EQ(checks,
              (std::vector<std::string>{"Checking DVD Status 1", "Checking DVD Status 2", "Checking DVD Status 3",
                                        "Checking DVD Status 4", "Checking DVD Status 5"}));

    // Five mode queries, three seconds apart; nothing after them.
    const auto cmds = commands(dir / "sim.log");
    std::vector<double> at;
    for (const auto& c : cmds)
        if (c.command == "?P\\r") at.push_back(c.ms);
    ASSERT_EQ(at.size(), 5u);
    for (std::size_t i = 1; i < at.size(); ++i) {
        EXPECT_GT(at[i] - at[i - 1], 2800) << i;
        EXPECT_LT(at[i] - at[i - 1], 6000) << i;
    }
    EXPECT_EQ(cmds.back().command, "?P\\r");
}

TEST_F(AppEndToEnd, ScriptButtonRunsTheScriptOnThePlayer) {
    startPlayer({}, "1");
    std::ofstream(dir / "Script.txt") << "; pause, wait, play, slow\r\nPause\r\nWait2\r\nPlay\r\nWait1\r\nSlow2\r\n"
                                         "Quit\r\nStop\r\n";
    // The app presses "Script" once start-up is complete, then closes its window.
    auto app = startApp({"MORVIA_DEMO_SCRIPT=1"});
    const auto status = app->wait(std::chrono::seconds(90));
    ASSERT_TRUE(status.has_value()) << readFile(dir / "console.txt");
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(inOrder(console(), {"DVD-V7400 On " + port + " Ready", " ", "**********", "Found Script.txt File",
                                    "; pause, wait, play, slow", "Pause", "Wait2", "Play", "Wait1", "Slow2",
                                    "Script ended", "**********", " "}))
        << readFile(dir / "console.txt");

    // On the wire: the script's commands in order, with its waits between
    // them, then the close's stop. The script starts right after start-up's
    // own "PL", so its "Pause" may overtake that one on the line (the link's
    // store sends the newest command first): the script's "Play" is the last
    // "PL", its "Pause" the last "ST" before that.
    const auto cmds = commandsAfterTheClose(dir / "sim.log");
    int play = -1, pause = -1;
    for (int i = 0; i < static_cast<int>(cmds.size()); ++i)
        if (cmds[i].command == "PL\\r") play = i;
    for (int i = 0; i < play; ++i)
        if (cmds[i].command == "ST\\r") pause = i;
    const int startPlay = find(cmds, "PL\\r");
    const int slow = find(cmds, "30SPMF\\r", play + 1);
    const int stop = find(cmds, "PA\\r", play + 1);
    ASSERT_GE(startPlay, 0);
    EXPECT_LT(startPlay, play) << "start-up's play and the script's play both reach the player";
    ASSERT_GT(pause, 0);
    ASSERT_GT(play, pause);
    ASSERT_GT(slow, play);
    // The close's first stop is queued right behind "Slow2" and may overtake
    // it on the line (the link's store sends the newest command first).
    ASSERT_GT(stop, play) << "the close's stop reaches the player";
    EXPECT_GT(cmds[play].ms - cmds[pause].ms, 1500);
    EXPECT_LT(cmds[play].ms - cmds[pause].ms, 4000);
    EXPECT_GT(cmds[slow].ms - cmds[play].ms, 600);
    EXPECT_LT(cmds[slow].ms - cmds[play].ms, 3000);
    // "Quit" ended the run: the "Stop" after it never ran, so the only stops
    // are the close's two.
    int stops = 0;
    for (int i = play; i < static_cast<int>(cmds.size()); ++i) stops += cmds[i].command == "PA\\r";
    EXPECT_EQ(stops, 2);
}

// --- closing the window while the player is busy ---

// The last two commands the player received are the two stops.
::testing::AssertionResult endsWithTheTwoStops(const std::vector<Received>& cmds) {
    if (cmds.size() < 2) return ::testing::AssertionFailure() << "only " << cmds.size() << " commands";
    const auto n = cmds.size();
    if (cmds[n - 1].command != "PA\\r" || cmds[n - 2].command != "PA\\r")
        return ::testing::AssertionFailure()
               << "the last commands are \"" << cmds[n - 2].command << "\", \"" << cmds[n - 1].command << "\"";
    return ::testing::AssertionSuccess();
}

int count(const std::vector<Received>& cmds, const std::string& text) {
    return static_cast<int>(
        std::count_if(cmds.begin(), cmds.end(), [&](const Received& c) { return c.command == text; }));
}

// Seconds from now until the program ended; the status in `status`.
double secondsToEnd(Child& app, std::optional<int>& status) {
    const auto t0 = Clock::now();
    status = app.wait(std::chrono::seconds(60));
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

TEST_F(AppEndToEnd, CloseRightAfterAChapterChangeEndsWithTheTwoStops) {
    startPlayer({}, "1");
    std::ofstream(dir / "Script.txt") << "NextC\r\n";
    // The window is closed the moment the script (the chapter change) ended,
    // while the change's many commands still wait for the player.
    auto app = startApp({"MORVIA_DEMO_SCRIPT=now"});
    const auto status = app->wait(std::chrono::seconds(90));
    ASSERT_TRUE(status.has_value()) << readFile(dir / "console.txt");
    EXPECT_EQ(*status, 0);
    const auto cmds = commandsAfterTheClose(dir / "sim.log");
    EXPECT_GE(find(cmds, "CH02SEPL\\r"), 0);
    EXPECT_TRUE(endsWithTheTwoStops(cmds));
    EXPECT_EQ(count(cmds, "PA\\r"), 2);
    EXPECT_TRUE(inOrder(console(), {"NextC", "Script ended", "**********", " "}));
}

TEST_F(AppEndToEnd, CloseDuringAReviewEndsThePassWithTheTwoStopsAlone) {
    startPlayer({}, "1");
    std::unique_ptr<Child> app;
    // 00:00:01:00 to 00:00:04:00: 90 frames, 3.15 s of play.
    ASSERT_TRUE(startWithScript("TC100:00:01:00\r\nTC200:00:04:00\r\nReview\r\n", app))
        << readFile(dir / "console.txt");
    ASSERT_TRUE(waitForText(dir / "sim.log", "FR0000120SMPL\\r", std::chrono::seconds(30)));
    app->signal(SIGTERM);
    std::optional<int> status;
    secondsToEnd(*app, status);
    ASSERT_TRUE(status.has_value()) << "morvia did not end after the close";
    EXPECT_EQ(*status, 0);

    // The pass's closing pause would only come after the stops: it is not
    // sent, nor anything else of the pass after the close.
    const auto cmds = commandsAfterTheClose(dir / "sim.log");
    const int marker = find(cmds, "FR0000120SMPL\\r");
    ASSERT_GE(marker, 0);
    EXPECT_EQ(find(cmds, "ST\\r", marker), -1);
    EXPECT_EQ(count(cmds, "PA\\r"), 2);
    EXPECT_TRUE(endsWithTheTwoStops(cmds));
}

TEST_F(AppEndToEnd, CloseDuringAScriptWaitEndsAtOnce) {
    startPlayer({}, "1");
    std::unique_ptr<Child> app;
    ASSERT_TRUE(startWithScript("Wait600\r\nPlay\r\n", app)) << readFile(dir / "console.txt");
    ASSERT_TRUE(waitForText(dir / "console.txt", "Wait600", std::chrono::seconds(10)));
    // The start-up's own "PL" can still be on its way behind the script's
    // first line (the store sends the newest command first, and a slow build
    // widens the gap): count from after it, so that only a play sent after
    // the close would be the script's.
    ASSERT_TRUE(waitForText(dir / "sim.log", " cmd PL\\r", std::chrono::seconds(10)));
    const int before = static_cast<int>(commands(dir / "sim.log").size());
    app->signal(SIGTERM);
    std::optional<int> status;
    const double took = secondsToEnd(*app, status);
    ASSERT_TRUE(status.has_value()) << "morvia did not end after the close";
    EXPECT_EQ(*status, 0);
    // The wait had ten minutes to go; the close itself takes about a second.
    EXPECT_LT(took, 10.0);

    const auto out = console();
    EXPECT_TRUE(inOrder(out, {"Wait600", "Script ended", "**********", " "}));
    EXPECT_EQ(std::find(out.begin(), out.end(), "Play"), out.end()) << "no line after the cut wait ran";
    const auto cmds = commandsAfterTheClose(dir / "sim.log");
    EXPECT_EQ(find(cmds, "PL\\r", before), -1);
    EXPECT_TRUE(endsWithTheTwoStops(cmds));
}

TEST_F(AppEndToEnd, CloseDuringALongRepeatEndsThePassUnderWay) {
    startPlayer({}, "1");
    std::unique_ptr<Child> app;
    ASSERT_TRUE(startWithScript("TC100:00:01:00\r\nTC200:00:03:00\r\nRNum1000\r\nRepeat\r\n", app))
        << readFile(dir / "console.txt");
    ASSERT_TRUE(waitForText(dir / "sim.log", "FR0000090SMPL\\r", std::chrono::seconds(30)));
    app->signal(SIGTERM);
    std::optional<int> status;
    secondsToEnd(*app, status);
    ASSERT_TRUE(status.has_value()) << "morvia did not end after the close";
    EXPECT_EQ(*status, 0);

    const auto cmds = commandsAfterTheClose(dir / "sim.log");
    // One pass sends its play-to-marker command twice, 200 ms apart; the
    // second may be refused by the close. No second pass begins.
    EXPECT_GE(count(cmds, "FR0000090SMPL\\r"), 1);
    EXPECT_LE(count(cmds, "FR0000090SMPL\\r"), 2);
    EXPECT_EQ(find(cmds, "ST\\r", find(cmds, "FR0000090SMPL\\r")), -1) << "nothing of the pass after the close";
    EXPECT_TRUE(endsWithTheTwoStops(cmds));
    EXPECT_TRUE(inOrder(console(), {"Repeat", "Script ended", "**********", " "}));
}

TEST_F(AppEndToEnd, PulledCableIsReportedOnceAndTheReplugIsPickedUp) {
    const std::string link = (dir / "dvd-player").string();
    startPlayer({"--link", link, "--replug-after", "2"}, "1", link);
    auto app = startApp();
    ASSERT_TRUE(waitForText(dir / "console.txt", " Ready", std::chrono::seconds(60))) << readFile(dir / "console.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::size_t readyLines = console().size();
    sim->signal(SIGUSR1);  // the cable is pulled
    // Back after the replug (2 s) and the next reopen attempt (at most 1 s later).
    ASSERT_TRUE(waitForText(dir / "console.txt", "working again", std::chrono::seconds(10)))
        << readFile(dir / "console.txt");

    const auto out = console();
    const std::vector<std::string> outage(out.begin() + static_cast<long>(readyLines), out.end());
    ASSERT_EQ(outage.size(), 4u) << readFile(dir / "console.txt");
    EXPECT_EQ(outage[0], "Unable to write to Serial Port");
    EXPECT_EQ(outage[1], "Serial Port " + link + ": Input/output error");
    EXPECT_EQ(outage[2], "Serial Port " + link + " Opened OK");
    EXPECT_EQ(outage[3].rfind("Serial Port " + link + " working again after ", 0), 0u) << outage[3];

    // Polling goes on over the new terminal: frame queries after the replug.
    const std::string log = readFile(dir / "sim.log");
    const auto replugged = log.rfind(" evt line open on ");
    ASSERT_NE(replugged, std::string::npos);
    ASSERT_NE(log.find(" evt hang-up", 0), std::string::npos);
    EXPECT_NE(log.find(" cmd ?F\\r", replugged), std::string::npos) << "no poll after the replug";

    // And the close's stop reaches the player on it.
    app->signal(SIGTERM);
    const auto status = app->wait(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    const std::string after = readFile(dir / "sim.log");
    EXPECT_NE(after.find(" cmd PA\\r", replugged), std::string::npos);
}

// --- control from the network ---

std::string hexPort(int port) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", port);
    return buf;
}

// A listener on `netPort` of the loopback address, and on no other.
::testing::AssertionResult onLoopbackOnly(int netPort) {
    const auto addresses = listeningColumn(1);
    if (std::find(addresses.begin(), addresses.end(), "0100007F:" + hexPort(netPort)) == addresses.end())
        return ::testing::AssertionFailure() << "nothing listens on 127.0.0.1:" << netPort;
    if (std::find(addresses.begin(), addresses.end(), "00000000:" + hexPort(netPort)) != addresses.end())
        return ::testing::AssertionFailure() << "something listens on 0.0.0.0:" << netPort;
    return ::testing::AssertionSuccess();
}

TEST_F(AppEndToEnd, ControlServerServesFourClientsEachWithItsOwnAnswers) {
    using morvia::test::TcpClient;
    int netPort = 0;
    // With the session log on: the clients' connections and commands show there.
    fs::create_directories(dir / "logs");
    auto app = startWithListener("ControlServer=0\nSessionLog=" + (dir / "logs").string(),
                                 "Control server listening on 127.0.0.1:", netPort);
    ASSERT_GT(netPort, 0) << readFile(dir / "console.txt");
    EXPECT_TRUE(inOrder(console(), {"Control Server   = 0", "DVD-V7400 On " + port + " Ready"}));

    EXPECT_TRUE(onLoopbackOnly(netPort));

    // Two clients, each ending its lines with LF CR; a command reaches the
    // player, and each query is answered to the client that asked only.
    TcpClient a(netPort), b(netPort);
    ASSERT_EQ(a.readLine(), "OK\r\n");
    ASSERT_EQ(b.readLine(), "OK\r\n");
    const int plays = count(commands(dir / "sim.log"), "PL\\r");
    a.send("Play\n\r");
    EXPECT_TRUE(eventually([&] { return count(commands(dir / "sim.log"), "PL\\r") > plays; }));
    b.send("GetTi\n\r");
    a.send("GetTC\n\r");
    EXPECT_EQ(b.readLine(), "1\r\n");
    const std::string tc = a.readLine();
    EXPECT_EQ(tc.size(), 13u) << tc;
    EXPECT_EQ(tc[2], ':') << "the first line the first client gets is its own timecode, not the title";

    // Four at once; a fifth is told so and closed.
    TcpClient c(netPort), d(netPort);
    ASSERT_EQ(c.readLine(), "OK\r\n");
    ASSERT_EQ(d.readLine(), "OK\r\n");
    TcpClient e(netPort);
    EXPECT_EQ(e.readLine(), "Server Busy\r\n");
    EXPECT_TRUE(e.closedByServer());

    // After a KILL, and after a client that just drops, the next is served.
    a.send("KILL\n\r");
    EXPECT_TRUE(a.closedByServer());
    TcpClient f(netPort);
    EXPECT_EQ(f.readLine(), "OK\r\n");
    // The server learns of a dropped client only when its reset arrives:
    // a client that comes meanwhile is told the server is busy and, as
    // real clients do, tries again.
    d.reset();
    std::unique_ptr<TcpClient> g;
    EXPECT_TRUE(eventually([&] {
        g = std::make_unique<TcpClient>(netPort);
        return g->readLine() == "OK\r\n";
    }, std::chrono::seconds(20), std::chrono::milliseconds(20)));
    g->send("GetCh\r\n");
    EXPECT_EQ(g->readLine(), "1\r\n");

    // The close ends every connection, then the two stops.
    app->signal(SIGTERM);
    const auto status = app->wait(std::chrono::seconds(30));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    for (TcpClient* client : {&b, &c, &f, g.get()}) EXPECT_TRUE(client->closedByServer());
    EXPECT_TRUE(endsWithTheTwoStops(commandsAfterTheClose(dir / "sim.log")));

    // The session log names each client: the first client's play under its
    // own address, every connection opened and closed, the fifth refused.
    const auto logs = std::vector<fs::path>(fs::directory_iterator(dir / "logs"), fs::directory_iterator());
    ASSERT_EQ(logs.size(), 1u);
    int opened = 0, closed = 0, refused = 0, networkPlays = 0;
    for (const std::string& line : splitLines(readFile(logs[0]))) {
        auto has = [&](const std::string& field) { return line.find(field) != std::string::npos; };
        if (has("\"event\":\"connection\"")) {
            EXPECT_TRUE(has("\"source\":\"network\"")) << line;
            EXPECT_TRUE(has("\"peer\":\"127.0.0.1:")) << line;
            opened += has("\"outcome\":\"opened\"");
            closed += has("\"outcome\":\"closed\"") && !has("refused");
            refused += has("refused: Server Busy");
        }
        if (has("\"event\":\"command\"") && has("\"command\":\"play\"") && has("\"source\":\"network\"")) {
            EXPECT_TRUE(has("\"peer\":\"127.0.0.1:")) << line;
            ++networkPlays;
        }
    }
    EXPECT_EQ(opened, 6) << "a, b, c, d, f and g";
    EXPECT_EQ(closed, 6);
    EXPECT_GE(refused, 1) << "e (and any retry of g's)";
    EXPECT_EQ(networkPlays, 1);
}

TEST_F(AppEndToEnd, ListenerSettingsThatGiveNoListener) {
    // A port held by someone else.
    const int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(held, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(held, 1), 0);
    ASSERT_EQ(::getsockname(held, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const std::string heldPort = std::to_string(ntohs(addr.sin_port));

    // Both listeners' settings get the same value: one line each.
    struct Case {
        std::string value;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"20x1", "port \"20x1\" is not a number from 0 to 65535; it stays off"},
        {heldPort, "bind 127.0.0.1:" + heldPort + ": Address already in use; it stays off"},
    };
    startPlayer({}, "1");
    const std::string settings = readFile(dir / "Settings.txt");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::ofstream(dir / "Settings.txt") << settings << "ControlServer=" << c.value << "\n"
                                            << "HyperDeckServer=" << c.value << "\n";
        fs::remove(dir / "console.txt");
        auto app = startApp();
        ASSERT_TRUE(waitForText(dir / "console.txt", "Setting HyperDeckServer: ", std::chrono::seconds(90)))
            << readFile(dir / "console.txt");
        ASSERT_TRUE(eventually([&] { return console().back().ends_with("it stays off"); }));
        EXPECT_TRUE(inOrder(console(), {"DVD-V7400 On " + port + " Ready", "Setting ControlServer: " + c.reason,
                                        "Setting HyperDeckServer: " + c.reason}));
        // The program goes on, without a listening socket of its own.
        EXPECT_TRUE(listensNowhere(app->pid()));
        app->signal(SIGTERM);
        const auto status = app->wait(std::chrono::seconds(30));
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, 0);
    }
    ::close(held);
}

// A chapter change queues its title and chapter queries and its pauses two
// seconds after the chapter command; a close in between lets none of them
// out: only the two stops follow.
TEST_F(AppEndToEnd, CloseDuringANetworkChapterChangeSendsOnlyTheTwoStops) {
    using morvia::test::TcpClient;
    int netPort = 0;
    auto app = startWithControlServer(netPort);
    ASSERT_GT(netPort, 0) << readFile(dir / "console.txt");
    TcpClient client(netPort);
    ASSERT_EQ(client.readLine(), "OK\r\n");
    client.send("NextC\n");
    ASSERT_TRUE(waitForText(dir / "sim.log", "CH02SEPL\\r", std::chrono::seconds(30)));
    app->signal(SIGTERM);
    const auto status = app->wait(std::chrono::seconds(30));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);

    const auto cmds = commandsAfterTheClose(dir / "sim.log");
    const int chapter = find(cmds, "CH02SEPL\\r");
    ASSERT_GE(chapter, 0);
    EXPECT_EQ(find(cmds, "?A\\r", chapter), -1) << "no query of the change after the close";
    EXPECT_EQ(find(cmds, "ST\\r", chapter), -1) << "no pause of the change after the close";
    EXPECT_EQ(count(cmds, "PA\\r"), 2);
    EXPECT_TRUE(endsWithTheTwoStops(cmds));
    // The change's 19 commands, and what of its chapter command still waited.
    int dropped = 0;
    for (const auto& l : console())
        if (l.rfind("Close: ", 0) == 0) dropped = std::atoi(l.c_str() + 7);
    EXPECT_GE(dropped, 19) << readFile(dir / "console.txt");
    EXPECT_TRUE(client.closedByServer());
}

// The demonstration's and the benchmarks' hooks live in morvia-demo only: the
// operator's program names no MORVIA_ variable.
TEST(ShippedProgram, ReadsNoMorviaVariable) {
    EXPECT_EQ(readFile(MORVIA_BIN).find("MORVIA_"), std::string::npos);
    EXPECT_NE(readFile(MORVIA_DEMO_BIN).find("MORVIA_SCREENSHOT"), std::string::npos);
}

// One block from the HyperDeck port: its lines without CR LF, up to (not
// including) the empty line that ends a block with parameters; a one-line
// answer alone. Empty when nothing came.
std::vector<std::string> readBlock(morvia::test::TcpClient& c, int ms = 20000) {
    std::vector<std::string> out;
    for (;;) {
        const std::string line = c.readLine(ms);
        if (line.size() < 2 || !line.ends_with("\r\n")) return out;  // the end, or nothing in time
        const std::string text = line.substr(0, line.size() - 2);
        if (text.empty()) return out;
        out.push_back(text);
        if (out.size() == 1 && !text.ends_with(":")) return out;
    }
}

const std::vector<std::string> kHyperDeckGreeting = {"500 connection info:", "protocol version: 1.11",
                                                     "model: Morvia DVD-V7400 controller"};

TEST_F(AppEndToEnd, HyperDeckPortServesFourClientsOnLoopbackAndRefusesAFifth) {
    using morvia::test::TcpClient;
    int netPort = 0;
    auto app = startWithHyperDeck(netPort);
    ASSERT_GT(netPort, 0) << readFile(dir / "console.txt");
    EXPECT_TRUE(inOrder(console(), {"HyperDeck Server = 0", "DVD-V7400 On " + port + " Ready"}));
    EXPECT_TRUE(onLoopbackOnly(netPort));

    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::make_unique<TcpClient>(netPort));
        EXPECT_EQ(readBlock(*clients.back()), kHyperDeckGreeting) << "client " << i;
    }
    TcpClient& a = *clients[0];
    TcpClient& b = *clients[1];

    // Commands in both forms reach the player.
    const int slow = count(commands(dir / "sim.log"), "30SPMF\\r");
    a.sendLine("play: speed: 50");
    EXPECT_EQ(readBlock(a), std::vector<std::string>{"200 ok"});
    EXPECT_TRUE(eventually([&] { return count(commands(dir / "sim.log"), "30SPMF\\r") > slow; }));
    b.send("goto:\r\ntimecode: 00:00:04:00\r\n\r\n");
    EXPECT_EQ(readBlock(b), std::vector<std::string>{"200 ok"});
    EXPECT_TRUE(eventually([&] { return count(commands(dir / "sim.log"), "FR0000120SE\\r") > 0; }));

    // A query answers the client that asked, and only it: b's next answer
    // is its own.
    a.sendLine("transport info");
    const std::vector<std::string> info = readBlock(a);
    ASSERT_FALSE(info.empty());
    EXPECT_EQ(info[0], "208 transport info:");
    EXPECT_NE(std::find(info.begin(), info.end(), "slot id: 1"), info.end());
    b.sendLine("ping");
    EXPECT_EQ(readBlock(b), std::vector<std::string>{"200 ok"});

    // Garbage and refused commands leave the connection open.
    a.send(std::string("\x01\x02\xfe\xff garbage\r\nrecord\r\n"));
    EXPECT_EQ(readBlock(a), std::vector<std::string>{"100 syntax error"});
    EXPECT_EQ(readBlock(a), std::vector<std::string>{"103 unsupported"});

    // A fifth is told and closed; the four go on.
    TcpClient fifth(netPort);
    EXPECT_EQ(fifth.readLine(), "120 connection rejected\r\n");
    EXPECT_TRUE(fifth.closedByServer());
    clients[3]->sendLine("ping");
    EXPECT_EQ(readBlock(*clients[3]), std::vector<std::string>{"200 ok"});

    // A dropped client frees its place for the next (which, as real
    // clients do, tries again while the server learns of the drop).
    clients[2]->reset();
    std::unique_ptr<TcpClient> next;
    EXPECT_TRUE(eventually([&] {
        next = std::make_unique<TcpClient>(netPort);
        return readBlock(*next) == kHyperDeckGreeting;
    }, std::chrono::seconds(20), std::chrono::milliseconds(20)));

    // quit answers, then closes.
    a.sendLine("quit");
    EXPECT_EQ(readBlock(a), std::vector<std::string>{"200 ok"});
    EXPECT_TRUE(a.closedByServer());

    // The close ends every connection, then the two stops.
    app->signal(SIGTERM);
    const auto status = app->wait(std::chrono::seconds(30));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(b.closedByServer());
    EXPECT_TRUE(endsWithTheTwoStops(commandsAfterTheClose(dir / "sim.log")));
}

TEST_F(AppEndToEnd, HyperDeckClientLibraryConnectsPlaysStopsAndGoesToATimecode) {
    const fs::path script = fs::path(MORVIA_TESTS_SOURCE_DIR) / "hyperdeck" / "client.mjs";
    const fs::path library =
        fs::path(MORVIA_TESTS_SOURCE_DIR) / "hyperdeck" / "node_modules" / "hyperdeck-connection" / "package.json";
    std::string node;
    for (const char* candidate : {"/usr/bin/node", "/usr/local/bin/node", "/usr/bin/nodejs"})
        if (node.empty() && ::access(candidate, X_OK) == 0) node = candidate;
    ASSERT_FALSE(node.empty()) << "Node.js is not installed: run scripts/setup.sh";
    ASSERT_TRUE(fs::exists(library)) << "hyperdeck-connection is not installed in tests/hyperdeck: run scripts/setup.sh";

    int netPort = 0;
    auto app = startWithHyperDeck(netPort);
    ASSERT_GT(netPort, 0) << readFile(dir / "console.txt");
    Child client({node, script.string(), std::to_string(netPort)}, script.parent_path(), dir / "client.txt", {},
                 Child::Errors::Merged);
    const std::optional<int> status = client.wait(std::chrono::seconds(90));
    const std::string out = readFile(dir / "client.txt");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("PASS"), std::string::npos) << out;
    // The play and the search reached the player.
    EXPECT_GT(count(commands(dir / "sim.log"), "PL\\r"), 0);
    EXPECT_GT(count(commands(dir / "sim.log"), "FR0000150SE\\r"), 0) << "goto 00:00:05:00";
}

}  // namespace
