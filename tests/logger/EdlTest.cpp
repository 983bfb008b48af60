#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/resource.h>
#include <sys/stat.h>

#include "logger/Edl.h"
#include "logger/LoggerTestUtil.h"
#include "support/TestSupport.h"

using namespace morvia;
using morvia::test::ConsoleCapture;
using morvia::test::crlfLines;
using morvia::test::readFile;
using morvia::test::TempDir;
using morvia::test::writeFile;

namespace {

const std::string kRecord = "  00:00:00:00  00:00:00:00";

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (auto p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) s.replace(p, from.size(), to);
    return s;
}

std::vector<EdlEvent> load(const std::string& path, std::vector<std::string>* console = nullptr) {
    ConsoleCapture cap;
    auto events = LoadEDL(path);
    if (console) *console = cap.lines();
    return events;
}

} // namespace

TEST(Edl, FreshLoggerSavesHeaderAndOneEventByteForByte) {
    TempDir dir;
    const std::string path = dir.file("EDL.txt");
    ConsoleCapture console;
    ASSERT_TRUE(SaveEDL(path, "Morvia", EdlEntries::initial()));
    const std::string golden = readFile(test::dataFile("fresh.edl"));
    ASSERT_FALSE(golden.empty()) << "golden file missing";
    EXPECT_EQ(readFile(path), replaceAll(golden, "@FILE@", path));
    EXPECT_TRUE(console.lines().empty());
    // No temporary file is left next to it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Edl, EventLineColumns) {
    const std::string l1 = edl::eventLine(0, "", "01:02:03:04", "05:06:07:08");
    EXPECT_EQ(l1, "001  S         AA/V  C         01:02:03:04  05:06:07:08" + kRecord + "\r\n");
    EXPECT_EQ(l1.size(), 83u);
    EXPECT_EQ(edl::eventLine(5, "Abcdef", "00:00:00:01", "00:00:00:02").substr(0, 15), "006  Abcdef    ");
    EXPECT_EQ(edl::eventLine(41, "Abcdefg", "00:00:00:01", "00:00:00:02").substr(0, 15), "042  Abcdef    ");
    EXPECT_EQ(edl::eventLine(99, "Q", "00:00:00:01", "00:00:00:02").substr(0, 15), "100  Q         ");
    // A timecode of another length shifts the later columns.
    const std::string shifted = edl::eventLine(0, "x", "1:00", "00:00:00:02");
    EXPECT_EQ(shifted.substr(31), "1:00  00:00:00:02" + kRecord + "\r\n");
    EXPECT_EQ(edl::headerLines("/a/b.edl", "Morvia", ";"), "TITLE: /a/b.edl\r\nREM  Written by Morvia\r\nFCM: DROP FRAME\r\n");
}

TEST(Edl, SaveStopsBeforeFirstEmptySourceIn) {
    EdlEntries e = EdlEntries::initial();
    EXPECT_EQ(edl::eventCount(e), 1) << "entry 0 is always written";
    e.SrcInArray[1] = "00:00:01:00";
    e.SrcInArray[2] = "00:00:02:00";
    e.SrcInArray[4] = "00:00:04:00";  // after the gap at entry 3: not written
    EXPECT_EQ(edl::eventCount(e), 3);
    e.SrcInArray[3] = "";  // empty text is not the empty timecode
    EXPECT_EQ(edl::eventCount(e), 5);
    for (auto& s : e.SrcInArray) s = "00:00:09:00";
    EXPECT_EQ(edl::eventCount(e), 100);
    const auto lines = crlfLines(edl::format("f", "Morvia", e));
    ASSERT_EQ(lines.size(), 103u);
    EXPECT_EQ(lines.back().substr(0, 3), "100");
}

TEST(Edl, SavedFileLoadsBackWithEightCharacterNames) {
    TempDir dir;
    const std::string path = dir.file("clips.edl");
    EdlEntries e = EdlEntries::initial();
    const std::vector<std::string> names = {"", "Abcdef", "Abcdefg", "Xy"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        e.ClipNameArray[i] = names[i];
        e.SrcInArray[i] = "01:00:0" + std::to_string(i) + ":00";
        e.SrcOutArray[i] = "01:00:0" + std::to_string(i) + ":29";
    }
    ConsoleCapture console;
    ASSERT_TRUE(SaveEDL(path, "Morvia", e));
    const std::string first = readFile(path);
    const auto lines = crlfLines(first);
    ASSERT_EQ(lines.size(), 7u);
    for (std::size_t i = 3; i < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 81u);
    EXPECT_EQ(lines[3].substr(5, 7), "S      ");
    EXPECT_EQ(lines[4].substr(5, 7), "Abcdef ");
    EXPECT_EQ(lines[5].substr(5, 7), "Abcdef ");
    EXPECT_EQ(lines[6].substr(5, 7), "Xy     ");

    std::vector<std::string> out;
    const auto events = load(path, &out);
    ASSERT_EQ(events.size(), 4u);
    const std::vector<std::string> loaded = {"S       ", "Abcdef  ", "Abcdef  ", "Xy      "};
    EdlEntries back = EdlEntries::initial();
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].entry, static_cast<int>(i));
        EXPECT_EQ(events[i].clip, loaded[i]);
        EXPECT_EQ(events[i].in, e.SrcInArray[i]);
        EXPECT_EQ(events[i].out, e.SrcOutArray[i]);
        back.ClipNameArray[i] = events[i].clip;
        back.SrcInArray[i] = events[i].in;
        back.SrcOutArray[i] = events[i].out;
    }
    std::vector<std::string> expected = {"84", "Reading EDL"};
    expected.insert(expected.end(), lines.begin(), lines.end());
    EXPECT_EQ(out, expected);

    // Saving what was loaded writes the same file again.
    ASSERT_TRUE(SaveEDL(path, "Morvia", back));
    EXPECT_EQ(readFile(path), first);
}

TEST(Edl, LoadRulesForLinesAndEndings) {
    TempDir dir;
    const std::string ev1 = edl::eventLine(0, "One", "00:00:01:00", "00:00:01:10").substr(0, 81);
    const std::string ev2 = edl::eventLine(1, "Two", "00:00:02:00", "00:00:02:10").substr(0, 81);
    // A blank line and a short remark each consume an entry number; a line of
    // exactly 60 characters is not an event. LF, CR and CR LF all end lines,
    // and the last line needs no ending.
    const std::string sixty(60, 'x');
    const std::string text = "TITLE: t\nREM  r\rFCM: NON-DROP FRAME\r\n" + ev1 + "\n\r\nREM short\r" + sixty + "\n" + ev2;
    writeFile(dir.file("a.edl"), text);
    std::vector<std::string> out;
    const auto events = load(dir.file("a.edl"), &out);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].entry, 0);
    EXPECT_EQ(events[0].clip, "One     ");
    EXPECT_EQ(events[1].entry, 4);
    EXPECT_EQ(events[1].clip, "Two     ");
    EXPECT_EQ(events[1].in, "00:00:02:00");
    EXPECT_EQ(events[1].out, "00:00:02:10");
    EXPECT_EQ(out, (std::vector<std::string>{"84", "Reading EDL", "TITLE: t", "REM  r", "FCM: NON-DROP FRAME", ev1, "",
                                             "REM short", sixty, ev2}));

    // Another layout of more than 60 characters stores whatever stands there.
    const std::string odd(61, '7');
    writeFile(dir.file("b.edl"), "T\r\n\r\n\r\n" + odd + "\r\n");
    const auto e2 = load(dir.file("b.edl"));
    ASSERT_EQ(e2.size(), 1u);
    EXPECT_EQ(e2[0].clip, "77777777");
    EXPECT_EQ(e2[0].in, "77777777777");
}

TEST(Edl, FirstByteOtherThanTLoadsNothing) {
    TempDir dir;
    std::vector<std::string> out;
    writeFile(dir.file("x.edl"), "XITLE: t\r\nREM\r\nFCM\r\n" + edl::eventLine(0, "a", "00:00:01:00", "00:00:02:00"));
    EXPECT_TRUE(load(dir.file("x.edl"), &out).empty());
    EXPECT_EQ(out, (std::vector<std::string>{"88"}));
    writeFile(dir.file("y.edl"), std::string("\xFF\x00T", 3));
    EXPECT_TRUE(load(dir.file("y.edl"), &out).empty());
    EXPECT_EQ(out, (std::vector<std::string>{"-1"}));
}

TEST(Edl, LoadFailuresAreOneConsoleLine) {
    TempDir dir;
    std::vector<std::string> out;
    writeFile(dir.file("empty.edl"), "");
    EXPECT_TRUE(load(dir.file("empty.edl"), &out).empty());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].rfind("FileIOError: ", 0), 0u) << out[0];
    EXPECT_EQ(out[0].substr(out[0].size() - 2), " 1");

    for (const std::string& path : {dir.file("missing.edl"), dir.path().string(), std::string("/dev/zero")}) {
        EXPECT_TRUE(load(path, &out).empty()) << path;
        ASSERT_EQ(out.size(), 1u) << path;
        EXPECT_EQ(out[0].rfind("FileStreamError: ", 0), 0u) << out[0];
    }
}

TEST(Edl, BinaryAndHugeInputLoadSafely) {
    TempDir dir;
    // Bytes 0..255 repeated, after a leading T: control characters never reach the console.
    std::string bin = "T";
    for (int round = 0; round < 64; ++round)
        for (int b = 0; b < 256; ++b) bin.push_back(static_cast<char>((b * 7 + round) & 0xFF));
    writeFile(dir.file("bin.edl"), bin);
    std::vector<std::string> out;
    const auto events = load(dir.file("bin.edl"), &out);
    EXPECT_LE(events.size(), 100u);
    for (const auto& line : out)
        for (char c : line) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\t') << "control character printed";

    // One event line of 10 MB: stored from its columns, printed shortened.
    std::string big = edl::eventLine(0, "Huge", "00:00:01:00", "00:00:02:00").substr(0, 81);
    big.resize(10 * 1024 * 1024, 'A');
    writeFile(dir.file("big.edl"), "TITLE: big\r\nREM\r\nFCM: NON-DROP FRAME\r\n" + big + "\r\n" +
                                       edl::eventLine(1, "Next", "00:00:03:00", "00:00:04:00"));
    const auto bigEvents = load(dir.file("big.edl"), &out);
    ASSERT_EQ(bigEvents.size(), 2u);
    EXPECT_EQ(bigEvents[0].clip, "Huge    ");
    EXPECT_EQ(bigEvents[0].out, "00:00:02:00");
    EXPECT_EQ(bigEvents[1].entry, 1);
    ASSERT_EQ(out.size(), 7u);
    EXPECT_LT(out[5].size(), 10000u);
    EXPECT_NE(out[5].find("more characters"), std::string::npos);
}

TEST(Edl, MoreThanHundredEventsLoadsTheFirstHundred) {
    TempDir dir;
    std::string text = "TITLE: many\r\nREM\r\nFCM: NON-DROP FRAME\r\n";
    for (int i = 0; i < 150; ++i) text += edl::eventLine(i, "C" + std::to_string(i), "00:00:00:01", "00:00:00:02");
    writeFile(dir.file("many.edl"), text);
    std::vector<std::string> out;
    const auto events = load(dir.file("many.edl"), &out);
    ASSERT_EQ(events.size(), 100u);
    EXPECT_EQ(events.back().entry, 99);
    EXPECT_EQ(events.back().clip, "C99     ");
    ASSERT_EQ(out.size(), 2u + 3u + 100u + 1u);
    EXPECT_NE(out.back().find("50 further events not loaded"), std::string::npos) << out.back();
}

TEST(Edl, FailedSaveLeavesExistingFileAlone) {
    TempDir dir;
    ConsoleCapture console;
    const EdlEntries e = EdlEntries::initial();

    // The parent is a regular file, or does not exist.
    writeFile(dir.file("plain"), "x");
    EXPECT_FALSE(SaveEDL(dir.file("plain") + "/EDL.txt", "Morvia", e));
    EXPECT_FALSE(SaveEDL(dir.file("nodir") + "/EDL.txt", "Morvia", e));
    // An existing file in a directory where nothing can be created.
    const std::string procBefore = readFile("/proc/version");
    EXPECT_FALSE(SaveEDL("/proc/version", "Morvia", e));
    EXPECT_EQ(readFile("/proc/version"), procBefore);
    auto lines = console.lines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& l : lines) EXPECT_EQ(l.rfind("FileStreamError: ", 0), 0u) << l;

    // A write that fails half-way (the file size limit stands in for a full
    // disk): reported as an I/O error, the old file intact, no temporary left.
    const std::string target = dir.file("EDL.txt");
    writeFile(target, "old contents");
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool saved = SaveEDL(target, "Morvia", e);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    lines = console.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3].rfind("FileIOError: ", 0), 0u) << lines[3];
    EXPECT_EQ(lines[3].substr(lines[3].size() - 2), " 1");
    EXPECT_EQ(readFile(target), "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // plain, EDL.txt
}

TEST(Edl, ReplacingKeepsPermissionsAndLinks) {
    TempDir dir;
    const std::string real = dir.file("real.edl");
    const std::string link = dir.file("link.edl");
    writeFile(real, "old");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    std::filesystem::create_symlink(real, link);
    ASSERT_TRUE(SaveEDL(link, "Morvia", EdlEntries::initial()));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(real).rfind("TITLE: " + link + "\r\n", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}
