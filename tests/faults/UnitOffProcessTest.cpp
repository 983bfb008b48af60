// The built morvia program against a dvdsim player that is switched off: it
// keeps asking for the player's mode without spinning, then says "Please Turn
// Unit ON" and ends with status 0, and an EDL in its directory is untouched.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "faults/LiveRig.h"
#include "support/ChildProcess.h"

using namespace morvia;
using namespace morvia::faults;

namespace {

#if defined(MORVIA_BIN) && defined(DVDSIM_BIN)

using test::fileLines;
using test::waitForLine;

// A program run in `dir` with its output in `out` (errors in out + ".err").
using Program = morvia::test::ChildProcess;

TEST(UnitOffProcess, AsksWithoutSpinningThenGivesUpWithStatusZero) {
    TempDir dir("unitoff");
    const std::string edl = dir.file("EDL.txt");
    ConsoleTail console;  // SaveEDL and LoadEDL talk to the console
    ASSERT_TRUE(SaveEDL(edl, "Morvia", sampleEntries(5, "Kept")));
    const std::string edlBytes = readFile(edl);

    Program sim({DVDSIM_BIN, "--unit-off", "--log", dir.file("sim.log")}, dir.path().string(), dir.file("sim.out"));
    ASSERT_TRUE(waitForLine(dir.file("sim.out"), "/", std::chrono::seconds(10))) << "dvdsim printed no terminal";
    const std::string port = fileLines(dir.file("sim.out")).at(0);
    std::ofstream(dir.file("Settings.txt")) << "Verbose=NO\nUserNote=Faults\nDVDCOMPort=" << port
                                            << "\nTCOffset=00:00:00:00\nStartTitle=1\nUseClipboard=NO\nStopOnExit=NO\n";

    Program app({MORVIA_BIN}, dir.path().string(), dir.file("console.txt"), {"QT_QPA_PLATFORM=offscreen"});
    // While it waits between its mode queries the process stays near idle.
    ASSERT_TRUE(waitForLine(dir.file("console.txt"), "Checking DVD Status 1", std::chrono::seconds(60)))
        << readFile(dir.file("console.txt"));
    const double c0 = app.cpuSeconds();
    const auto t0 = RealTime::now();
    std::this_thread::sleep_for(std::chrono::seconds(6));
    const double share = (app.cpuSeconds() - c0) / secondsSince(t0);
    std::printf("[ cpu      ] morvia while the unit is off: %.2f %% of a core\n", share * 100);
    EXPECT_LT(share, idleCpuLimit());

    const auto status = app.wait(std::chrono::seconds(90));
    ASSERT_TRUE(status.has_value()) << readFile(dir.file("console.txt"));
    EXPECT_EQ(*status, 0) << readFile(dir.file("console.txt.err"));
    const auto out = fileLines(dir.file("console.txt"));
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), "Please Turn Unit ON");

    EXPECT_EQ(readFile(edl), edlBytes);
    const auto events = LoadEDL(edl);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[4].clip.rfind("Kept4", 0), 0u) << events[4].clip;

    sim.signal(SIGTERM);
    EXPECT_TRUE(sim.wait(std::chrono::seconds(10)).has_value());
}

#else

TEST(UnitOffProcess, NeedsTheProgramsBuilt) {
    GTEST_SKIP() << "morvia or dvdsim is not built in this configuration (MORVIA_BUILD_UI off): "
                    "the process-level unit-off case cannot run";
}

#endif

}  // namespace
