// EDL saves under hostile conditions: the saving process killed at random
// moments, and a disk that fills up during the save.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "faults/LiveRig.h"

using namespace morvia;
using namespace morvia::faults;

namespace {

bool writeAllFd(int fd, const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string readAllFd(int fd) {
    std::string out;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

TEST(SaveFaults, KillingTheSaverLeavesTheOldOrTheNewFileNeverATornOne) {
    TempDir dir("torn");
    ConsoleTail console;
    const std::string path = dir.file("EDL.txt");
    const EdlEntries small = sampleEntries(3, "Alpha");
    const EdlEntries large = sampleEntries(90, "Bravo");
    const std::string oldBytes = edl::format(path, "Morvia", small);
    const std::string newBytes = edl::format(path, "Morvia", large);

    // How long one save of the long list takes here, so the random kills
    // below spread over a whole save whatever the build and the load.
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(SaveEDL(path, "Morvia", large));
    const auto saveUs = std::max<long long>(
        200, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count() / 4);

    const unsigned seed = std::random_device{}();
    std::printf("[ seed     ] %u, one save %lld us\n", seed, saveUs);
    std::mt19937 rng(seed);
    const int rounds = kSanitized ? 15 : 30;
    int sawOld = 0, sawNew = 0, afterDone = 0;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_TRUE(SaveEDL(path, "Morvia", small));
        int go[2], done[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(done), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // The child saves the long list over the short one once when told
            // to, says so, and waits to be killed.
            ::close(go[1]);
            ::close(done[0]);
            char b = 0;
            if (::read(go[0], &b, 1) != 1) ::_exit(4);
            if (!SaveEDL(path, "Morvia", large)) ::_exit(3);
            if (::write(done[1], &b, 1) != 1) ::_exit(4);
            for (;;) ::pause();
        }
        ::close(go[0]);
        ::close(done[1]);
        const char b = 1;
        ASSERT_EQ(::write(go[1], &b, 1), 1);
        // Every third kill waits until the save is done, so the new file is
        // seen for certain; the others land anywhere within the time of one save.
        const bool waitForDone = round % 3 == 0;
        if (waitForDone) {
            char d;
            ASSERT_EQ(::read(done[0], &d, 1), 1);
            ++afterDone;
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % saveUs));
        }
        ::kill(pid, SIGKILL);
        int st = 0;
        ASSERT_EQ(::waitpid(pid, &st, 0), pid);
        ::close(go[1]);
        ::close(done[0]);
        ASSERT_TRUE(WIFSIGNALED(st)) << "the saving child ended by itself, status " << WEXITSTATUS(st);

        const std::string now = readFile(path);
        if (now == oldBytes) {
            EXPECT_FALSE(waitForDone) << "round " << round << ": the save said done but the old file is there";
            ++sawOld;
        } else if (now == newBytes) {
            ++sawNew;
        } else {
            ADD_FAILURE() << "round " << round << ": torn file of " << now.size() << " bytes";
            break;
        }
        const auto events = LoadEDL(path);
        EXPECT_TRUE(events.size() == 3 || events.size() == 90) << events.size();
    }
    std::printf("[ saves    ] %d kills: old file %d times, new file %d times\n", rounds, sawOld, sawNew);
    EXPECT_EQ(sawOld + sawNew, rounds);
    EXPECT_GE(sawNew, afterDone);
}

// What the child of the full-disk case reports back, one field per line.
struct DiskReport {
    std::string method;  // "tmpfs" or "rlimit"
    std::string why;     // why the tmpfs could not be had
    bool saved = true;
    std::string lastLine;
    bool intact = false;
};

// Runs in a child process: makes a private 64 KiB tmpfs on `dir` (as root in
// a new mount namespace, or in a new user namespace), fills it, then saves a
// list too large for what is left. Without a tmpfs, a file-size limit makes
// the write fail the same way (EFBIG instead of ENOSPC).
[[noreturn]] void fullDiskChild(const std::string& dir, int reportFd) {
    std::string lastLine;
    Utils::setConsoleSink([&lastLine](std::string_view s) { lastLine = std::string(s); });
    std::string method = "tmpfs", why;

    bool mounted = false;
    if (::unshare(CLONE_NEWNS) != 0) {
        why = std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            auto put = [](const char* file, const std::string& text) {
                const int fd = ::open(file, O_WRONLY | O_CLOEXEC);
                const bool ok = fd >= 0 && writeAllFd(fd, text);
                if (fd >= 0) ::close(fd);
                return ok;
            };
            put("/proc/self/setgroups", "deny");
            if (put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
                why.clear();
            } else {
                why += "; user namespace id maps refused";
            }
        } else {
            why += std::string("; unshare(CLONE_NEWUSER): ") + std::strerror(errno);
        }
    }
    if (why.empty()) {
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") == 0) {
            mounted = true;
        } else {
            why = std::string("mount tmpfs: ") + std::strerror(errno);
        }
    }

    const std::string path = dir + "/EDL.txt";
    const EdlEntries small = sampleEntries(3, "Old");
    const std::string oldBytes = edl::format(path, "Morvia", small);
    bool saved = true;
    if (!SaveEDL(path, "Morvia", small)) ::_exit(5);
    if (mounted) {
        // Fill what is left of the disk.
        const int fd = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) ::_exit(6);
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {}
        if (errno != ENOSPC) ::_exit(7);
        const char one = 'x';
        while (::write(fd, &one, 1) > 0) {}
        ::close(fd);
        saved = SaveEDL(path, "Morvia", sampleEntries(100, "New"));
    } else {
        method = "rlimit";
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {};
        ::getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = 1024;
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(8);
        saved = SaveEDL(path, "Morvia", sampleEntries(100, "New"));
    }
    const bool intact = readFile(path) == oldBytes;
    const std::string report =
        method + "\n" + why + "\n" + (saved ? "1" : "0") + "\n" + lastLine + "\n" + (intact ? "1" : "0") + "\n";
    writeAllFd(reportFd, report);
    ::_exit(0);
}

TEST(SaveFaults, AFullDiskIsReportedAndTheOldFileStays) {
    TempDir dir("fulldisk");
    int pipeFd[2];
    ASSERT_EQ(::pipe(pipeFd), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(pipeFd[0]);
        fullDiskChild(dir.path().string(), pipeFd[1]);
    }
    ::close(pipeFd[1]);
    const std::string text = readAllFd(pipeFd[0]);
    ::close(pipeFd[0]);
    int st = 0;
    ASSERT_EQ(::waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st)) << "child died by signal " << WTERMSIG(st);
    ASSERT_EQ(WEXITSTATUS(st), 0) << "child failed at step " << WEXITSTATUS(st);

    DiskReport r;
    std::vector<std::string> f;
    std::size_t at = 0;
    for (std::size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        f.push_back(text.substr(at, nl - at));
    ASSERT_EQ(f.size(), 5u) << text;
    r.method = f[0];
    r.why = f[1];
    r.saved = f[2] == "1";
    r.lastLine = f[3];
    r.intact = f[4] == "1";
    if (r.method == "tmpfs") {
        std::printf("[ disk     ] a full 64 KiB tmpfs (write fails with ENOSPC)\n");
    } else {
        std::printf("[ disk     ] no tmpfs here (%s): a file-size limit makes the write fail instead (EFBIG)\n",
                    r.why.c_str());
    }
    EXPECT_FALSE(r.saved);
    EXPECT_EQ(r.lastLine.rfind("FileIOError: ", 0), 0u) << r.lastLine;
    ASSERT_GE(r.lastLine.size(), 2u);
    EXPECT_EQ(r.lastLine.substr(r.lastLine.size() - 2), " 1") << r.lastLine;
    EXPECT_TRUE(r.intact) << "the old EDL was damaged by the failed save";
}

}  // namespace
