#include <cstring>

#include "player/TCThread.h"
#include "player/Timecode.h"
#include "player/VcrTestSupport.h"

namespace morvia::test {
namespace {

// Feeds a frame reply as the link would: the text and its carriage return.
void reply(LocalVCR& v, const std::string& digits, int numBytes = -1) {
    std::string r = digits + "\r";
    std::uint8_t buf[16] = {};
    std::memcpy(buf, r.data(), std::min<std::size_t>(r.size(), sizeof buf));
    v.DoTC(buf, 16, numBytes < 0 ? static_cast<int>(r.size()) : numBytes);
}

TEST(Timecode, TCFramesOfListedTimecodesAndFailures) {
    EXPECT_EQ(timecode::TCFrames("10:00:00:00"), 1080000);
    EXPECT_EQ(timecode::TCFrames("00:00:01:00"), 30);
    EXPECT_EQ(timecode::TCFrames("00:00:00:29"), 29);
    EXPECT_EQ(timecode::TCFrames("00:01:00:00"), 1800);
    EXPECT_EQ(timecode::TCFrames("00:75:00:00"), 75 * 1800);                       // no range check on minutes
    EXPECT_EQ(timecode::TCFrames("01x02y03z04"), 108000 + 2 * 1800 + 3 * 30 + 4);  // separators ignored
    EXPECT_EQ(timecode::TCFrames("00:00:00:01 trailing"), 1);
    EXPECT_EQ(LocalVCR::TCFrames("99:99:99:99"),
              9 * 1080000 + 9 * 108000 + 9 * 18000 + 9 * 1800 + 9 * 300 + 9 * 30 + 99);

    EXPECT_FALSE(timecode::TCFrames("00:00:00:0").has_value());  // 10 characters
    EXPECT_FALSE(timecode::TCFrames("").has_value());
    EXPECT_FALSE(timecode::TCFrames("0a:00:00:00").has_value());
    EXPECT_FALSE(timecode::TCFrames("00:00:00: 1").has_value());
    EXPECT_FALSE(timecode::TCFrames("-0:00:00:00").has_value());
    // The controller's own reading still refuses with the exception its
    // operations end on.
    EXPECT_THROW(LocalVCR::TCFrames("0a:00:00:00"), TimecodeError);
    EXPECT_THROW(LocalVCR::TCFrames("00:00:00:0"), TimecodeError);
}

TEST(Timecode, FrameTextAndDigits) {
    EXPECT_EQ(timecode::FramesToTC(0), "00:00:00:00");
    EXPECT_EQ(timecode::FramesToTC(107999), "00:59:59:29");
    EXPECT_EQ(timecode::FramesToTC(9999999), "92:35:33:09");
    EXPECT_EQ(timecode::FramesToTC(99LL * 108000 + 29), "99:00:00:29");
    EXPECT_EQ(timecode::FramesToTC(100LL * 108000), "100:00:00:00");  // hours in full from 100 on
    EXPECT_EQ(timecode::FramesToTC(-30), "-00:00:01:00");

    EXPECT_EQ(timecode::FrameDigits(1650), (std::array<int, 7>{0, 0, 0, 1, 6, 5, 0}));
    EXPECT_EQ(timecode::FrameDigits(9999999), (std::array<int, 7>{9, 9, 9, 9, 9, 9, 9}));
    EXPECT_THROW(timecode::FrameDigits(-1), FrameRangeError);
    EXPECT_THROW(timecode::FrameDigits(10000000), FrameRangeError);

    const std::uint8_t ok[] = {'0', '1', '0', '7', '9', '9', '9', '\r'};
    const std::uint8_t bad[] = {'0', '1', '0', 'E', '9', '9', '9', '\r'};
    EXPECT_EQ(timecode::DecodeFrameReply(ok, 8), 107999);
    EXPECT_EQ(timecode::DecodeFrameReply(bad, 8), std::nullopt);
    EXPECT_EQ(timecode::DecodeFrameReply(ok, 6), std::nullopt);
}

TEST_F(VcrTest, WorkedExampleWithOffsetFiveSeconds) {
    settings.set(&Settings::OSString, "00:00:05:00");
    auto& v = make();
    EXPECT_EQ(v.getoffsetframes(), 150);

    reply(v, "0001234");
    EXPECT_EQ(v.getTCString(), "00:00:46:04");
    reply(v, "0000000");
    EXPECT_EQ(v.getTCString(), "00:00:05:00");
    EXPECT_EQ(rec->only("TC:"), (std::vector<std::string>{"00:00:46:04", "00:00:05:00"}));

    std::array<int, 7> fr{};
    EXPECT_EQ(v.MakeFRString("00:01:00:00", fr), 1650);
    EXPECT_EQ(fr, (std::array<int, 7>{0, 0, 0, 1, 6, 5, 0}));

    display.set(Field::cuefield, "00:01:00:00");
    v.MakeCueFRString();
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::cueinfr), "FR0001650SE\r");
    EXPECT_EQ(v.getcuefrs(), 1650);

    // A reply that is not 8 bytes long shows the in point.
    reply(v, "E04", 4);
    EXPECT_EQ(v.getTCString(), "00:01:00:00");
    reply(v, "0001234", 5);
    EXPECT_EQ(v.getTCString(), "00:01:00:00");
}

TEST_F(VcrTest, RepliesAtTheHourBoundaryAndTheLargestFrame) {
    auto& v = make();
    reply(v, "0107999");
    EXPECT_EQ(v.getTCString(), "00:59:59:29");
    reply(v, "0108000");
    EXPECT_EQ(v.getTCString(), "01:00:00:00");
    reply(v, "9999999");
    EXPECT_EQ(v.getTCString(), "92:35:33:09");
}

TEST_F(VcrTest, DisplayBeyondNinetyNineHoursShowsTheHoursInFull) {
    settings.set(&Settings::OSString, "10:00:00:00");
    auto& v = make();
    reply(v, "9999999");
    EXPECT_EQ(v.getTCString(), "102:35:33:09");
}

TEST_F(VcrTest, AReplyWithANonDigitChangesNothing) {
    settings.set(&Settings::useclipboard, true);
    auto& v = make();
    reply(v, "0000300");
    rec->clear();
    for (const char* bad : {"00003A0", "E04\r\r\r\r", "000 300", "\xB0\x30\x30\x30\x33\x30\x30"}) {
        reply(v, bad, 8);
    }
    EXPECT_EQ(v.getTCString(), "00:00:10:00");
    EXPECT_TRUE(rec->events().empty());  // no display, no clipboard
}

TEST_F(VcrTest, ClipboardGetsEveryTimecodeWithALineFeed) {
    settings.set(&Settings::useclipboard, true);
    auto& v = make();
    reply(v, "0000030");
    reply(v, "0000031");
    EXPECT_EQ(pick(*rec, {"TC:", "CLIP:"}),
              (Journal{"TC:00:00:01:00", "CLIP:00:00:01:00\n", "TC:00:00:01:01", "CLIP:00:00:01:01\n"}));

    settings.set(&Settings::useclipboard, false);
    auto& quiet = make();
    reply(quiet, "0000030");
    EXPECT_TRUE(rec->only("CLIP:").empty());
}

TEST_F(VcrTest, ATimecodeBeforeTheOffsetIsRefusedBeforeAnythingIsSent) {
    settings.set(&Settings::OSString, "00:00:05:00");
    auto& v = make();
    std::array<int, 7> fr{1, 2, 3, 4, 5, 6, 7};
    EXPECT_THROW(v.MakeFRString("00:00:04:00", fr), FrameRangeError);  // -30
    EXPECT_EQ(fr, (std::array<int, 7>{1, 2, 3, 4, 5, 6, 7}));          // untouched

    display.set(Field::cuefield, "00:00:04:00");
    display.set(Field::endfield, "00:00:20:00");
    v.cuein();
    v.review();
    v.cueplay();
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(rec->only("S:"), (std::vector<std::string>{LocalVCR::kOutOfRangeText, LocalVCR::kOutOfRangeText,
                                                         LocalVCR::kOutOfRangeText}));
    EXPECT_EQ(v.templates().get(CommandTemplates::Id::cueinfr), "FR0000000SE\r");

    // Beyond the seven digits: 92:35:33:10 plus the offset.
    display.set(Field::cuefield, "00:00:00:00");
    display.set(Field::endfield, "92:35:38:10");
    rec->clear();
    v.cueout();
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(rec->only("S:"), std::vector<std::string>{LocalVCR::kOutOfRangeText});
}

TEST_F(VcrTest, AFieldThatIsNotATimecodeAbandonsSilently) {
    auto& v = make();
    display.set(Field::cuefield, "12:34");
    v.cuein();
    v.setdirectin();
    display.set(Field::cuefield, "00:00:01:00");
    display.set(Field::endfield, "xx:00:02:00");
    v.review();
    v.cueout();
    EXPECT_TRUE(queued().empty());
    EXPECT_TRUE(rec->only("S:").empty());
    EXPECT_FALSE(v.getoutok());
}

TEST_F(VcrTest, OffsetSettingThatIsNotATimecodeGivesZeroWithAMessage) {
    settings.set(&Settings::OSString, "5 seconds");
    auto& v = make();
    EXPECT_EQ(v.getoffsetframes(), 0);
    EXPECT_TRUE(rec->events().empty());  // construction stays quiet
    v.MakeOffset();
    EXPECT_EQ(v.getoffsetframes(), 0);
    EXPECT_EQ(v.getOSString(), "5 seconds");
    EXPECT_EQ(rec->only("S:"), std::vector<std::string>{"TCOffset Not Valid"});
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_NE(console.lines()[0].find("5 seconds"), std::string::npos);
}

TEST_F(VcrTest, ReportTimecodeGoesToTheClientThenTheConsole) {
    auto& v = make();
    v.reporttc();
    auto client = std::make_shared<RecordingClient>();
    v.setconnectthread(client);
    reply(v, "0000045");
    v.reporttc();
    EXPECT_EQ(client->lines(), std::vector<std::string>{"00:00:01:15"});
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Time Code= 00:00:00:01", "Time Code= 00:00:01:15"}));
}

TEST_F(VcrTest, GetTCStartsOnePollingThreadOnlyWithASerialPort) {
    auto& v = make();
    v.GetTC();
    EXPECT_EQ(v.gettcthread(), nullptr);

    RecordingLink withPort(rec, true);
    auto& polled = make(&withPort);
    polled.GetTC();
    TCThread* first = polled.gettcthread();
    ASSERT_NE(first, nullptr);
    polled.GetTC();
    EXPECT_EQ(polled.gettcthread(), first);
    EXPECT_TRUE(first->isrunning());
    vcr.reset();  // stops and joins it
}

TEST_F(VcrTest, LinkCallbacksKeepTheLastReplyAndRangeCheckedNumbers) {
    auto& v = make();
    const std::uint8_t r[] = {'P', '0', '4', '\r'};
    v.SerIn(r, 4);
    auto last = v.lastReply();
    EXPECT_EQ(last[0], 'P');
    EXPECT_EQ(last[2], '4');
    EXPECT_EQ(last[4], 0);

    v.setinfo(3, 12);
    EXPECT_EQ(v.getcurtitle(), 3);
    EXPECT_EQ(v.getcurchapter(), 12);
    v.setinfo(5, -1);  // title only
    EXPECT_EQ(v.getcurtitle(), 5);
    EXPECT_EQ(v.getcurchapter(), 12);
    v.setinfo(0, 7);  // title out of range: nothing
    v.setinfo(100, 7);
    EXPECT_EQ(v.getcurtitle(), 5);
    EXPECT_EQ(v.getcurchapter(), 12);

    v.TCIndicate(false);
    EXPECT_EQ(rec->only("TCI:"), std::vector<std::string>{"0"});
}

}  // namespace
}  // namespace morvia::test
