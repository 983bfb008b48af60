// The exports for editing software, checked against golden files and against
// the rules the common readers apply to a CMX 3600 list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "logger/EdlExport.h"
#include "logger/FieldConversions.h"
#include "logger/LoggerTestUtil.h"
#include "support/TestSupport.h"

using namespace morvia;
using namespace morvia::edlexport;
using morvia::test::crlfLines;
using morvia::test::readFile;
using morvia::test::writeFile;

namespace {

// Entry numbers of the awkward cases in awkwardEntries().
enum Case {
    Accents = 0,
    Empty = 1,
    Twelve = 2,
    ZeroLength = 3,
    Reversed = 4,
    DfMinute = 5,
    DfTenMinutes = 6,
    CsvQuotes = 7,
    AleTab = 8
};

// A logger list with awkward content and all 100 entries in use.
EdlEntries awkwardEntries() {
    EdlEntries e = EdlEntries::initial();
    auto set = [&e](int i, std::string name, std::string in, std::string out) {
        e.ClipNameArray[i] = std::move(name);
        e.SrcInArray[i] = std::move(in);
        e.SrcOutArray[i] = std::move(out);
    };
    // Blanks would split the reel into two fields for a reader that splits
    // on blanks; the accents are not ASCII letters.
    set(Accents, "Sc\xC3\xA8ne \xC3\xA0 deux", "00:00:01:00", "00:00:03:15");
    // Nothing left for a reel: "AX", and no clip-name comment.
    set(Empty, "", "00:00:10:00", "00:00:11:00");
    // Longer than the 8-character reel column; in drop-frame its in point
    // names a skipped frame number.
    set(Twelve, "Interview_04", "00:01:00:00", "00:01:30:00");
    // A record duration of zero, and a negative one, would break the rule
    // that record and source durations match without overlaps: left out.
    set(ZeroLength, "Zero", "00:02:00:00", "00:02:00:00");
    set(Reversed, "Backwards", "00:03:00:00", "00:02:50:00");
    // Drop-frame skips 00:01:00;00 and ;01 but nothing at a ten-minute mark.
    set(DfMinute, "Minute", "00:00:59:29", "00:01:00:02");
    set(DfTenMinutes, "TenMin", "00:09:59:28", "00:10:00:02");
    // A CSV field that needs quotes, and a tab that would add an ALE column.
    set(CsvQuotes, "Take \"2\", wide", "00:04:00:00", "00:04:02:00");
    set(AleTab, "Tab\there", "00:05:00:00", "00:05:01:10");
    // The rest fill all 100 entries, so 98 events are written.
    for (int i = AleTab + 1; i < EdlEntryCount; ++i) {
        const long in = 36000 + 100L * i;  // from 00:20:00:00, 100 frames apart
        set(i, e.ClipNameArray[i], timecodeText(in, false), timecodeText(in + 50 + i, false));
    }
    return e;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string x; in >> x;) w.push_back(x);
    return w;
}

// Frames of a written timecode, counted with the logger's own conversion.
long frames(const std::string& tc, bool dropFrame) {
    FieldConversions c;
    return (dropFrame ? c.CalcDRFCount(tc) : c.TC2FieldsNDF(tc)) / FieldConversions::fpfr;
}

// Compares with a golden file; MORVIA_UPDATE_GOLDEN=1 rewrites it and fails.
void expectGolden(const std::string& text, const std::string& name) {
    const std::string path = test::dataFile(name);
    if (std::getenv("MORVIA_UPDATE_GOLDEN") != nullptr) {
        writeFile(path, text);
        ADD_FAILURE() << "rewrote " << path;
        return;
    }
    const std::string golden = readFile(path);
    ASSERT_FALSE(golden.empty()) << "golden file missing: " << path;
    EXPECT_EQ(text, golden) << name;
}

Result run(Format f, bool dropFrame = false) {
    Options o;
    o.format = f;
    o.dropFrame = dropFrame;
    o.rate = dropFrame ? Rate::Fps2997 : Rate::Fps30;
    o.title = "awkward";
    return exportEvents(listedEvents(awkwardEntries()), o);
}

}  // namespace

TEST(EdlExport, GoldenFiles) {
    expectGolden(run(Format::Cmx3600).text, "awkward.cmx3600.edl");
    expectGolden(run(Format::Cmx3600, true).text, "awkward-df.cmx3600.edl");
    expectGolden(run(Format::Ale).text, "awkward.ale");
    expectGolden(run(Format::Csv).text, "awkward.csv");
}

TEST(EdlExport, ZeroLengthAndReversedEventsAreLeftOutWithAWarning) {
    for (const Format f : {Format::Cmx3600, Format::Ale, Format::Csv}) {
        const Result r = run(f);
        ASSERT_EQ(r.warnings.size(), 2u);
        EXPECT_EQ(r.warnings[0],
                  "event 004 (\"Zero\") left out: source out 00:02:00:00 is not after source in 00:02:00:00");
        EXPECT_EQ(r.warnings[1],
                  "event 005 (\"Backwards\") left out: source out 00:02:50:00 is not after source in 00:03:00:00");
        EXPECT_EQ(r.text.find("Zero"), std::string::npos);
        EXPECT_EQ(r.text.find("Backwards"), std::string::npos);
    }
    // A text that is not a timecode is left out the same way.
    const Result bad = exportEvents(
        {EdlEvent{6, "x", "00:00:0a:00", "00:00:01:00"}, EdlEvent{7, "y", "00:00:01:00", "00:61:00:00"}}, Options{});
    ASSERT_EQ(bad.warnings.size(), 2u);
    EXPECT_EQ(bad.warnings[0], "event 007 (\"x\") left out: source in \"00:00:0a:00\" is not a timecode");
    EXPECT_EQ(bad.warnings[1], "event 008 (\"y\") left out: source out \"00:61:00:00\" is not a timecode");
}

// The rules of the common CMX 3600 readers, one by one, on both golden lists.
TEST(EdlExport, Cmx3600FollowsTheReadersRules) {
    for (const bool df : {false, true}) {
        SCOPED_TRACE(df ? "drop-frame" : "non-drop-frame");
        const std::vector<std::string> l = crlfLines(run(Format::Cmx3600, df).text);
        ASSERT_GE(l.size(), 3u);
        // Header: only TITLE and FCM; any other line before the first event
        // ("REM ...") is an unknown event type to one reader.
        EXPECT_EQ(l[0], "TITLE: awkward");
        EXPECT_EQ(l[1], df ? "FCM: DROP FRAME" : "FCM: NON-DROP FRAME");

        long lastRecordOut = frames("01:00:00:00", df);
        int events = 0;
        std::string previous;
        for (std::size_t i = 2; i < l.size(); ++i) {
            const std::string& line = l[i];
            if (line.rfind("* FROM CLIP NAME: ", 0) == 0) {
                // A comment follows its event line.
                EXPECT_EQ(previous.substr(0, 3).find_first_not_of("0123456789"), std::string::npos) << line;
                previous = line;
                continue;
            }
            ++events;
            // Fixed columns with one blank between the timecodes (the reader
            // that cuts the line by widths): 3 2 8 1 4 2 4 1 3 1 11 1 11 1 11 1 11.
            ASSERT_EQ(line.size(), 76u) << line;
            char num[16];
            std::snprintf(num, sizeof num, "%03d", events);
            EXPECT_EQ(line.substr(0, 5), std::string(num) + "  ") << "events numbered in order";
            EXPECT_EQ(line.substr(13, 16), " AA/V  C        ") << line;
            for (const std::size_t p : {40u, 52u, 64u}) EXPECT_EQ(line[p], ' ') << line;
            // Exactly eight blank-separated fields (the reader that splits on
            // blanks): the reel holds no blank.
            const auto w = words(line);
            ASSERT_EQ(w.size(), 8u) << line;
            EXPECT_EQ(w[1], line.substr(5, 8).substr(0, w[1].size()));
            for (std::size_t k = 4; k < 8; ++k) EXPECT_EQ(w[k][8], df ? ';' : ':') << line;
            // Record duration equals source duration, and record times run
            // end to end from 01:00:00:00 (no overlap, no gap).
            const long srcIn = frames(w[4], df), srcOut = frames(w[5], df);
            const long recIn = frames(w[6], df), recOut = frames(w[7], df);
            EXPECT_GT(srcOut, srcIn) << line;
            EXPECT_EQ(recOut - recIn, srcOut - srcIn) << line;
            EXPECT_EQ(recIn, lastRecordOut) << line;
            lastRecordOut = recOut;
            previous = line;
        }
        EXPECT_EQ(events, 98) << "100 entries less the zero-length and the reversed one";
    }
}

TEST(EdlExport, NamesReelsAndDropFrameDurationsInTheList) {
    const std::vector<std::string> ndf = crlfLines(run(Format::Cmx3600).text);
    const std::vector<std::string> df = crlfLines(run(Format::Cmx3600, true).text);
    // Accents and blanks: the reel keeps ASCII letters and digits, the
    // comment the whole name.
    EXPECT_EQ(ndf[2].substr(0, 14), "001  Scnedeux ");
    EXPECT_EQ(ndf[3], "* FROM CLIP NAME: Sc\xC3\xA8ne \xC3\xA0 deux");
    // Empty name: reel AX, no comment line.
    EXPECT_EQ(ndf[4].substr(0, 14), "002  AX       ");
    EXPECT_EQ(ndf[5].substr(0, 3), "003");
    // Twelve characters: the reel is cut to eight, the comment keeps all.
    EXPECT_EQ(ndf[5].substr(5, 9), "Intervie ");
    EXPECT_EQ(ndf[6], "* FROM CLIP NAME: Interview_04");
    // 00:00:59:29 to 00:01:00:02 is three frames non-drop but one frame in
    // drop-frame (00:01:00;00 and ;01 do not exist); across the ten-minute
    // mark nothing is skipped: four frames either way.
    auto duration = [](const std::vector<std::string>& l, const std::string& reel, bool dropFrame) {
        for (const auto& line : l) {
            const auto w = words(line);
            if (w.size() == 8 && w[1] == reel) return frames(w[5], dropFrame) - frames(w[4], dropFrame);
        }
        return -1L;
    };
    EXPECT_EQ(duration(ndf, "Minute", false), 3);
    EXPECT_EQ(duration(df, "Minute", true), 1);
    EXPECT_EQ(duration(ndf, "TenMin", false), 4);
    EXPECT_EQ(duration(df, "TenMin", true), 4);
    // 00:01:00:00 names a skipped frame number: the frame after the gap.
    const Result dropped = run(Format::Cmx3600, true);
    EXPECT_NE(std::find(dropped.warnings.begin(), dropped.warnings.end(),
                        "event 003: source in 00:01:00:00 names a frame number that drop-frame counting skips; "
                        "written as 00:01:00;02"),
              dropped.warnings.end());
    EXPECT_EQ(df[5].substr(29, 11), "00:01:00;02");
    EXPECT_NE(
        std::find(df.begin(), df.end(), "004  Minute   AA/V  C        00:00:59;29 00:01:00;02 01:00:33;13 01:00:33;14"),
        df.end());
}

TEST(EdlExport, DropFrameTextIsTheInverseOfTheLoggersCount) {
    // Every frame of the first 24 minutes and around the one-hour mark: the
    // text counts back to the same frame and never names a skipped number.
    std::vector<long> probe;
    for (long f = 0; f < 24 * 1800 + 100; ++f) probe.push_back(f);
    for (long f = 107892 - 40; f < 107892 + 40; ++f) probe.push_back(f);
    for (const long f : probe) {
        const std::string tc = timecodeText(f, true);
        ASSERT_EQ(frames(tc, true), f) << tc;
        const int mm = std::stoi(tc.substr(3, 2)), ss = std::stoi(tc.substr(6, 2)), ff = std::stoi(tc.substr(9, 2));
        ASSERT_FALSE(ss == 0 && ff < 2 && mm % 10 != 0) << "skipped frame number " << tc;
    }
    EXPECT_EQ(timecodeText(107892, true), "01:00:00;00");
    EXPECT_EQ(timecodeText(1800, true), "00:01:00;02");
    EXPECT_EQ(timecodeText(17982, true), "00:10:00;00");
    EXPECT_EQ(timecodeText(108000, false), "01:00:00:00");
    EXPECT_EQ(timecodeText(100L * 108000 + 1, false), "100:00:00:01");
}

TEST(EdlExport, TapeAndClipNames) {
    EXPECT_EQ(tapeName("Clip Name 1"), "ClipName");
    EXPECT_EQ(tapeName("A_b-9"), "A_b9");
    EXPECT_EQ(tapeName(" -- "), "AX");
    EXPECT_EQ(tapeName(""), "AX");
    // Names from a file saved in ISO 8859-1 come out as UTF-8; UTF-8 stays.
    EXPECT_EQ(cleanName("Sc\xE8ne  "), "Sc\xC3\xA8ne");
    EXPECT_EQ(cleanName("Sc\xC3\xA8ne"), "Sc\xC3\xA8ne");
    EXPECT_EQ(cleanName("\xC3"), "\xC3\x83") << "a cut UTF-8 sequence is read as ISO 8859-1";
    EXPECT_EQ(cleanName(" a\tb\x1b "), "a b");
    EXPECT_EQ(parseFormat("ale"), Format::Ale);
    EXPECT_EQ(parseFormat("CMX3600"), std::nullopt);
    // Save EDL's own rule decides which entries are listed.
    EdlEntries e = EdlEntries::initial();
    e.SrcInArray[1] = "00:00:01:00";
    e.SrcInArray[3] = "00:00:03:00";
    EXPECT_EQ(listedEvents(e).size(), 2u);
}
