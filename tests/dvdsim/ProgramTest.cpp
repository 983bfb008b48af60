// The dvdsim program: first output line, link, log file and a clean end on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "dvdsim/PtyClient.h"

extern char** environ;

namespace {

#ifdef DVDSIM_BIN
TEST(DvdsimProgram, PrintsSlaveLinksLogsAndEndsOnSigterm) {
    char dir[] = "/tmp/dvdsim-prog-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/player";
    const std::string log = std::string(dir) + "/sim.log";

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {DVDSIM_BIN, "--link", link, "--log", log, "--spinup", "100"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, DVDSIM_BIN, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    struct Reaper {  // never leave the child running when an assertion ends the test early
        pid_t pid;
        ~Reaper() {
            if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
        }
    } reaper{pid};

    std::string first;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') first += c;
    ::close(out[0]);
    EXPECT_EQ(first.rfind("/dev/pts/", 0), 0u) << first;

    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(first, target);
    {
        dvdsim::test::PtyClient client(link);  // through the link, as a controller would
        EXPECT_EQ(client.ask("?P"), "P01\r");
        EXPECT_EQ(client.ask("SA"), "R\r");
        EXPECT_EQ(client.ask("?P"), "P06\r");
    }

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    reaper.pid = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link left behind";

    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    const auto p1 = s.find(" cmd ?P\\r\n"), p2 = s.find(" cmd SA\\r\n"), p3 = s.find(" rep R\\r +");
    EXPECT_NE(p1, std::string::npos) << s;
    EXPECT_NE(p2, std::string::npos) << s;
    EXPECT_NE(p3, std::string::npos) << s;
    EXPECT_LT(p1, p2);
    EXPECT_LT(p2, p3);
    std::remove(log.c_str());
    ::rmdir(dir);
}

TEST(DvdsimProgram, RefusesBadOptions) {
    std::vector<std::string> args = {DVDSIM_BIN, "--garbage", "2"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, DVDSIM_BIN, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
}
#else
TEST(DvdsimProgram, BinaryPathIsKnown) { FAIL() << "DVDSIM_BIN is not defined"; }
#endif

}  // namespace
