// A child program for the end-to-end tests and benchmarks: started with its
// arguments and the caller's environment (plus extra entries), in a chosen
// directory, with its output in a file. Killed and reaped on destruction.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace morvia::test {

class ChildProcess {
public:
    // Where the child's standard error goes: a file next to the output
    // (its name + ".err"), or the output file itself.
    enum class Errors { Separate, Merged };

    ChildProcess(const std::vector<std::string>& args, const std::filesystem::path& dir,
                 const std::filesystem::path& out, const std::vector<std::string>& extraEnv = {},
                 Errors errors = Errors::Separate) {
        std::vector<std::string> env = extraEnv;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int efd = errors == Errors::Merged
                            ? fd
                            : ::open((out.string() + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || efd < 0) {
            if (fd >= 0) ::close(fd);
            if (efd >= 0 && efd != fd) ::close(efd);
            throw std::runtime_error("cannot create " + out.string());
        }
        launched_ = std::chrono::steady_clock::now();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fd, 1);
            ::dup2(efd, 2);
            if (::chdir(dir.c_str()) != 0) ::_exit(126);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(fd);
        if (efd != fd) ::close(efd);
        if (pid_ < 0) throw std::runtime_error("fork failed");
    }
    ~ChildProcess() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // When the child was started (steady clock, CLOCK_MONOTONIC on Linux).
    std::chrono::steady_clock::time_point launched() const { return launched_; }
    void signal(int sig) const { ::kill(pid_, sig); }

    // The exit status (128 + signal when killed) once the process ended
    // within `limit`; nullopt otherwise.
    std::optional<int> wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!status_) {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                break;
            }
            if (std::chrono::steady_clock::now() > end) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status_;
    }

    // Sends `sig` and waits up to `limit` for the end; SIGKILL after that.
    void end(int sig, std::chrono::milliseconds limit) {
        if (status_) return;
        signal(sig);
        if (wait(limit)) return;
        ::kill(pid_, SIGKILL);
        wait(std::chrono::hours(1));
    }

    // User + system CPU seconds of the whole process.
    double cpuSeconds() const { return statCpu(procDir() + "/stat"); }

    // Per thread: name ("<comm> [tid]", the main thread marked) and CPU seconds.
    std::vector<std::pair<std::string, double>> threads() const {
        std::vector<std::pair<std::string, double>> out;
        std::error_code ec;
        for (const auto& t : std::filesystem::directory_iterator(procDir() + "/task", ec)) {
            const std::string stat = slurp(t.path() / "stat");
            const auto open = stat.find('('), close = stat.rfind(')');
            if (open == std::string::npos || close == std::string::npos) continue;
            const std::string tid = t.path().filename().string();
            out.emplace_back(stat.substr(open + 1, close - open - 1) + " [" + tid +
                                 (tid == std::to_string(pid_) ? ", Qt main thread]" : "]"),
                             statCpu((t.path() / "stat").string()));
        }
        return out;
    }

    // A field of /proc/<pid>/status in kB ("VmRSS", "VmHWM"); -1 when absent.
    long statusKb(const std::string& key) const {
        std::istringstream in(slurp(procDir() + "/status"));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
        }
        return -1;
    }

private:
    std::string procDir() const { return "/proc/" + std::to_string(pid_); }
    static std::string slurp(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static double statCpu(const std::string& path) {
        const std::string stat = slurp(path);
        const auto close = stat.rfind(')');  // the name may hold blanks and brackets
        if (close == std::string::npos) return 0;
        std::istringstream in(stat.substr(close + 1));
        std::vector<std::string> f;
        for (std::string x; in >> x;) f.push_back(x);
        // After the name: state (3), ..., utime (14), stime (15).
        if (f.size() < 13) return 0;
        return (std::stod(f[11]) + std::stod(f[12])) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point launched_{};
    std::optional<int> status_;
};

}  // namespace morvia::test
