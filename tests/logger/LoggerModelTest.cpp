#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "logger/LoggerCore.h"
#include "logger/LoggerTestUtil.h"
#include "sessionlog/SessionLog.h"
#include "startup/Quenta.h"
#include "support/Files.h"
#include "support/SteppedClock.h"
#include "support/TestSupport.h"

using namespace morvia;
using morvia::test::ConsoleCapture;
using morvia::test::Recorder;
using morvia::test::RecordingDisplay;

namespace {

std::array<std::string, 4> row(const LoggerModel& m, int r) {
    const auto v = m.view();
    const auto& cells = v[static_cast<std::size_t>(r)];
    return {cells[0].text, cells[1].text, cells[2].text, cells[3].text};
}

class LoggerCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoggerModel::resetShared();
        Quenta::name = "Morvia";
    }
    void TearDown() override { LoggerModel::resetShared(); }

    std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
    RecordingDisplay display{rec};
    int reviews = 0;
    std::vector<std::pair<std::string, int>> dialogs;
    std::string chosen;
    LoggerCore core{display,
                    [this] {
                        rec->add("REVIEW");
                        ++reviews;
                    },
                    [this](const std::string& title, int mode) {
                        dialogs.emplace_back(title, mode);
                        return chosen;
                    }};
};

}  // namespace

TEST_F(LoggerCoreTest, InitialRowsAndScrolling) {
    const LoggerModel& m = core.model();
    EXPECT_EQ(row(m, 0), (std::array<std::string, 4>{"1", "Clip Name 1", "00:00:00:00", "00:00:00:00"}));
    EXPECT_EQ(row(m, 19)[0], "20");
    core.scrolled(80);
    EXPECT_EQ(row(m, 0)[0], "81");
    EXPECT_EQ(row(m, 19), (std::array<std::string, 4>{"100", "Clip Name 100", "00:00:00:00", "00:00:00:00"}));
    EXPECT_EQ(LoggerModel::getvsbval(), 80);
    core.scrolled(500);  // kept inside the list
    EXPECT_EQ(LoggerModel::getvsbval(), 80);
}

TEST_F(LoggerCoreTest, SetinSetoutFillConsecutiveEntries) {
    ConsoleCapture console;
    display.set(Field::tcfield, "00:01:00:00");
    core.setin();
    display.set(Field::tcfield, "00:01:05:00");
    core.setout();
    display.set(Field::tcfield, "00:02:00:00");
    core.setin();
    display.set(Field::tcfield, "00:02:05:00");
    core.setout();
    const auto& m = core.model();
    EXPECT_EQ(row(m, 0), (std::array<std::string, 4>{"1", "Clip Name 1", "00:01:00:00", "00:01:05:00"}));
    EXPECT_EQ(row(m, 1), (std::array<std::string, 4>{"2", "Clip Name 2", "00:02:00:00", "00:02:05:00"}));
    EXPECT_EQ(m.snapshot().SrcOutArray[1], "00:02:05:00");
    EXPECT_EQ(LoggerModel::getoffset(), 2);
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"0", "1"}));

    // Scrolling restarts at the new top row.
    core.scrolled(10);
    EXPECT_EQ(LoggerModel::getoffset(), 0);
    core.setin();
    EXPECT_EQ(core.model().snapshot().SrcInArray[10], "00:02:05:00");
    EXPECT_EQ(row(m, 0)[2], "00:02:05:00");
}

TEST_F(LoggerCoreTest, MarksPastTheVisibleRowsAndTheLastEntry) {
    ConsoleCapture console;
    display.set(Field::tcfield, "00:00:09:00");
    for (int i = 0; i < 21; ++i) {
        core.setin();
        core.setout();
    }
    // Entry 20 is stored although no row shows it; offset keeps advancing.
    EXPECT_EQ(core.model().snapshot().SrcInArray[20], "00:00:09:00");
    EXPECT_EQ(LoggerModel::getoffset(), 21);
    EXPECT_EQ(row(core.model(), 19)[0], "20");

    // vsbval 80 with offset 20 names entry 100, which does not exist.
    core.scrolled(80);
    for (int i = 0; i < 20; ++i) {
        core.setin();
        core.setout();
    }
    const auto before = core.model().snapshot();
    const auto lines = console.lines().size();
    display.set(Field::tcfield, "11:11:11:11");
    core.setin();
    core.setout();
    EXPECT_EQ(LoggerModel::getoffset(), 20);
    EXPECT_EQ(core.model().snapshot().SrcInArray, before.SrcInArray);
    EXPECT_EQ(core.model().snapshot().SrcOutArray, before.SrcOutArray);
    EXPECT_EQ(console.lines().size(), lines);
}

TEST_F(LoggerCoreTest, ReviewUsesTheTopRow) {
    display.set(Field::tcfield, "00:00:01:00");
    core.setin();
    display.set(Field::tcfield, "00:00:02:00");
    core.setout();
    display.set(Field::tcfield, "00:00:03:00");
    core.setin();
    display.set(Field::tcfield, "00:00:04:00");
    core.setout();
    rec->clear();
    core.ReviewClip();
    EXPECT_EQ(rec->events(), (test::Journal{"F:cuefield=00:00:01:00", "F:endfield=00:00:02:00", "REVIEW"}));
}

TEST_F(LoggerCoreTest, RowButtonsAndRowZeroEdits) {
    ConsoleCapture console;
    core.scrolled(40);
    display.set(Field::tcfield, "00:10:00:00");
    core.takeIn(3);
    display.set(Field::tcfield, "00:10:05:00");
    core.takeOut(3);
    core.takeIn(20);  // no such row
    auto snap = core.model().snapshot();
    EXPECT_EQ(snap.SrcInArray[43], "00:10:00:00");
    EXPECT_EQ(snap.SrcOutArray[43], "00:10:05:00");
    EXPECT_EQ(row(core.model(), 3)[2], "00:10:00:00");

    core.nameEntered("Intro");
    core.inTimeEntered("not a time");
    core.outTimeEntered("00:10:09:00");
    snap = core.model().snapshot();
    EXPECT_EQ(snap.ClipNameArray[40], "Intro");
    EXPECT_EQ(snap.SrcInArray[40], "not a time");
    EXPECT_EQ(snap.SrcOutArray[40], "00:10:09:00");
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Intro"}));
}

TEST_F(LoggerCoreTest, LoadAndSaveButtons) {
    test::TempDir dir;
    ConsoleCapture console;
    // Cancelled dialogs do nothing (apart from the refresh after load).
    core.savePressed();
    core.loadPressed();
    EXPECT_EQ(dialogs, (std::vector<std::pair<std::string, int>>{{"Save Standard EDL", 1}, {"Load Standard EDL", 0}}));
    EXPECT_TRUE(console.lines().empty());

    chosen = dir.file("EDL.txt");
    display.set(Field::tcfield, "00:00:05:00");
    core.setin();
    core.setout();
    core.savePressed();
    ASSERT_TRUE(std::filesystem::exists(chosen));
    EXPECT_EQ(test::readFile(chosen).rfind("TITLE: " + chosen + "\r\nREM  Written by Morvia\r\n", 0), 0u);

    // Loading while scrolled to 40 shows entries 0..19; vsbval stays.
    LoggerModel::resetShared();
    LoggerCore other{display, [] {}, [this](const std::string&, int) { return chosen; }};
    other.scrolled(40);
    other.loadPressed();
    EXPECT_EQ(row(other.model(), 0), (std::array<std::string, 4>{"1", "Clip N  ", "00:00:05:00", "00:00:05:00"}));
    EXPECT_EQ(row(other.model(), 19)[0], "20");
    EXPECT_EQ(LoggerModel::getvsbval(), 40);
    EXPECT_EQ(other.getLoadOrSave(), 0);
    display.set(Field::tcfield, "00:00:07:00");
    other.takeIn(0);
    EXPECT_EQ(other.model().snapshot().SrcInArray[40], "00:00:07:00");
}

TEST_F(LoggerCoreTest, PositionIsSharedByAllLoggers) {
    core.scrolled(30);
    display.set(Field::tcfield, "00:00:01:00");
    core.setin();
    core.setout();
    LoggerCore second{display, [] {}, {}};
    // A new logger starts with fresh entries and shows 0..19, but logs where the last one left off.
    EXPECT_EQ(row(second.model(), 0)[0], "1");
    second.setin();
    EXPECT_EQ(second.model().snapshot().SrcInArray[31], "00:00:01:00");
    EXPECT_EQ(second.model().snapshot().SrcInArray[30], "00:00:00:00");
}

TEST_F(LoggerCoreTest, MarksFromAnotherThreadWhileScrolling) {
    ConsoleCapture console;
    std::atomic<int> notifications{0};
    core.setViewListener([&] { notifications.fetch_add(1); });
    display.set(Field::tcfield, "00:00:01:00");
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread marker([&] {
        while (!stop.load()) {
            core.setin();
            core.setout();
            rounds.fetch_add(1);
        }
    });
    for (int i = 0; i < 2000 || rounds.load() < 200; ++i) {
        core.scrolled(i % 81);
        (void)core.model().view();
    }
    stop.store(true);
    marker.join();
    core.setViewListener(nullptr);
    EXPECT_GT(notifications.load(), 2000);
    EXPECT_LE(LoggerModel::getvsbval() + LoggerModel::getoffset(), 100);
}

TEST_F(LoggerCoreTest, SavesAndLoadsGoIntoTheSessionLog) {
    ConsoleCapture console;
    test::TempDir dir("edllog");
    auto log = sessionlog::Writer::open(dir.path().string(), sessionlog::Event("start"),
                                        std::make_shared<test::SteppedClock>());
    ASSERT_TRUE(log);
    bool in = true;
    for (const char* tc : {"00:01:00:00", "00:01:05:00", "00:02:00:00", "00:02:05:00"}) {
        display.set(Field::tcfield, tc);
        if (in) core.setin();
        else core.setout();
        in = !in;
    }
    core.SaveEDL(dir.file("two.edl"));
    core.LoadEDL(dir.file("two.edl"));
    core.LoadEDL(dir.file("missing.edl"));
    core.SaveEDL(dir.file("no-such-folder/x.edl"));
    const std::string path = log->path();
    log->finish("stopped");

    std::vector<std::vector<std::string>> got;
    for (const auto& l : test::fileLines(path)) {
        const auto m = sessionlog::parseObject(l);
        ASSERT_TRUE(m) << l;
        std::vector<std::string> row;
        for (const auto& [k, v] : *m)
            if (k == "event" || k == "path" || k == "events" || k == "outcome") row.push_back(v);
        got.push_back(row);
    }
    EXPECT_EQ(got, (std::vector<std::vector<std::string>>{
                       {"start"},
                       {"edl_save", "saved", dir.file("two.edl"), "2"},
                       {"edl_load", "loaded", dir.file("two.edl"), "2"},
                       {"edl_load", "nothing read", dir.file("missing.edl"), "0"},
                       {"edl_save", "failed", dir.file("no-such-folder/x.edl"), "2"},
                       {"end", "stopped"}}));
}
