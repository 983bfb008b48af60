#include <cstring>
#include <functional>
#include <tuple>

#include "player/VcrTestSupport.h"

namespace morvia::test {
namespace {

void frameReply(LocalVCR& v, const char* digits) {
    std::uint8_t buf[16] = {};
    std::memcpy(buf, digits, 7);
    buf[7] = '\r';
    v.DoTC(buf, 16, 8);
}

Journal cueSequence(const std::string& search) {
    return cat({{"Q:\r", "Q:NS\r", "Q:ST\r", "W:1500"}, times(9, "Q:" + search), {"W:1000"}});
}

Journal reviewTail(const std::string& digits, int playMs) {
    const std::string mk = "Q:FR" + digits + "SM\r";
    const std::string pl = "Q:FR" + digits + "SMPL\r";
    return {"W:1000", mk, "W:200", mk, "W:200", pl, "W:200", pl, "W:200", "Q:PL\r", "W:" + std::to_string(playMs),
            "Q:ST\r"};
}

TEST_F(VcrTest, CueInSendsNineSearchesAfterSettlingThePlayer) {
    auto& v = make();
    display.set(Field::cuefield, "00:01:00:00");
    v.play();
    rec->clear();
    v.cuein();
    EXPECT_EQ(pick(*rec, {"Q:", "W:", "S:"}), cat({cueSequence("FR0001800SE\r"), {"S:Cued"}}));
    EXPECT_EQ(v.getcuefrs(), 1800);
    EXPECT_EQ(v.getStatus(), 0);
}

TEST_F(VcrTest, CueOutAndCuePlay) {
    auto& v = make();
    display.set(Field::cuefield, "00:00:01:00");
    display.set(Field::endfield, "00:00:02:00");
    v.cueout();
    EXPECT_EQ(wire(), cueSequence("FR0000060SE\r"));
    EXPECT_EQ(v.getreviewfrs(), 60);
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::stopmkfr), "FR0000060SM\r");
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::playtofr), "FR0000060SMPL\r");

    rec->clear();
    v.cueplay();
    EXPECT_EQ(wire(), cat({cueSequence("FR0000030SE\r"), {"W:2500", "Q:PL\r"}}));
    EXPECT_EQ(v.getStatus(), 1);
}

TEST_F(VcrTest, ReviewWithOffsetCuesPlaysTheSegmentAndPauses) {
    settings.set(&Settings::OSString, "00:00:05:00");
    auto& v = make();
    display.set(Field::cuefield, "00:00:10:00");
    display.set(Field::endfield, "00:00:20:00");
    frameReply(v, "0000999");  // the player is elsewhere: the review cues first
    rec->clear();
    v.review();
    EXPECT_EQ(v.getcuefrs(), 150);
    EXPECT_EQ(v.getreviewfrs(), 450);
    EXPECT_EQ(v.getduration(), 300);
    EXPECT_EQ(wire(), cat({cueSequence("FR0000150SE\r"), reviewTail("0000450", 10500)}));
    EXPECT_EQ(rec->only("S:"),
              (std::vector<std::string>{"Review duration= 300 frames", "Cued", "Review completed - Pause"}));
    EXPECT_EQ(v.getStatus(), 0);
}

TEST_F(VcrTest, ReviewAtTheInPointSkipsTheCue) {
    auto& v = make();
    frameReply(v, "0000300");  // TCString 00:00:10:00
    v.setCueString("00:00:10:00");
    display.set(Field::cuefield, "00:00:10:00");
    display.set(Field::endfield, "00:00:11:00");
    rec->clear();
    v.review();
    EXPECT_EQ(wire(), reviewTail("0000330", 30 * 35));
    EXPECT_EQ(wire().front(), "W:1000");  // first command one second after the call
}

TEST_F(VcrTest, InvalidOutPointIsResetAndNothingIsSent) {
    auto& v = make();
    display.set(Field::cuefield, "00:00:10:00");
    display.set(Field::endfield, "00:00:10:00");
    v.setdirectin();
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(pick(*rec, {"S:", "W:", "F:", "BG:", "IO:"}),
              (Journal{"S:OUTPOINT NOT VALID", "W:500", "F:endfield=00:00:00:00", "BG:endfield=grey", "IO:10"}));
    EXPECT_EQ(display.gettext(Field::endfield), "00:00:00:00");
    EXPECT_TRUE(v.getinok());
    EXPECT_FALSE(v.getoutok());
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::cueoutfr), "FR0000000SE\r");

    rec->clear();
    display.set(Field::endfield, "00:00:09:29");
    v.review();
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(rec->only("S:"), std::vector<std::string>{"Outpoint Not Valid"});
    EXPECT_EQ(v.getduration(), -1);
}

TEST_F(VcrTest, InvalidOutPointWithAnOffsetKeepsTheTemplatesWhole) {
    settings.set(&Settings::OSString, "00:00:05:00");
    auto& v = make();
    display.set(Field::cuefield, "00:00:10:00");
    display.set(Field::endfield, "00:00:20:00");
    v.setdirectin();
    display.set(Field::endfield, "00:00:06:00");
    rec->clear();
    v.setdirectout();
    // 00:00:00:00 lies before the offset: the reset cannot be turned into
    // digits, so the templates keep the last valid out point.
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::playtofr), "FR0000030SMPL\r");
    EXPECT_EQ(pick(*rec, {"S:", "BG:"}), (Journal{"S:OUTPOINT NOT VALID", "BG:endfield=grey"}));
    EXPECT_FALSE(v.getoutok());
}

TEST_F(VcrTest, ValidPointsAreConfirmed) {
    auto& v = make();
    frameReply(v, "0000090");
    display.set(Field::endfield, "00:00:20:00");
    rec->clear();
    v.setcue();  // current timecode becomes the in point
    EXPECT_EQ(pick(*rec, {"S:", "F:", "BG:", "IO:"}),
              (Journal{"F:cuefield=00:00:03:00", "BG:endfield=background", "S:EDIT POINTS OK", "IO:11"}));
    EXPECT_EQ(v.getcuefrs(), 90);
    EXPECT_EQ(v.getduration(), 510);
    EXPECT_TRUE(v.getoutok());

    frameReply(v, "0000900");
    rec->clear();
    v.setreview();  // current timecode becomes the out point
    EXPECT_EQ(display.gettext(Field::endfield), "00:00:30:00");
    EXPECT_EQ(v.getreviewfrs(), 900);
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::stopmkfr), "FR0000900SM\r");
    EXPECT_TRUE(queued().empty());
}

TEST_F(VcrTest, RepeatRunsTheRepeatCountOfReviews) {
    auto& v = make();
    display.set(Field::cuefield, "00:00:01:00");
    display.set(Field::endfield, "00:00:02:00");
    frameReply(v, "0000999");
    rec->clear();
    const Journal one = cat({cueSequence("FR0000030SE\r"), reviewTail("0000060", 1050)});

    Quenta::setrepeatval(2);
    v.setstoprepeat();  // as the window's "Repeat" action does
    v.repeat();
    EXPECT_EQ(wire(), cat({one, one}));

    rec->clear();
    Quenta::setrepeatval(0);
    v.setstoprepeat();
    v.repeat();
    EXPECT_TRUE(rec->events().empty());
}

TEST_F(VcrTest, RepeatWithInvalidPointsEndsAfterTheFirstFailedPass) {
    auto& v = make();
    display.set(Field::cuefield, "00:00:02:00");
    display.set(Field::endfield, "00:00:01:00");
    rec->clear();
    // A huge count (a script or client can set any) must not spin through
    // passes that each fail at once.
    Quenta::setrepeatval(2000000000);
    v.setstoprepeat();
    v.repeat();
    EXPECT_EQ(rec->only("S:"), (std::vector<std::string>{"Outpoint Not Valid"}));
    EXPECT_TRUE(queued().empty());
    Quenta::setrepeatval(2);
}

TEST_F(VcrTest, StopDuringARepeatEndsItAfterTheCurrentPass) {
    auto& v = make();
    display.set(Field::cuefield, "00:00:01:00");
    display.set(Field::endfield, "00:00:02:00");
    Quenta::setrepeatval(3);
    // Another command source stops while the first pass plays.
    Utils::setClock(std::make_shared<TriggerSleeper>(rec, 1050, [&] { v.stop(); }));
    v.setstoprepeat();
    v.repeat();
    const auto q = queued();
    EXPECT_EQ(std::count(q.begin(), q.end(), "PL\r"), 1);
    EXPECT_EQ(q.back(), "ST\r");  // the pass in progress still ends in pause

    // A fresh Repeat afterwards runs its full count again.
    Utils::setClock(std::make_shared<FakeSleeper>(rec));
    rec->clear();
    v.setstoprepeat();
    v.repeat();
    const auto q2 = queued();
    EXPECT_EQ(std::count(q2.begin(), q2.end(), "PL\r"), 3);
}

TEST_F(VcrTest, OperatorStopEndsTheRunningRepeatAndAfterACloseNoneStarts) {
    auto& v = make();
    display.set(Field::cuefield, "00:00:01:00");
    display.set(Field::endfield, "00:00:02:00");
    Quenta::setrepeatval(3);
    // The window raises the request on its own thread while the first pass
    // plays; the request itself sends nothing.
    Utils::setClock(std::make_shared<TriggerSleeper>(rec, 1050, [&] { v.requestStop(); }));
    v.setstoprepeat();
    v.repeat();
    auto q = queued();
    EXPECT_EQ(std::count(q.begin(), q.end(), "PL\r"), 1);
    EXPECT_EQ(std::count(q.begin(), q.end(), "PA\r"), 0);
    EXPECT_EQ(q.back(), "ST\r");

    // A request made before a repeat began is not this repeat's.
    Utils::setClock(std::make_shared<FakeSleeper>(rec));
    rec->clear();
    v.repeat();
    q = queued();
    EXPECT_EQ(std::count(q.begin(), q.end(), "PL\r"), 3);

    // Once the close was asked for, a repeat queued behind it plays nothing.
    rec->clear();
    v.closeRequested();
    v.setstoprepeat();
    v.repeat();
    EXPECT_TRUE(queued().empty());
}

// After the window's close was asked for, a cue (from the window, a network
// review or a goto) ends at its first wait: no search, no play, no "Cued".
TEST_F(VcrTest, TheCloseCutsEveryCueShort) {
    auto& v = make();
    display.set(Field::cuefield, "00:00:01:00");
    display.set(Field::endfield, "00:00:02:00");
    v.closeRequested();
    const Journal cut{"W:1500"};
    const std::vector<std::tuple<const char*, std::function<void()>, Journal>> cues{
        {"cue in", [&] { v.cuein(); }, cut},
        {"cue out", [&] { v.cueout(); }, cut},
        {"cue and play", [&] { v.cueplay(); }, cut},
        {"goto", [&] { v.cueTo("00:00:03:00"); }, cut},
        {"client review", [&] { v.review(v.stopGeneration(), LocalVCR::PassStop::atOnce); }, {}},
    };
    for (const auto& [name, cue, expected] : cues) {
        rec->clear();
        cue();
        EXPECT_EQ(rec->events(), expected) << name;
    }
}

}  // namespace
}  // namespace morvia::test
