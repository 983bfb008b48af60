#include "player/TCThread.h"
#include "player/VcrTestSupport.h"

namespace morvia::test {
namespace {

// What getdata sends after its two-second wait.
Journal queryTail() { return cat({{"W:2000", "Q:\r"}, times(5, "Q:?A\r"), {"Q:NS\r"}, times(12, "Q:ST\r")}); }

TEST_F(VcrTest, ChapterChangeSendsTheWholeSequence) {
    auto& v = make();
    v.setcurtitle(2);
    v.setcurchapter(4);
    v.nextchapter();
    EXPECT_EQ(v.getcurchapter(), 5);
    EXPECT_EQ(wire(), cat({{"Q:\r", "Q:NS\r", "Q:CH05SEPL\r"}, queryTail()}));
    EXPECT_EQ(rec->only("F:"), (std::vector<std::string>{"chapterfield=5", "chapterfield=5", "titlefield=2"}));
    EXPECT_EQ(console.lines(), std::vector<std::string>{"DVD Title= 2 Chapter= 5"});
    EXPECT_EQ(v.getStatus(), 0);
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::gochapter), "CH05SEPL\r");

    rec->clear();
    v.prevchapter();
    EXPECT_EQ(queued()[2], "CH04SEPL\r");

    v.setcurchapter(1);
    rec->clear();
    v.prevchapter();  // at the first chapter: nothing at all
    EXPECT_TRUE(rec->events().empty());
    v.setcurchapter(99);
    v.nextchapter();
    EXPECT_TRUE(rec->events().empty());
    EXPECT_EQ(v.getcurchapter(), 99);
}

TEST_F(VcrTest, TitleStepsAtTheUpperLimit) {
    auto& v = make();
    v.setcurtitle(98);
    v.nexttitle();
    EXPECT_EQ(v.getcurtitle(), 99);
    EXPECT_EQ(wire(), cat({{"Q:\r", "Q:NS\r", "Q:\r", "Q:NS\r", "Q:ST\r", "Q:TI99SEPL\r"}, queryTail()}));

    rec->clear();
    v.nexttitle();  // 99: nothing
    EXPECT_TRUE(rec->events().empty());
    EXPECT_EQ(v.getcurtitle(), 99);
}

TEST_F(VcrTest, TitleDigitsAndLowerLimit) {
    auto& v = make();
    v.setcurtitle(8);
    v.prevtitle();
    EXPECT_EQ(queued()[5], "TI07SEPL\r");
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::autostart), "TI07SEPL\r");

    v.setcurtitle(1);
    rec->clear();
    v.prevtitle();
    EXPECT_TRUE(rec->events().empty());

    // A number the two-digit command cannot carry sends nothing.
    v.setcurtitle(100);
    v.settitle();
    v.setcurchapter(0);
    v.setchapter();
    EXPECT_TRUE(rec->events().empty());
}

TEST_F(VcrTest, TitleChangeFillsTheFieldsAndPausesPollingUntilTheQueryEnds) {
    RecordingLink withPort(rec, true);
    auto& v = make(&withPort);
    v.GetTC();
    TCThread* tc = v.gettcthread();
    ASSERT_NE(tc, nullptr);
    tc->setsleeptime(100000);  // keep the thread quiet during the test

    // A sleeper that notes whether polling was paused during the wait.
    struct PauseProbe : DelayClock {
        TCThread* tc;
        std::vector<bool> paused;
        void delayed(int) override { paused.push_back(tc->ispaused()); }
    };
    auto probe = std::make_shared<PauseProbe>();
    probe->tc = tc;
    Utils::setClock(probe);
    v.setcurtitle(12);
    v.setcurchapter(3);
    v.settitle();
    Utils::setClock(std::make_shared<FakeSleeper>(rec));
    EXPECT_EQ(probe->paused, std::vector<bool>{true});
    EXPECT_FALSE(tc->ispaused());
    EXPECT_EQ(rec->only("F:"),
              (std::vector<std::string>{"chapterfield=3", "titlefield=12", "chapterfield=3", "titlefield=12"}));
}

TEST_F(VcrTest, ReportsGoToTheClientAndTheConsole) {
    auto& v = make();
    v.setcurtitle(7);
    v.setcurchapter(11);
    v.reportti();
    v.reportch();
    v.reportstatus();  // before any status update: the text of the current code
    auto client = std::make_shared<RecordingClient>();
    v.setconnectthread(client);
    v.forward();
    v.CommandStatus();
    v.reportstatus();
    v.reportti();
    EXPECT_EQ(client->lines(), (std::vector<std::string>{"FF Shuttle ", "7"}));
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Title= 7", "Chapter= 11", "Status= Pause ",
                                                         "Status= FF Shuttle ", "Title= 7"}));
}

TEST_F(VcrTest, OperatorMessageHoldsTheStatusTextButNotTheHighlights) {
    auto& v = make();
    v.forward();
    v.ShowStat("Cued");
    rec->clear();
    v.CommandStatus();
    EXPECT_EQ(rec->events(), (Journal{"CLR", "H:bfwd", "H:vsb"})) << "the message stays; the highlights follow";
    EXPECT_EQ(v.getStatusString(), "FF Shuttle ") << "the status itself is kept up to date";
    EXPECT_EQ(display.gettext(Field::statusfield), "Cued");
}

TEST_F(VcrTest, SilentLinkShowsNoDvdDetectedAtOnceAndClearsWithIt) {
    auto& v = make();
    v.play();
    link.setSilent(true);
    rec->clear();
    v.LinkSilence(true);
    EXPECT_EQ(rec->events(), (Journal{"CLR", "H:bplay", "S:Play ", "S:No DVD Detected"}));
    link.setSilent(false);
    rec->clear();
    v.LinkSilence(false);
    EXPECT_EQ(rec->events(), (Journal{"CLR", "H:bplay", "S:Play "}));
}

}  // namespace
}  // namespace morvia::test
