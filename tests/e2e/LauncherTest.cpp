// The desktop launcher: the per-user settings folder, the sample settings it
// makes on first use, and the start of the program in that folder (a stand-in
// program next to the launcher prints where it runs).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "startup/SettingsReader.h"
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#ifdef MORVIA_LAUNCHER

using morvia::SettingsReader;
using morvia::test::ChildProcess;
using morvia::test::readFile;
using morvia::test::TempDir;
namespace fs = std::filesystem;

namespace {

class Launcher : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.file("bin"));
        fs::copy_file(MORVIA_LAUNCHER, dir.file("bin/morvia-launcher"));
        std::ofstream(dir.file("bin/morvia")) << "#!/bin/sh\necho \"cwd=$(pwd)\"\necho \"args=$*\"\n";
        fs::permissions(dir.file("bin/morvia"), fs::perms::owner_all);
    }
    // Runs the launcher with only the given environment (plus PATH).
    std::string run(const std::vector<std::string>& env, int* status) {
        std::vector<std::string> args = {"/usr/bin/env", "-i", "PATH=/usr/bin:/bin"};
        args.insert(args.end(), env.begin(), env.end());
        args.push_back("bin/morvia-launcher");  // relative to the folder it starts in
        args.push_back("-x");
        ChildProcess p(args, dir.path(), dir.file("out.txt"), {}, ChildProcess::Errors::Merged);
        *status = p.wait(std::chrono::seconds(60)).value_or(-1);
        return readFile(dir.file("out.txt"));
    }
    TempDir dir{"launcher"};
};

}  // namespace

TEST_F(Launcher, FirstUseMakesTheFolderWithTheFirstSerialPortThenKeepsTheFile) {
    fs::create_directories(dir.file("byid"));
    std::ofstream(dir.file("byid/usb-FTDI_FT232R_A1-if00-port0")).put('x');
    std::ofstream(dir.file("byid/usb-Prolific_B2-if00-port0")).put('x');
    const std::string cfg = dir.file("cfg"), folder = cfg + "/morvia";
    const std::vector<std::string> env = {"HOME=" + dir.file("home"), "XDG_CONFIG_HOME=" + cfg,
                                          "MORVIA_SERIAL_BY_ID=" + dir.file("byid")};
    int status = -1;
    EXPECT_EQ(run(env, &status), "morvia: made " + folder +
                                     "/Settings.txt; edit it to suit your player\n"
                                     "morvia: using settings folder " +
                                     folder +
                                     "\n"
                                     "cwd=" +
                                     folder + "\nargs=-x\n");
    EXPECT_EQ(status, 0);
    const std::string text = readFile(folder + "/Settings.txt");
    EXPECT_NE(text.find("# First serial port found under " + dir.file("byid") +
                        "/ when this file was made.\n"
                        "DVDCOMPort=" +
                        dir.file("byid/usb-FTDI_FT232R_A1-if00-port0") + "\n"),
              std::string::npos)
        << text;
    // A complete settings file: all seven keys, so start-up names none as missing.
    const auto table = SettingsReader::parse(text);
    for (const char* key :
         {"DVDCOMPort", "StartTitle", "TCOffset", "UserNote", "Verbose", "UseClipboard", "StopOnExit"})
        EXPECT_EQ(table.count(key), 1u) << key;
    EXPECT_EQ(table.at("StartTitle"), "1");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1) << "no temporary file left";

    // The operator's edits stay.
    std::ofstream(folder + "/Settings.txt", std::ios::trunc) << "DVDCOMPort=/dev/ttyUSB3\n";
    EXPECT_EQ(run(env, &status), "morvia: using settings folder " + folder + "\ncwd=" + folder + "\nargs=-x\n");
    EXPECT_EQ(readFile(folder + "/Settings.txt"), "DVDCOMPort=/dev/ttyUSB3\n");
}

TEST_F(Launcher, WithoutXdgConfigHomeOrAPortUsesHomeConfigAndCom1) {
    const std::string folder = dir.file("home") + "/.config/morvia";
    int status = -1;
    const std::string out = run({"HOME=" + dir.file("home"), "MORVIA_SERIAL_BY_ID=" + dir.file("none")}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("morvia: using settings folder " + folder + "\ncwd=" + folder + "\n"), std::string::npos) << out;
    EXPECT_NE(readFile(folder + "/Settings.txt")
                  .find("# No serial port was found under " + dir.file("none") +
                        "/ when this file was made: name yours "
                        "here.\nDVDCOMPort=COM1\n"),
              std::string::npos);
}

#else
TEST(Launcher, NeedsTheConfiguredLauncher) { FAIL() << "the launcher was not configured"; }
#endif
