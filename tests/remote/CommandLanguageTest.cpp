#include <gtest/gtest.h>

#include <climits>

#include "remote/CommandLanguage.h"
#include "remote/RemoteFixture.h"

using namespace morvia;
using namespace morvia::test;

namespace {

class CommandLanguage : public RemoteFixture {};

TEST_F(CommandLanguage, EveryWholeWordReachesItsOperation) {
    // Transport words: one command each.
    const std::vector<std::pair<std::string, std::string>> transport = {
        {"Play", "PL\r"}, {"Pause", "ST\r"}, {"Stop", "PA\r"},      {"Forward", "NF\r"},   {"Rewind", "NR\r"},
        {"JogF", "SF\r"}, {"JogR", "SR\r"},  {"Slow4", "15SPMF\r"}, {"Slow2", "30SPMF\r"},
    };
    for (const auto& [word, bytes] : transport) {
        rec->clear();
        EXPECT_TRUE(ParseNetCommand(vcr, word)) << word;
        EXPECT_EQ(queued(), std::vector<std::string>{bytes}) << word;
    }

    // Title and chapter steps.
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "NextT"));
    EXPECT_TRUE(contains(queued(), "TI02SEPL\r"));
    EXPECT_EQ(vcr.getcurtitle(), 2);
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "PrevT"));
    EXPECT_TRUE(contains(queued(), "TI01SEPL\r"));
    EXPECT_EQ(vcr.getcurtitle(), 1);
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "NextC"));
    EXPECT_TRUE(contains(queued(), "CH02SEPL\r"));
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "PrevC"));
    EXPECT_TRUE(contains(queued(), "CH01SEPL\r"));
    EXPECT_EQ(vcr.getcurchapter(), 1);

    // Cues: the in field holds 00:00:00:00, the out field 00:00:10:00.
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "CueIn"));
    EXPECT_EQ(queued().back(), "FR0000000SE\r");
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "CueOut"));
    EXPECT_EQ(queued().back(), "FR0000300SE\r");
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "Cueplay"));
    EXPECT_TRUE(contains(queued(), "FR0000000SE\r"));
    EXPECT_EQ(queued().back(), "PL\r");

    // Review plays to the out point's marker once; Repeat twice (count 2).
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "Review"));
    auto once = queued();
    EXPECT_TRUE(contains(once, "FR0000300SMPL\r"));
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "Repeat"));
    EXPECT_EQ(queued().size(), 2 * once.size());

    // Queries answer on the console and queue nothing.
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "GetTC"));
    EXPECT_TRUE(ParseNetCommand(vcr, "GetTi"));
    EXPECT_TRUE(ParseNetCommand(vcr, "GetCh"));
    EXPECT_TRUE(ParseNetCommand(vcr, "Status"));
    EXPECT_TRUE(queued().empty());
    auto lines = console.lines();
    ASSERT_GE(lines.size(), 4u);
    auto last4 = std::vector<std::string>(lines.end() - 4, lines.end());
    EXPECT_EQ(last4[0], "Time Code= " + vcr.getTCString());
    EXPECT_EQ(last4[1], "Title= 1");
    EXPECT_EQ(last4[2], "Chapter= 1");
    EXPECT_EQ(last4[3].rfind("Status= ", 0), 0u);
}

TEST_F(CommandLanguage, WordsAreExactAndCommentsDoNothing) {
    for (const char* s : {"Play ", "play", " Play", "PLAY", "Playx", "Foo1", "Close", "Quit", "    ", "TC3x"})
        EXPECT_FALSE(ParseNetCommand(vcr, s)) << '"' << s << '"';
    EXPECT_TRUE(ParseNetCommand(vcr, ";Play"));
    EXPECT_TRUE(ParseNetCommand(vcr, ";"));
    // Lines shorter than four characters are refused without being read
    // past their end.
    for (const char* s : {"", "P", "Pl", "TC1", "TC2", "Wai"}) EXPECT_FALSE(ParseNetCommand(vcr, s)) << '"' << s << '"';
    EXPECT_TRUE(rec->events().empty());
}

TEST_F(CommandLanguage, TitleAndChapterNumbers) {
    EXPECT_TRUE(ParseNetCommand(vcr, "TNum7"));
    EXPECT_EQ(vcr.getcurtitle(), 7);
    EXPECT_TRUE(contains(queued(), "TI07SEPL\r"));
    vcr.setcurtitle(1);
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "TNum07"));
    EXPECT_EQ(vcr.getcurtitle(), 7);
    EXPECT_TRUE(contains(queued(), "TI07SEPL\r"));

    rec->clear();
    for (const char* s : {"TNum0", "TNum100", "TNum-3", "CNum0", "CNum100", "CNum-1"}) {
        EXPECT_TRUE(ParseNetCommand(vcr, s)) << s;
    }
    EXPECT_TRUE(rec->events().empty()) << "out-of-range numbers change nothing";
    EXPECT_EQ(vcr.getcurtitle(), 7);
    EXPECT_EQ(vcr.getcurchapter(), 1);

    EXPECT_TRUE(ParseNetCommand(vcr, "CNum12"));
    EXPECT_EQ(vcr.getcurchapter(), 12);
    EXPECT_TRUE(contains(queued(), "CH12SEPL\r"));
}

TEST_F(CommandLanguage, RepeatCountHasNoRangeCheck) {
    EXPECT_TRUE(ParseNetCommand(vcr, "RNum0"));
    EXPECT_EQ(Quenta::getrepeatval(), 0);
    EXPECT_TRUE(ParseNetCommand(vcr, "Repeat"));
    EXPECT_TRUE(rec->events().empty()) << "a repeat count of 0 reviews nothing";
    EXPECT_TRUE(ParseNetCommand(vcr, "RNum-5"));
    EXPECT_EQ(Quenta::getrepeatval(), -5);
    EXPECT_TRUE(ParseNetCommand(vcr, "RNum1000"));
    EXPECT_EQ(Quenta::getrepeatval(), 1000);
}

TEST_F(CommandLanguage, WaitSleepsWholeSecondsAndRefusesWhatDoesNotFit) {
    EXPECT_TRUE(ParseNetCommand(vcr, "Wait2"));
    EXPECT_EQ(waits(), std::vector<std::string>{"2000"});
    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "Wait0"));
    EXPECT_TRUE(ParseNetCommand(vcr, "Wait2147483"));
    EXPECT_EQ(waits(), std::vector<std::string>{"2147483000"});
    rec->clear();
    EXPECT_FALSE(ParseNetCommand(vcr, "Wait-1"));
    EXPECT_FALSE(ParseNetCommand(vcr, "Wait2147484"));
    EXPECT_FALSE(ParseNetCommand(vcr, "Wait2147483647"));
    EXPECT_TRUE(rec->events().empty()) << "a refused wait sleeps nothing";
}

TEST_F(CommandLanguage, BadNumbersAreNumberFormatErrors) {
    for (const char* s :
         {"Wait", "Wait 5", "Wait+5", "Wait5 ", "TNumx", "TNum", "CNum1.5", "RNum-", "RNum", "TNum99999999999"}) {
        try {
            ParseNetCommand(vcr, s);
            ADD_FAILURE() << '"' << s << "\" did not fail";
        } catch (const NumberFormatError& e) {
            EXPECT_EQ(e.line(), s);
            EXPECT_EQ(e.argument(), std::string(s).substr(4));
        }
    }
    EXPECT_TRUE(rec->events().empty()) << "a failed line performs no action";
    EXPECT_EQ(Quenta::getrepeatval(), 2);
}

TEST_F(CommandLanguage, TimecodeCommandsSetTheFieldsAndRevalidate) {
    EXPECT_TRUE(ParseNetCommand(vcr, "TC2" + std::string("02:00:00:00")));
    EXPECT_EQ(display.gettext(Field::endfield), "02:00:00:00");
    EXPECT_EQ(vcr.getEndString(), "02:00:00:00");
    EXPECT_EQ(vcr.getreviewfrs(), 2 * 108000);

    rec->clear();
    EXPECT_TRUE(ParseNetCommand(vcr, "TC1" + std::string("01:00:00:00")));
    EXPECT_EQ(display.gettext(Field::cuefield), "01:00:00:00");
    EXPECT_EQ(vcr.getCueString(), "01:00:00:00");
    EXPECT_TRUE(contains(rec->events(), "F:cuefield=01:00:00:00"));
    EXPECT_EQ(vcr.getcuefrs(), 108000);
    EXPECT_EQ(vcr.getduration(), 108000);
    EXPECT_TRUE(vcr.getinok());
    EXPECT_TRUE(vcr.getoutok());
    EXPECT_TRUE(queued().empty()) << "setting points sends nothing to the player";
}

TEST_F(CommandLanguage, MalformedPointsFailAndKeepTheOldPoints) {
    ASSERT_TRUE(ParseNetCommand(vcr, "TC100:00:10:00"));
    ASSERT_TRUE(ParseNetCommand(vcr, "TC200:00:20:00"));
    rec->clear();
    for (const char* s : {"TC100:0x:10:00", "TC2 00:00:30:00", "TC100:00:10", "TC2x", "TC1abcdefghijkl"}) {
        try {
            ParseNetCommand(vcr, s);
            ADD_FAILURE() << '"' << s << "\" did not fail";
        } catch (const TimecodeFormatError& e) {
            EXPECT_EQ(e.line(), s);
            EXPECT_EQ(e.argument(), std::string(s).substr(3));
            EXPECT_EQ(e.problem(), "bad timecode");
        } catch (const NumberFormatError&) {
            ADD_FAILURE() << '"' << s << "\" failed as a number";
        }
    }
    EXPECT_TRUE(rec->events().empty()) << "a failed point touches neither field nor player";
    EXPECT_EQ(vcr.getcuefrs(), 300);
    EXPECT_EQ(vcr.getreviewfrs(), 600);
}

}  // namespace
