#include <gtest/gtest.h>

#include "logger/FieldConversions.h"
#include "support/TestSupport.h"

using namespace morvia;

TEST(FieldConversions, NonDropAndDropFrameCounts) {
    FieldConversions c;
    EXPECT_EQ(c.TC2FieldsNDF("01:10:00:00"), 252000);
    EXPECT_EQ(c.h, 1);
    EXPECT_EQ(c.m, 10);
    EXPECT_EQ(c.DRFCountcor(0), 252);
    EXPECT_EQ(c.DRFCountcor(-12345), 252) << "the argument plays no part";
    EXPECT_EQ(c.TC2FieldsDF("01:10:00:00"), 251748);

    EXPECT_EQ(c.Extracthmsf("00:01:00:02"), 3604);
    EXPECT_EQ(c.CalcDRFCount("00:01:00:02"), 3600);

    // A skipped frame number is not rejected: it counts like the frame before.
    EXPECT_EQ(c.CalcDRFCount("00:01:00:00"), 3596);
    EXPECT_EQ(c.CalcDRFCount("00:00:59:28"), 3596);

    EXPECT_EQ(c.Extracthmsf("00:10:00:00"), 36000);
    EXPECT_EQ(c.DRFCountcor(7), 36) << "only the ten-minute term";
    EXPECT_EQ(c.CalcDRFCount("00:10:00:00"), 35964);

    // Separators are not examined; values beyond their usual range count at face value.
    EXPECT_EQ(c.Extracthmsf("01;02;03;04"), c.Extracthmsf("01:02:03:04"));
    EXPECT_EQ(c.CalcDRFCount("01;02;03;04"), c.CalcDRFCount("01:02:03:04"));
    EXPECT_EQ(c.Extracthmsf("01:02:03:04"), 4 * 2 + 3 * 60 + 2 * 3600 + 216000);
    EXPECT_EQ(c.Extracthmsf("00:00:00:45"), 90);
    EXPECT_EQ(c.Extracthmsf("99:99:99:99"), 99 * 2 + 99 * 60 + 99 * 3600 + 99 * 216000);
    EXPECT_EQ((std::array{c.h, c.m, c.s, c.fr}), (std::array{99, 99, 99, 99}));
}

TEST(FieldConversions, SMPTEstringPadsOneDigitNumbers) {
    test::ConsoleCapture console;
    FieldConversions c;
    c.SMPTEstring(1, 2, 3, 4);
    EXPECT_EQ(c.SMPTE, "01:02:03:04");
    c.SMPTEstring(100, 0, 5, 29);
    EXPECT_EQ(c.SMPTE, "100:00:05:29");
    c.SMPTEstring(-5, 10, 0, 0);
    EXPECT_EQ(c.SMPTE, "-5:10:00:00");
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"01:02:03:04", "100:00:05:29", "-5:10:00:00"}));
}

TEST(FieldConversions, MalformedTimecodeThrowsAndKeepsParts) {
    FieldConversions c;
    ASSERT_EQ(c.Extracthmsf("01:02:03:04"), 223388);
    for (const char* bad : {"", "01:02:03", "01:02:03:0", "0x:02:03:04", "01:02:03:4 ", " 1:02:03:04", "01:02:ab:04",
                            "--:00:00:00", "01:02:03:-"}) {
        EXPECT_THROW(c.Extracthmsf(bad), MalformedTimecode) << bad;
        EXPECT_THROW(c.CalcDRFCount(bad), MalformedTimecode) << bad;
        EXPECT_EQ((std::array{c.h, c.m, c.s, c.fr}), (std::array{1, 2, 3, 4})) << bad;
    }
    // Pairs are signed decimal numbers; longer texts use the first eleven characters.
    EXPECT_EQ(c.Extracthmsf("00:-1:00:+5"), -3600 + 10);
    EXPECT_EQ(c.Extracthmsf("00:00:01:00 and more"), 60);
}
