#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <fstream>

#include "remote/RemoteFixture.h"
#include "remote/ScriptRunner.h"

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
    Utils::setSleeper(std::make_shared<TriggerSleeper>(rec, 600000, [this] { vcr.requestStop(); }));
    script(vcr);
    EXPECT_EQ(echoed(), (std::vector<std::string>{"Play", "Wait600"}));
    EXPECT_EQ(rec->events(), (Journal{"Q:PL\r", "W:600000"}));

    // Raised while the first pass of a long repeat plays (00:00:00:00 to
    // 00:00:10:00: 10.5 s of play): the repeat and the run end after it.
    write("RNum1000\nRepeat\nPlay\n");
    rec->clear();
    ConsoleCapture repeatRun;
    Utils::setSleeper(std::make_shared<TriggerSleeper>(rec, 10500, [this] { vcr.requestStop(); }));
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
    Utils::setSleeper(std::make_shared<FakeSleeper>(rec));
    script(vcr);
    EXPECT_EQ(rec->events(), (Journal{"Q:PA\r", "W:1000", "Q:PL\r"}));
}

TEST_F(ScriptRunner, OperatorStopCutsARealWaitAtOnce) {
    write("Wait600\nPlay\n");
    Utils::setSleeper(nullptr);  // real time: only the cut ends ten minutes early
    auto run = std::async(std::launch::async, [this] { script(vcr); });
    ASSERT_TRUE(eventually([this] { return contains(console.lines(), "Wait600"); }));
    vcr.requestStop();
    const bool ended = run.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    Utils::setSleeper(std::make_shared<FakeSleeper>(rec));
    ASSERT_TRUE(ended) << "the Wait was not cut";
    run.get();
    EXPECT_EQ(echoed(), std::vector<std::string>{"Wait600"});
    EXPECT_TRUE(queued().empty());
}

} // namespace
