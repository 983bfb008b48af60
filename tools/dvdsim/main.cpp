// dvdsim: an emulated DVD-V7400 on a pseudo-terminal.
//
// Prints the slave terminal's path as its first line of output, then serves commands until
// SIGINT or SIGTERM, when it closes the line and removes its link. SIGUSR1 hangs the line up at
// once, as pulling the cable would. After a hang-up it keeps running, lineless (or replugged with
// --replug-after), until signalled.
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "dvdsim/Simulator.h"

namespace {

constexpr const char* kUsage =
    "usage: dvdsim [options]\n"
    "  --link PATH        also make a symlink PATH to the slave terminal\n"
    "  --log FILE         log every command and reply, with monotonic ms timestamps\n"
    "  --latency MS       carriage return to first reply byte (default 5)\n"
    "  --spinup MS        spin-up time after SA (default 2000)\n"
    "  --search MS        time a search takes (default 300)\n"
    "  --titles N         titles on the disc (default 3)\n"
    "  --chapters N       chapters per title (default 12)\n"
    "  --frames N         frames per chapter (default 1800)\n"
    "  --silent           read and obey commands, never answer\n"
    "  --unit-off         never leave park\n"
    "  --error-replies    answer E04 to everything\n"
    "  --garbage RATE     replace that share (0..1) of reply bytes with random bytes\n"
    "  --late MS          add MS to every reply's latency\n"
    "  --hangup-after S   close the line after S seconds (the link goes with it)\n"
    "  --replug-after S   S seconds after a hang-up open a fresh terminal and point the\n"
    "                     link at it, as a replugged adapter\n"
    "  --seed N           seed of the garbage generator\n"
    "SIGUSR1 hangs the line up at once.\n";

[[noreturn]] void usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "dvdsim: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    std::exit(2);
}

double toNumber(std::string_view option, const char* text, double lo, double hi) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= lo && v <= hi)) {
        usage("bad value for " + std::string(option) + ": " + text);
    }
    return v;
}

dvdsim::Options parse(int argc, char** argv) {
    dvdsim::Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) usage("missing value for " + std::string(a));
            return argv[++i];
        };
        auto integer = [&](double lo, double hi) {
            const char* text = value();
            const double v = toNumber(a, text, lo, hi);
            if (v != static_cast<double>(static_cast<int>(v))) usage("not a whole number: " + std::string(text));
            return static_cast<int>(v);
        };
        if (a == "--link") {
            o.linkPath = value();
        } else if (a == "--log") {
            o.logPath = value();
        } else if (a == "--latency") {
            o.latencyMs = integer(0, 60000);
        } else if (a == "--spinup") {
            o.spinupMs = integer(0, 600000);
        } else if (a == "--search") {
            o.searchMs = integer(0, 600000);
        } else if (a == "--titles") {
            o.disc.titles = integer(1, 99);
        } else if (a == "--chapters") {
            o.disc.chaptersPerTitle = integer(1, 99);
        } else if (a == "--frames") {
            o.disc.framesPerChapter = integer(1, 100000);
        } else if (a == "--silent") {
            o.faults.silent = true;
        } else if (a == "--unit-off") {
            o.faults.unitOff = true;
        } else if (a == "--error-replies") {
            o.faults.errorReplies = true;
        } else if (a == "--garbage") {
            o.faults.garbageRate = toNumber(a, value(), 0.0, 1.0);
        } else if (a == "--late") {
            o.faults.lateMs = integer(0, 600000);
        } else if (a == "--hangup-after") {
            o.hangupAfterMs = static_cast<int>(toNumber(a, value(), 0.0, 86400.0) * 1000.0);
        } else if (a == "--replug-after") {
            o.replugAfterMs = static_cast<int>(toNumber(a, value(), 0.0, 86400.0) * 1000.0);
        } else if (a == "--seed") {
            o.seed = static_cast<unsigned>(integer(0, 2147483647.0));
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            usage("unknown option " + std::string(a));
        }
    }
    if (static_cast<long long>(o.disc.chaptersPerTitle) * o.disc.framesPerChapter > 9'999'999) {
        usage("a title longer than 9,999,999 frames does not fit the frame reply");
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    dvdsim::Options options = parse(argc, argv);

    // Block the ending signals in every thread; the main thread takes them with sigwait.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);

    try {
        dvdsim::Simulator sim(std::move(options));
        sim.start();
        std::printf("%s\n", sim.slavePath().c_str());
        std::fflush(stdout);
        int sig = 0;
        while (sigwait(&ending, &sig) == 0 && sig == SIGUSR1) sim.hangUp();
        sim.stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
