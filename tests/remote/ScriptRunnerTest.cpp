#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <filesystem>
#include <future>
#include <fstream>
#include <map>

#include "remote/RemoteFixture.h"
#include "remote/ScriptRunner.h"
#include "sessionlog/SessionLog.h"
#include "support/Files.h"
#include "support/SteppedClock.h"

using namespace morvia;
using namespace morvia::test;

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> opening = {" ", "**********", "Found Script.txt File"};
const std::vector<std::string> closing = {"Script ended", "**********", " "};

// Runs the test inside a fresh temporary working directory.
class ScriptRunner : public RemoteFixture {
protected:
    void SetUp() override {
        RemoteFixture::SetUp();
        old_ = fs::current_path();
        std::string tmpl = (fs::temp_directory_path() / "morvia-script-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(old_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
        RemoteFixture::TearDown();
    }

    static void write(const std::string& bytes) {
        std::ofstream f("Script.txt", std::ios::binary | std::ios::trunc);
        f << bytes;
    }

    // Lines the run printed, between the opening and closing lines (both
    // asserted).
    std::vector<std::string> echoed() const {
        auto lines = console.lines();
        if (lines.size() < opening.size() + closing.size()) {
            ADD_FAILURE() << "too few console lines: " << lines.size();
            return {};
        }
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3), opening);
        EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()), closing);
        return {lines.begin() + 3, lines.end() - 3};
    }

    static std::string join(const std::vector<std::string>& lines, const std::string& end) {
        std::string out;
        for (const auto& l : lines) out += l + end;
        return out;
    }

private:
    fs::path old_;
    fs::path dir_;
};

TEST_F(ScriptRunner, MissingFileWaitsOneSecond) {
    script(vcr);
    EXPECT_EQ(console.lines(), std::vector<std::string>{"No script file found!"});
    EXPECT_EQ(rec->events(), (Journal{"W:1000"}));
}

TEST_F(ScriptRunner, EmptyFileOnlyFramesTheRun) {
    write("");
    script(vcr);
    EXPECT_EQ(echoed(), std::vector<std::string>{});
    EXPECT_TRUE(rec->events().empty());
}

TEST_F(ScriptRunner, QuitEndsTheRunWithEveryLineEnd) {
    const std::vector<std::string> lines = {"Play", "Wait5", "Pause", "Quit", "Stop"};
    for (const char* end : {"\n", "\r", "\r\n"}) {
        for (bool lastEnd : {true, false}) {
            SCOPED_TRACE(testing::Message() << "line end " << int(end[0]) << (lastEnd ? "" : " (none at the end)"));
            std::string text = join(lines, end);
            if (!lastEnd) text.resize(text.size() - std::string(end).size());
            write(text);
            rec->clear();
            ConsoleCapture run;
            script(vcr);
            auto got = run.lines();
            std::vector<std::string> want = opening;
            for (const char* l : {"Play", "Wait5", "Pause"}) want.emplace_back(l);
            want.insert(want.end(), closing.begin(), closing.end());
            EXPECT_EQ(got, want);
            EXPECT_EQ(rec->events(), (Journal{"Q:PL\r", "W:5000", "Q:ST\r"}));
        }
    }
}

TEST_F(ScriptRunner, ShortLinesEndTheRunSilently) {
    write("Play\n\nStop\n");
    script(vcr);
    EXPECT_EQ(echoed(), std::vector<std::string>{"Play"});
    EXPECT_EQ(queued(), std::vector<std::string>{"PL\r"});

    rec->clear();
    ConsoleCapture run;
    write("Play\r\n;ab\r\nStop\r\n");
    script(vcr);
    auto lines = run.lines();
    EXPECT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[3], "Play");
    EXPECT_EQ(queued(), std::vector<std::string>{"PL\r"}) << "a short comment ends the run";
}

TEST_F(ScriptRunner, CommentsArePrintedAndSkipped) {
    write(";comment Stop\nPlay\n");
    script(vcr);
    EXPECT_EQ(echoed(), (std::vector<std::string>{";comment Stop", "Play"}));
    EXPECT_EQ(queued(), std::vector<std::string>{"PL\r"});
}

TEST_F(ScriptRunner, UnknownLinesStopWithScriptError) {
    for (const char* bad : {"    ", "play", "quit"}) {
        SCOPED_TRACE(bad);
        write(std::string(bad) + "\nStop\n");
        rec->clear();
        ConsoleCapture run;
        script(vcr);
        std::vector<std::string> want = opening;
        want.emplace_back(bad);
        want.emplace_back("Script Error");
        want.insert(want.end(), closing.begin(), closing.end());
        EXPECT_EQ(run.lines(), want);
        EXPECT_TRUE(queued().empty());
    }
}

TEST_F(ScriptRunner, TitleNumberGoesToTheTitle) {
    write("TNum5\n");
    script(vcr);
    EXPECT_EQ(vcr.getcurtitle(), 5);
    EXPECT_TRUE(contains(queued(), "TI05SEPL\r"));
}

TEST_F(ScriptRunner, BadNumberEndsTheRunAndPassesOn) {
    write("Play\nWait\nStop\n");
    try {
        script(vcr);
        ADD_FAILURE() << "no NumberFormatError";
    } catch (const NumberFormatError& e) {
        EXPECT_EQ(e.line(), "Wait");
    }
    EXPECT_EQ(echoed(), (std::vector<std::string>{"Play", "Wait"})) << "no Script Error";
    EXPECT_EQ(rec->events(), (Journal{"Q:PL\r"})) << "nothing after the failing line runs";
}

TEST_F(ScriptRunner, FileIsReadAfreshEveryRun) {
    write("Play\n");
    script(vcr);
    write("Stop\n");
    script(vcr);
    EXPECT_EQ(queued(), (std::vector<std::string>{"PL\r", "PA\r"}));
    EXPECT_EQ(console.lines().size(), 14u);
}

TEST_F(ScriptRunner, OperatorStopEndsTheRunAfterTheLineUnderWay) {
    // Raised while a Wait sleeps: the wait is cut and no further line runs.
    write("Play\nWait600\nPause\n");
    Utils::setClock(std::make_shared<TriggerSleeper>(rec, 600000, [this] { vcr.requestStop(); }));
    script(vcr);
    EXPECT_EQ(echoed(), (std::vector<std::string>{"Play", "Wait600"}));
    EXPECT_EQ(rec->events(), (Journal{"Q:PL\r", "W:600000"}));

    // Raised while the first pass of a long repeat plays (00:00:00:00 to
    // 00:00:10:00: 10.5 s of play): the repeat and the run end after it.
    write("RNum1000\nRepeat\nPlay\n");
    rec->clear();
    ConsoleCapture repeatRun;
    Utils::setClock(std::make_shared<TriggerSleeper>(rec, 10500, [this] { vcr.requestStop(); }));
    script(vcr);
    std::vector<std::string> want = opening;
    want.insert(want.end(), {"RNum1000", "Repeat"});
    want.insert(want.end(), closing.begin(), closing.end());
    EXPECT_EQ(repeatRun.lines(), want);
    auto q = queued();
    EXPECT_EQ(std::count(q.begin(), q.end(), "PL\r"), 1) << "one pass, and the Play line never ran";

    // A run started after the request runs whole; its own Stop line is a
    // transport command, not a stop request, and does not end it.
    write("Stop\nWait1\nPlay\n");
    rec->clear();
    Utils::setClock(std::make_shared<FakeSleeper>(rec));
    script(vcr);
    EXPECT_EQ(rec->events(), (Journal{"Q:PA\r", "W:1000", "Q:PL\r"}));
}

TEST_F(ScriptRunner, OperatorStopCutsARealWaitAtOnce) {
    write("Wait600\nPlay\n");
    Utils::setClock(nullptr);  // real time: only the cut ends ten minutes early
    auto run = std::async(std::launch::async, [this] { script(vcr); });
    ASSERT_TRUE(eventually([this] { return contains(console.lines(), "Wait600"); }));
    vcr.requestStop();
    const bool ended = run.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    Utils::setClock(std::make_shared<FakeSleeper>(rec));
    ASSERT_TRUE(ended) << "the Wait was not cut";
    run.get();
    EXPECT_EQ(echoed(), std::vector<std::string>{"Wait600"});
    EXPECT_TRUE(queued().empty());
}

TEST_F(ScriptRunner, OnlyRegularFilesAreRun) {
    // A FIFO without a writer and an endless device would block the action
    // thread for ever or grow memory until it fails; a directory never reads.
    auto refused = [&](const char* what) {
        SCOPED_TRACE(what);
        rec->clear();
        ConsoleCapture run;
        script(vcr);
        EXPECT_EQ(run.lines(), std::vector<std::string>{"Script.txt is not a regular file"});
        EXPECT_EQ(rec->events(), (Journal{"W:1000"}));
        fs::remove("Script.txt");
    };
    ASSERT_EQ(::mkfifo("Script.txt", 0600), 0);
    refused("FIFO");
    fs::create_symlink("/dev/zero", "Script.txt");
    refused("/dev/zero behind a link");
    fs::create_directory("Script.txt");
    refused("directory");
}

TEST_F(ScriptRunner, AFileThatCannotBeReadSaysWhy) {
    // Both fail for root too: a link that points at itself, and a regular
    // file whose first read fails (page 0 of our own memory is not mapped).
    const std::pair<const char*, std::string> cases[] = {{"Script.txt", std::strerror(ELOOP)},
                                                         {"/proc/self/mem", std::strerror(EIO)}};
    for (const auto& [target, reason] : cases) {
        SCOPED_TRACE(target);
        fs::create_symlink(target, "Script.txt");
        rec->clear();
        ConsoleCapture run;
        script(vcr);
        EXPECT_EQ(run.lines(), std::vector<std::string>{"Unable to read Script.txt: " + reason});
        EXPECT_EQ(rec->events(), (Journal{"W:1000"}));
        fs::remove("Script.txt");
    }
}

TEST_F(ScriptRunner, LinesAreBoundedAndEchoedPrintable) {
    // Control characters cannot reach the operator's terminal; the line still
    // runs as it was written (and is refused here).
    write("Play\nPause\x1b[2J\x07\nStop\n");
    script(vcr);
    EXPECT_EQ(echoed(), (std::vector<std::string>{"Play", "Pause?[2J?", "Script Error"}));

    // A line of the longest length is run; one character more ends the run
    // after its first 80 characters, without running it or what follows.
    for (std::size_t length : {maxScriptLine, maxScriptLine + 1, std::size_t{1} << 20}) {
        SCOPED_TRACE(length);
        const std::string line = ";" + std::string(length - 1, 'x');
        write("Play\n" + line + "\nStop\n");
        rec->clear();
        ConsoleCapture run;
        script(vcr);
        const auto lines = run.lines();
        const bool tooLong = length > maxScriptLine;
        ASSERT_EQ(lines.size(), 9u);
        EXPECT_EQ(lines[4], tooLong ? line.substr(0, 80) : line);
        EXPECT_EQ(lines[5], tooLong ? "Script Error" : "Stop");
        const std::vector<std::string> want =
            tooLong ? std::vector<std::string>{"PL\r"} : std::vector<std::string>{"PL\r", "PA\r"};
        EXPECT_EQ(queued(), want);
    }
}

TEST_F(ScriptRunner, MalformedPointStopsBeforeTheNextReview) {
    write("TC100:00:10:00\nTC200:00:20:00\nTC100:0x:30:00\nReview\n");
    try {
        script(vcr);
        ADD_FAILURE() << "no TimecodeFormatError";
    } catch (const TimecodeFormatError& e) {
        EXPECT_EQ(e.line(), "TC100:0x:30:00");
    }
    EXPECT_EQ(echoed(), (std::vector<std::string>{"TC100:00:10:00", "TC200:00:20:00", "TC100:0x:30:00"}));
    EXPECT_TRUE(queued().empty()) << "Review did not run on the old points";
    EXPECT_EQ(display.gettext(Field::cuefield), "00:00:10:00");
}

}  // namespace

TEST_F(ScriptRunner, EveryRunGoesIntoTheSessionLogWithItsLastLineAndOutcome) {
    struct Case {
        const char* text;  // nullptr: no file
        std::string phases;
    };
    const std::vector<Case> cases = {
        {nullptr, "ended:no script file:"},
        {"Play\r\nQuit\r\nStop\r\n", "started::,ended:ended:2"},
        {"Play\r\n", "started::,ended:ended:1"},
        {"Play\r\nBogus line\r\nStop\r\n", "started::,ended:error:2"},
        {"Play\r\nWait1x\r\n", "started::,ended:error:2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(no file)");
        std::error_code ec;
        fs::remove("Script.txt", ec);
        if (c.text) write(c.text);
        TempDir logs("scriptlog");
        auto log = sessionlog::Writer::open(logs.path().string(), sessionlog::Event("start"),
                                            std::make_shared<SteppedClock>());
        ASSERT_TRUE(log);
        try {
            script(vcr);
        } catch (const LineArgumentError&) {
            // a bad number ends the run and passes on
        }
        const std::string path = log->path();
        log->finish("stopped");
        std::string got;
        for (const auto& l : fileLines(path)) {
            const auto m = sessionlog::parseObject(l);
            ASSERT_TRUE(m) << l;
            std::map<std::string, std::string> f(m->begin(), m->end());
            if (f["event"] != "script") continue;
            EXPECT_EQ(f["source"], "script");
            EXPECT_EQ(f["file"], "Script.txt");
            got += (got.empty() ? "" : ",") + f["phase"] + ":" + f["outcome"] + ":" + f["line"];
        }
        EXPECT_EQ(got, c.phases);
    }
}
