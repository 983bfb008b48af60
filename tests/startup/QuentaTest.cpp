#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "startup/Quenta.h"
#include "support/TestSupport.h"

using namespace morvia;
using test::ConsoleCapture;
using test::ExitCalled;

namespace {

const std::string kFull =
    "Verbose=NO\n"
    "UserNote=Studio A\n"
    "DVDCOMPort=/dev/ttyUSB0\n"
    "TCOffset=01:00:00:00\n"
    "StartTitle=7\n"
    "UseClipboard=YES\n"
    "StopOnExit=NO\n";

class QuentaTest : public ::testing::Test {
protected:
    void SetUp() override {
        Quenta::resetDefaults();
        dir_ =
            std::filesystem::temp_directory_path() / ("h1-quenta-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        Quenta::propsfilename = (dir_ / "Settings.txt").string();
        Utils::setClock(std::make_shared<test::FakeSleeper>(rec_));
    }
    void TearDown() override {
        Utils::setClock(nullptr);
        Quenta::resetDefaults();
        std::filesystem::remove_all(dir_);
    }
    void write(const std::string& text) { std::ofstream(Quenta::propsfilename, std::ios::binary) << text; }
    // kFull with one key's line replaced (or removed when `line` is empty).
    static std::string with(const std::string& key, const std::string& line) {
        std::string out;
        std::size_t pos = 0;
        while (pos < kFull.size()) {
            std::size_t end = kFull.find('\n', pos);
            std::string l = kFull.substr(pos, end - pos);
            out += l.rfind(key + "=", 0) == 0 ? (line.empty() ? "" : line + "\n") : l + "\n";
            pos = end + 1;
        }
        return out;
    }
    // GetProps, its value made current; the exit status when it ends the
    // process, else -1.
    int getProps() {
        test::ScopedExitThrows ex;
        try {
            Quenta::use(Quenta::GetProps());
        } catch (const ExitCalled& e) {
            return e.status;
        }
        return -1;
    }

    std::filesystem::path dir_;
    std::shared_ptr<test::Recorder> rec_ = std::make_shared<test::Recorder>();
};

}  // namespace

TEST_F(QuentaTest, NoSettingsFileStopsWithStatusOneAfterFiveSeconds) {
    ConsoleCapture console;
    EXPECT_EQ(getProps(), 1);
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"No configuration file found!"}));
    EXPECT_EQ(rec_->events(), (test::Journal{"W:5000"}));
}

TEST_F(QuentaTest, ReadsEveryKey) {
    write(kFull + "Unknown=ignored\nHyperDeckServer=9993\n");
    ConsoleCapture console;
    EXPECT_EQ(getProps(), -1);
    EXPECT_TRUE(console.lines().empty());
    EXPECT_EQ(Quenta::settings().HyperDeckServer.value_or("?"), "9993");
    EXPECT_EQ(Quenta::settings().verbo, "NO");
    EXPECT_FALSE(Quenta::getverbose());
    EXPECT_EQ(Quenta::settings().note, "Studio A");
    EXPECT_EQ(Quenta::settings().comport1, "/dev/ttyUSB0");
    EXPECT_EQ(Quenta::settings().comport2, "COM2");
    EXPECT_EQ(Quenta::settings().VCRType.value_or("?"), "DVD V7400");
    EXPECT_EQ(Quenta::getoffset(), "01:00:00:00");
    EXPECT_EQ(Quenta::settings().startingtitle, "7");
    EXPECT_EQ(Quenta::settings().starttitle, 7);
    EXPECT_EQ(Quenta::settings().UseClipboard.value_or("?"), "YES");
    EXPECT_TRUE(Quenta::getuseclipboard());
    EXPECT_EQ(Quenta::settings().StopOnExit.value_or("?"), "NO");
    EXPECT_FALSE(Quenta::getstoponexit());
    EXPECT_EQ(Quenta::settings().props.at("Unknown"), "ignored");
    EXPECT_FALSE(Quenta::getdebug());
    EXPECT_FALSE(Quenta::getnet());
    EXPECT_FALSE(Quenta::getmcs());
    EXPECT_EQ(Quenta::getsocketport(), 2001);
    EXPECT_EQ(Quenta::getrepeatval(), 2);
    EXPECT_EQ(Quenta::getpassword(), "KWJ");
    Quenta::setpassword("other");
    EXPECT_EQ(Quenta::getpassword(), "other");
}

TEST_F(QuentaTest, ValuesAreTakenAsWrittenAndFlagsNeedExactYes) {
    write(with("Verbose", "Verbose=yes") + "UserNote=ABCDEFGHIJKLMNOPQRST\nStopOnExit=YES \nUseClipboard=YES\n" +
          "TCOffset=not a timecode\n");
    EXPECT_EQ(getProps(), -1);
    EXPECT_EQ(Quenta::settings().verbo, "yes");
    EXPECT_FALSE(Quenta::settings().verbose);
    EXPECT_EQ(Quenta::settings().note, "ABCDEFGHIJKLMNO") << "a note is cut to 15 characters";
    EXPECT_EQ(Quenta::settings().StopOnExit.value_or("?"), "YES ");
    EXPECT_FALSE(Quenta::settings().stoponexit) << "YES followed by a blank is not YES";
    EXPECT_TRUE(Quenta::settings().useclipboard) << "a key given twice takes its second value";
    EXPECT_EQ(Quenta::settings().OSString, "not a timecode") << "the offset is taken unchecked";

    write(with("UserNote", "UserNote=ABCDEFGHIJKLMNO") + "Verbose=YES\n");
    EXPECT_EQ(getProps(), -1);
    EXPECT_EQ(Quenta::settings().note, "ABCDEFGHIJKLMNO");
    EXPECT_TRUE(Quenta::settings().verbose);

    write(with("UserNote", "UserNote=\\u00e9t\\u00e9 \xE0 Paris, salle 2"));
    EXPECT_EQ(getProps(), -1);
    EXPECT_EQ(Quenta::settings().note, "\xC3\xA9t\xC3\xA9 \xC3\xA0 Paris, sa") << "15 characters, not 15 bytes";
}

TEST_F(QuentaTest, StartTitleBelowOneCountsAsOne) {
    for (const char* v : {"0", "-3"}) {
        write(with("StartTitle", std::string("StartTitle=") + v));
        EXPECT_EQ(getProps(), -1) << v;
        EXPECT_EQ(Quenta::settings().starttitle, 1) << v;
        EXPECT_EQ(Quenta::settings().startingtitle, "1") << v;
    }
    write(with("StartTitle", "StartTitle=+12"));
    EXPECT_EQ(getProps(), -1);
    EXPECT_EQ(Quenta::settings().starttitle, 12);
    EXPECT_EQ(Quenta::settings().startingtitle, "+12");
}

TEST_F(QuentaTest, StartTitleThatIsNotAWholeNumberStopsNamingTheKey) {
    for (const char* v : {"abc", "", "7 ", "1.5", "99999999999", "--1"}) {
        rec_->clear();
        write(with("StartTitle", std::string("StartTitle=") + v));
        ConsoleCapture console;
        EXPECT_EQ(getProps(), 1) << v;
        ASSERT_EQ(console.lines().size(), 1u) << v;
        EXPECT_EQ(console.lines()[0], std::string("Setting StartTitle is not a whole number: ") + v);
        EXPECT_EQ(rec_->events(), (test::Journal{"W:5000"}));
    }
}

TEST_F(QuentaTest, MissingKeysKeepTheirBuiltInValuesAndAreNamed) {
    write("# nothing but a comment\n");
    ConsoleCapture console;
    EXPECT_EQ(getProps(), -1);
    const std::string tail = " missing from " + Quenta::propsfilename + ", using the built-in value";
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Setting Verbose" + tail, "Setting UserNote" + tail,
                                                         "Setting DVDCOMPort" + tail, "Setting TCOffset" + tail,
                                                         "Setting StartTitle" + tail, "Setting UseClipboard" + tail,
                                                         "Setting StopOnExit" + tail}));
    EXPECT_EQ(Quenta::settings().verbo, "NO");
    EXPECT_EQ(Quenta::settings().note, "Morvia");
    EXPECT_EQ(Quenta::settings().comport1, "COM1");
    EXPECT_EQ(Quenta::settings().OSString, "00:00:00:00");
    EXPECT_EQ(Quenta::settings().starttitle, 1);
    EXPECT_FALSE(Quenta::settings().UseClipboard.has_value());
    EXPECT_FALSE(Quenta::settings().StopOnExit.has_value());
    EXPECT_FALSE(Quenta::settings().ControlServer.has_value()) << "absent: off, and not named as missing";
    EXPECT_FALSE(Quenta::settings().HyperDeckServer.has_value());
}

// The reading itself is a function of the text: no file, no console, no
// current settings touched; what GetProps prints comes back as lines.
TEST(SettingsRead, TextGivesTheValueTheMissingKeysAndTheStoppingError) {
    const Settings before = Quenta::settings();
    const SettingsRead full = readSettings(kFull, "S.txt");
    EXPECT_TRUE(full.missing.empty());
    EXPECT_FALSE(full.error.has_value());
    EXPECT_EQ(full.settings.comport1, "/dev/ttyUSB0");
    EXPECT_EQ(full.settings.starttitle, 7);
    EXPECT_EQ(full.settings.note, "Studio A");

    const SettingsRead partial = readSettings("StartTitle=x\nVerbose=YES\n", "S.txt");
    EXPECT_EQ(partial.missing, (std::vector<std::string>{"Setting UserNote missing from S.txt, using the built-in value",
                                                         "Setting DVDCOMPort missing from S.txt, using the built-in value",
                                                         "Setting TCOffset missing from S.txt, using the built-in value"}))
        << "the keys after the stopping one are not looked at";
    EXPECT_EQ(partial.error.value_or("none"), "Setting StartTitle is not a whole number: x");
    EXPECT_EQ(Quenta::settings().verbose, before.verbose);
    EXPECT_EQ(Quenta::settings().comport1, before.comport1);
}

TEST_F(QuentaTest, UnreadableSettingsFileKeepsBuiltInsAndSaysSo) {
    std::filesystem::create_directories(Quenta::propsfilename);  // exists, but cannot be read
    ConsoleCapture console;
    EXPECT_EQ(getProps(), -1);
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_EQ(console.lines()[0].rfind("Unable to read " + Quenta::propsfilename, 0), 0u);
    EXPECT_EQ(Quenta::settings().comport1, "COM1");
    EXPECT_FALSE(Quenta::settings().VCRType.has_value());
}

TEST_F(QuentaTest, SettingsThatAreNoRegularFileNeverHoldStartUp) {
    // A FIFO without a writer would block the read for ever, a device never
    // ends; both are refused and start-up goes on with the built-in values.
    auto refused = [&] {
        ConsoleCapture console;
        EXPECT_EQ(getProps(), -1);
        EXPECT_EQ(console.lines(),
                  std::vector<std::string>{"Unable to read " + Quenta::propsfilename + ": not a regular file"});
        EXPECT_EQ(Quenta::settings().comport1, "COM1");
        EXPECT_TRUE(rec_->events().empty()) << "no pause";
        std::filesystem::remove(Quenta::propsfilename);
    };
    ASSERT_EQ(::mkfifo(Quenta::propsfilename.c_str(), 0600), 0);
    refused();
    std::filesystem::create_symlink("/dev/zero", Quenta::propsfilename);
    refused();
}

TEST_F(QuentaTest, StartUpPrintsBannerPortAndSettingsBlockInOrder) {
    write(with("StartTitle", "StartTitle=0") + "UserNote=ABCDEFGHIJKLMNOPQRST\n");
    ConsoleCapture console;
    std::string opened;
    int waitSet = 0;
    bool controllerMade = false;
    Quenta::Hooks hooks;
    hooks.makeSerial = [&](const std::string& port) {
        opened = port;
        return true;
    };
    hooks.setwait = [&](int ms) { waitSet = ms; };
    hooks.makeController = [&] { controllerMade = true; };
    Quenta::init(hooks);
    EXPECT_EQ(opened, "/dev/ttyUSB0");
    EXPECT_EQ(waitSet, 30);
    EXPECT_TRUE(controllerMade);
    EXPECT_EQ(Quenta::name, "Morvia");
    EXPECT_EQ(console.lines(), (std::vector<std::string>{
                                   "Morvia/Lintra",
                                   "",
                                   "Serial Port /dev/ttyUSB0 Opened OK",
                                   "",
                                   "Morvia",
                                   " ",
                                   "SETTINGS:",
                                   "User Note        = ABCDEFGHIJKLMNO",
                                   "DVD Type         = DVD V7400",
                                   "DVD COM Port     = /dev/ttyUSB0",
                                   "Verbose          = NO",
                                   "Starting Title   = 1",
                                   "Time Code Offset = 01:00:00:00",
                                   "Use Clipboard    = YES",
                                   "Stop On Exit     = NO",
                                   "Control Server   = off",
                                   "HyperDeck Server = off",
                                   "",
                               }));
    for (std::size_t i = 7; i < 17; ++i) EXPECT_EQ(console.lines()[i].find("= "), 17u) << "19-character labels";
    EXPECT_TRUE(rec_->events().empty()) << "a normal start-up does not pause";
}

TEST_F(QuentaTest, SettingsBlockPrintsNullForAbsentTexts) {
    ConsoleCapture console;
    Quenta::showprops();
    auto lines = console.lines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[3], "DVD Type         = null");
    EXPECT_EQ(lines[8], "Use Clipboard    = null");
    EXPECT_EQ(lines[9], "Stop On Exit     = null");
    EXPECT_EQ(lines[10], "Control Server   = off");
    EXPECT_EQ(lines[11], "HyperDeck Server = off");
}

TEST_F(QuentaTest, ControlServerIsReadAsWrittenAndPrinted) {
    write(kFull + "ControlServer=0.0.0.0:2001\n");
    ConsoleCapture console;
    EXPECT_EQ(getProps(), -1);
    EXPECT_TRUE(console.lines().empty()) << "read without a word";
    EXPECT_EQ(Quenta::settings().ControlServer, "0.0.0.0:2001");
    Quenta::showprops();
    EXPECT_EQ(console.lines().end()[-2], "Control Server   = 0.0.0.0:2001");
    // A second read of a file without the key switches it off again.
    write(kFull);
    EXPECT_EQ(getProps(), -1);
    EXPECT_FALSE(Quenta::settings().ControlServer.has_value());
}

TEST_F(QuentaTest, PortThatDoesNotOpenEndsStartUpWithStatusZero) {
    write(kFull);
    ConsoleCapture console;
    test::ScopedExitThrows ex;
    bool controllerMade = false;
    int waitSet = 0;
    Quenta::Hooks hooks;
    hooks.makeSerial = [](const std::string& port) {
        Utils::OutLine(" ");
        Utils::OutLine("Serial Port " + port + " not available");
        return false;
    };
    hooks.setwait = [&](int ms) { waitSet = ms; };
    hooks.makeController = [&] { controllerMade = true; };
    int status = -1;
    try {
        Quenta::init(hooks);
    } catch (const ExitCalled& e) {
        status = e.status;
    }
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(controllerMade);
    EXPECT_EQ(waitSet, 0);
    EXPECT_EQ(console.lines(),
              (std::vector<std::string>{"Morvia/Lintra", "", " ", "Serial Port /dev/ttyUSB0 not available"}));
    EXPECT_EQ(rec_->events(), (test::Journal{"W:5000"}));
}
