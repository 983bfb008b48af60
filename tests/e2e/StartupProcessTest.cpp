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
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "serial/PtyPeer.h"

namespace {

struct ProcessRun {
    std::vector<std::string> lines;
    int status = -1;  // exit status, -1 when killed or not started
    double seconds = 0;
};

std::vector<std::string> splitLines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string l;
    while (std::getline(in, l)) lines.push_back(l);
    return lines;
}

class StartupProcess : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("h1-e2e-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void settings(const std::string& text) { std::ofstream(dir_ / "Settings.txt", std::ios::binary) << text; }

    // Runs the program in the temporary directory until it ends, or until it
    // has printed `stopAfter` lines (then it is killed: what follows belongs
    // to the controller). Kills it after `limit` s.
    ProcessRun run(std::size_t stopAfter = 0, int limit = 60) {
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
        auto t0 = std::chrono::steady_clock::now();
        pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            if (::chdir(dir_.c_str()) != 0) ::_exit(127);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 0);  // no display needed
            ::execl(MORVIA_BIN, MORVIA_BIN, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string out;
        auto deadline = t0 + std::chrono::seconds(limit);
        while (true) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) {
                ::kill(pid, SIGKILL);
                ADD_FAILURE() << "morvia still running after " << limit << " s";
                break;
            }
            pollfd pf{fds[0], POLLIN, 0};
            if (::poll(&pf, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
            if (stopAfter > 0 && static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= stopAfter) {
                r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                ::kill(pid, SIGKILL);
                break;
            }
        }
        ::close(fds[0]);
        int ws = 0;
        ::waitpid(pid, &ws, 0);
        if (r.seconds == 0) r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
        r.lines = splitLines(out);
        if (stopAfter > 0 && r.lines.size() > stopAfter) r.lines.resize(stopAfter);
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

} // namespace

TEST_F(StartupProcess, WithoutSettingsFileSaysSoAndEndsWithStatusOne) {
    ProcessRun r = run();
    EXPECT_EQ(r.lines, (std::vector<std::string>{"No configuration file found!"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_GE(r.seconds, 4.5) << "the message stays readable for five seconds";
}

TEST_F(StartupProcess, PortThatDoesNotExistEndsWithStatusZero) {
    settings(std::string(kSettings) + "DVDCOMPort=/dev/no-such-player-h1\n");
    ProcessRun r = run();
    EXPECT_EQ(r.lines, (std::vector<std::string>{"Morvia/Lintra", "", " ", "Serial Port /dev/no-such-player-h1 not available"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(r.seconds, 4.5);

    settings(std::string(kSettings) + "DVDCOMPort=NotAPort\n");
    r = run();
    ASSERT_GE(r.lines.size(), 2u);
    EXPECT_EQ(r.lines.back(), "Serial Port NotAPort not available");
    EXPECT_EQ(r.status, 0);
}

TEST_F(StartupProcess, PseudoTerminalPortPrintsTheSettingsBlock) {
    morvia::test::PtyPeer peer;
    settings(std::string(kSettings) + "DVDCOMPort=" + peer.slavePath() + "\n");
    ProcessRun r = run(18);
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
