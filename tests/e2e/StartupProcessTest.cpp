// Start-up of the built program as a process in a temporary directory: its
// console lines, its exit status and its pauses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "serial/PtyPeer.h"
#include "support/Files.h"

namespace {

struct ProcessRun {
    std::vector<std::string> lines;
    int status = -1;  // exit status, -1 when killed or not started
    double seconds = 0;
};

using morvia::test::splitLines;

class StartupProcess : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() / ("h1-e2e-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void settings(const std::string& text) { std::ofstream(dir_ / "Settings.txt", std::ios::binary) << text; }

    // How a run is started and what happens once it has printed `stopAfter`
    // lines (nothing when 0).
    struct Launch {
        std::size_t stopAfter = 0;
        int limit = 60;                 // s; killed after that
        int signal = SIGKILL;           // sent after stopAfter lines; reading goes on unless SIGKILL
        bool closeOutput = false;       // instead: close our end of its output, as `| head` does
        std::vector<std::string> args;  // after the program name
        bool noDisplay = false;         // neither a display nor a platform setting
    };

    // Runs the program in the temporary directory until it ends, or until it
    // has printed `stopAfter` lines (then it is killed: what follows belongs
    // to the controller). Kills it after `limit` s.
    ProcessRun run(std::size_t stopAfter = 0, int limit = 60) {
        Launch how;
        how.stopAfter = stopAfter;
        how.limit = limit;
        return run(how);
    }

    ProcessRun run(const Launch& how) {
        ProcessRun r;
#ifndef MORVIA_BIN
        ADD_FAILURE() << "MORVIA_BIN is not defined: the morvia program was not built";
        return r;
#else
        int fds[2];
        if (::pipe(fds) != 0) {
            ADD_FAILURE() << "pipe";
            return r;
        }
        std::vector<std::string> args{MORVIA_BIN};
        args.insert(args.end(), how.args.begin(), how.args.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        auto t0 = std::chrono::steady_clock::now();
        pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            if (::chdir(dir_.c_str()) != 0) ::_exit(127);
            if (how.noDisplay) {
                for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) ::unsetenv(v);
            } else {
                ::setenv("QT_QPA_PLATFORM", "offscreen", 0);  // no display needed
            }
            ::execv(MORVIA_BIN, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string out;
        bool reading = true;
        auto deadline = t0 + std::chrono::seconds(how.limit);
        while (reading) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0) {
                ::kill(pid, SIGKILL);
                ADD_FAILURE() << "morvia still running after " << how.limit << " s";
                break;
            }
            pollfd pf{fds[0], POLLIN, 0};
            if (::poll(&pf, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
            if (how.stopAfter > 0 &&
                static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= how.stopAfter) {
                r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                if (how.closeOutput) {
                    reading = false;
                } else {
                    ::kill(pid, how.signal);
                    reading = how.signal != SIGKILL;
                    r.seconds = 0;
                }
            }
        }
        ::close(fds[0]);
        int ws = 0;
        while (::waitpid(pid, &ws, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ADD_FAILURE() << "morvia still running after " << how.limit << " s";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (r.seconds == 0) r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
        r.lines = splitLines(out);
        if (how.stopAfter > 0 && how.signal == SIGKILL && r.lines.size() > how.stopAfter) r.lines.resize(how.stopAfter);
        return r;
#endif
    }

    std::filesystem::path dir_;
};

const char* const kSettings =
    "Verbose=no\n"
    "UserNote=ABCDEFGHIJKLMNOPQRST\n"
    "TCOffset=01:00:00:00\n"
    "StartTitle=0\n"
    "UseClipboard=YES\n"
    "StopOnExit=YES\n";

}  // namespace

TEST_F(StartupProcess, WithoutSettingsFileSaysSoAndEndsWithStatusOne) {
    ProcessRun r = run();
    EXPECT_EQ(r.lines, (std::vector<std::string>{"No configuration file found!"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_GE(r.seconds, 4.5) << "the message stays readable for five seconds";
}

TEST_F(StartupProcess, PortThatDoesNotExistEndsWithStatusZero) {
    // With a session log, whose last line says how the run ended.
    const std::filesystem::path logs = dir_ / "logs";
    std::filesystem::create_directories(logs);
    settings(std::string(kSettings) + "DVDCOMPort=/dev/no-such-player-h1\nSessionLog=" + logs.string() + "\n");
    ProcessRun r = run();
    EXPECT_EQ(r.lines,
              (std::vector<std::string>{"Morvia/Lintra", "", " ", "Serial Port /dev/no-such-player-h1 not available"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(r.seconds, 4.5);
    const auto log = std::filesystem::directory_iterator(logs);
    ASSERT_NE(log, std::filesystem::directory_iterator());
    const std::vector<std::string> events = morvia::test::fileLines(log->path().string());
    ASSERT_GE(events.size(), 2u);
    EXPECT_NE(events.front().find(R"("event":"start")"), std::string::npos) << events.front();
    EXPECT_NE(events.back().find(R"("event":"end")"), std::string::npos) << events.back();
    EXPECT_NE(events.back().find(R"("outcome":"start-up failed")"), std::string::npos) << events.back();

    settings(std::string(kSettings) + "DVDCOMPort=NotAPort\n");
    r = run();
    ASSERT_GE(r.lines.size(), 2u);
    EXPECT_EQ(r.lines.back(), "Serial Port NotAPort not available");
    EXPECT_EQ(r.status, 0);
}

TEST_F(StartupProcess, PseudoTerminalPortPrintsTheSettingsBlock) {
    morvia::test::PtyPeer peer;
    settings(std::string(kSettings) + "DVDCOMPort=" + peer.slavePath() + "\n");
    ProcessRun r = run(20);
    EXPECT_EQ(r.lines, (std::vector<std::string>{
                           "Morvia/Lintra",
                           "",
                           // A pseudo-terminal has no modem lines to raise.
                           "Unable to set DTR=1",
                           "Unable to set RTS=1",
                           "Serial Port " + peer.slavePath() + " Opened OK",
                           "",
                           "Morvia",
                           " ",
                           "SETTINGS:",
                           "User Note        = ABCDEFGHIJKLMNO",
                           "DVD Type         = DVD V7400",
                           "DVD COM Port     = " + peer.slavePath(),
                           "Verbose          = no",
                           "Starting Title   = 1",
                           "Time Code Offset = 01:00:00:00",
                           "Use Clipboard    = YES",
                           "Stop On Exit     = YES",
                           "Control Server   = off",
                           "HyperDeck Server = off",
                           "",
                       }));
    EXPECT_LT(r.seconds, 4.0) << "a normal start-up does not pause before the controller";
}

TEST_F(StartupProcess, BadStartTitleStopsWithStatusOne) {
    morvia::test::PtyPeer peer;
    settings(std::string("DVDCOMPort=") + peer.slavePath() + "\nStartTitle=two\n");
    ProcessRun r = run();
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), "Setting StartTitle is not a whole number: two");
    EXPECT_EQ(r.status, 1);
    for (const auto& l : r.lines) EXPECT_NE(l, "Morvia/Lintra") << "start-up stops before the banner";
}

TEST_F(StartupProcess, SettingsAreReadBeforeTheToolkitNeedsADisplay) {
    Launch how;
    how.noDisplay = true;
    ProcessRun r = run(how);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"No configuration file found!"}));
    EXPECT_EQ(r.status, 1);
}

TEST_F(StartupProcess, OnlyThePlatformArgumentCountsAndAClosedConsoleIsNoReason) {
    // The toolkit would take "-style" and "-display" for itself; only
    // "-platform NAME" reaches it, so a platform that does not exist ends the
    // program before the port is opened.
    settings(std::string(kSettings) + "DVDCOMPort=/dev/no-such-player-h1\n");
    Launch how;
    how.args = {"--anything", "-style", "no-such-style", "-display", "no-such-display:9"};
    ProcessRun r = run(how);
    EXPECT_EQ(r.lines,
              (std::vector<std::string>{"Morvia/Lintra", "", " ", "Serial Port /dev/no-such-player-h1 not available"}));
    EXPECT_EQ(r.status, 0);
    how.args = {"--anything", "-platform", "no-such-platform"};
    r = run(how);
    EXPECT_NE(r.status, 0);
    for (const auto& line : r.lines) EXPECT_EQ(line.find("Serial Port"), std::string::npos) << line;

    // morvia | head -2: the third line goes into a closed pipe.
    how = Launch{};
    how.stopAfter = 2;
    how.closeOutput = true;
    r = run(how);
    EXPECT_EQ(r.status, 0) << "the port failure's status, not a broken pipe";
}

TEST_F(StartupProcess, CloseSignalsKeepTheStatusOfAFailurePause) {
    struct Case {
        const char* what;
        std::string settings;  // none: no file at all
        std::size_t lines;     // printed when the pause begins
        int signal;
        int status;
    };
    morvia::test::PtyPeer peer;
    const Case cases[] = {
        {"no settings file", "", 1, SIGTERM, 1},
        {"start title",
         "Verbose=no\nUserNote=A\nTCOffset=01:00:00:00\nUseClipboard=NO\nStopOnExit=NO\nStartTitle=two\nDVDCOMPort=" +
             peer.slavePath() + "\n",
         1, SIGINT, 1},
        {"port not available", std::string(kSettings) + "DVDCOMPort=/dev/no-such-player-h1\n", 4, SIGINT, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir_ / "Settings.txt");
        if (!c.settings.empty()) settings(c.settings);
        Launch how;
        how.stopAfter = c.lines;
        how.signal = c.signal;
        ProcessRun r = run(how);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.lines.size(), c.lines) << "nothing printed after the signal";
    }
}
