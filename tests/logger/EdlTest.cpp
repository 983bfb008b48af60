#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

// SaveEDL under a 100-byte file size limit (standing in for a full disk),
// with SIGXFSZ ignored so that the write fails instead of ending the test.
bool saveWithin100Bytes(const std::string& path, std::string_view app, const EdlEntries& entries) {
    struct rlimit old {};
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 100;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool saved = SaveEDL(path, app, entries);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return saved;
}

std::vector<EdlEvent> load(const std::string& path, std::vector<std::string>* console = nullptr) {
    ConsoleCapture cap;
    auto events = LoadEDL(path);
    if (console) *console = cap.lines();
    return events;
}

}  // namespace

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
    EXPECT_EQ(edl::headerLines("/a/b.edl", "Morvia", ";"),
              "TITLE: /a/b.edl\r\nREM  Written by Morvia\r\nFCM: DROP FRAME\r\n");
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
    const std::string text =
        "TITLE: t\nREM  r\rFCM: NON-DROP FRAME\r\n" + ev1 + "\n\r\nREM short\r" + sixty + "\n" + ev2;
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
        for (char c : line)
            EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\t') << "control character printed";

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
    EXPECT_FALSE(saveWithin100Bytes(target, "Morvia", e));
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

namespace {

// Saves as an unprivileged user: in a child that drops to "nobody" when we
// are root (root may create files anywhere), directly otherwise.
bool saveUnprivileged(const std::string& path, const EdlEntries& entries) {
    if (::geteuid() != 0) return SaveEDL(path, "Morvia", entries);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(SaveEDL(path, "Morvia", entries) ? 0 : 1);
    }
    int st = 0;
    return pid > 0 && ::waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

// Entries whose file is larger than the 100-byte limit used below.
EdlEntries sampleEntriesForLimit() {
    EdlEntries e = EdlEntries::initial();
    for (int i = 0; i < 5; ++i) e.SrcInArray[static_cast<std::size_t>(i)] = "00:00:01:00";
    return e;
}

ino_t inode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

TEST(EdlSave, NonRegularFilesAreRefusedAndLeftAlone) {
    TempDir dir;
    ConsoleCapture console;
    std::vector<std::string> nodes = {dir.file("fifo"), dir.file("socket"), dir.file("link-to-fifo")};
    ASSERT_EQ(::mkfifo(nodes[0].c_str(), 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", nodes[1].c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::filesystem::create_symlink(nodes[0], nodes[2]);
    // A device node of our own (the null device) where we may make one.
    if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) nodes.push_back(dir.file("null"));
    for (const auto& node : nodes) {
        SCOPED_TRACE(node);
        const ino_t before = inode(node);
        EXPECT_FALSE(SaveEDL(node, "Morvia", EdlEntries::initial()));
        EXPECT_EQ(inode(node), before) << "replaced";
        EXPECT_FALSE(std::filesystem::is_regular_file(node));
    }
    ::close(sock);
    auto lines = console.lines();
    ASSERT_EQ(lines.size(), nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i)
        EXPECT_EQ(lines[i], "FileStreamError: " + nodes[i] + ": not a regular file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), static_cast<long>(nodes.size()))
        << "no temporary file left";
}

TEST(EdlSave, LinksOwnersAndFoldersStayWhatTheyWere) {
    TempDir dir;
    ConsoleCapture console;
    const EdlEntries e = EdlEntries::initial();

    // Hard links: both names still name one file, which holds the new text.
    const std::string a = dir.file("a.edl"), b = dir.file("b.edl");
    writeFile(a, "old");
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    ASSERT_TRUE(SaveEDL(a, "Morvia", e));
    EXPECT_EQ(inode(a), inode(b));
    EXPECT_EQ(readFile(b), edl::format(a, "Morvia", e));
    // A failed write in place (the file size limit stands in for a full
    // disk) leaves the old text under both names.
    {
        EXPECT_FALSE(saveWithin100Bytes(a, "Other", sampleEntriesForLimit()));
        EXPECT_EQ(readFile(b), edl::format(a, "Morvia", e));
        const auto lines = console.lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind("FileIOError: ", 0), 0u) << lines.back();
    }

    // A dangling symbolic link (relative): the link stays, its target is made.
    const std::string link = dir.file("dangling.edl");
    std::filesystem::create_symlink("target.edl", link);
    ASSERT_TRUE(SaveEDL(link, "Morvia", e));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(dir.file("target.edl")), edl::format(link, "Morvia", e));

    // Owner, group and permissions of a replaced file (another owner only
    // where we may give files away).
    const std::string owned = dir.file("owned.edl");
    writeFile(owned, "old");
    const uid_t uid = ::geteuid() == 0 ? 65534 : ::geteuid();
    const gid_t gid = ::geteuid() == 0 ? 65534 : ::getegid();
    ASSERT_EQ(::chown(owned.c_str(), uid, gid), 0);
    ASSERT_EQ(::chmod(owned.c_str(), 0604), 0);
    ASSERT_TRUE(SaveEDL(owned, "Morvia", e));
    struct stat st {};
    ASSERT_EQ(::stat(owned.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid);
    EXPECT_EQ(st.st_gid, gid);
    EXPECT_EQ(st.st_mode & 07777, 0604u);

    // A file we may write in a folder we may not: written in place.
    const std::string locked = dir.file("locked");
    std::filesystem::create_directory(locked);
    const std::string inLocked = locked + "/EDL.txt";
    writeFile(inLocked, "old text that is longer than nothing");
    ASSERT_EQ(::chown(inLocked.c_str(), uid, gid), 0);
    ASSERT_EQ(::chmod(inLocked.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(locked.c_str(), ::geteuid() == 0 ? 0755 : 0555), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const ino_t before = inode(inLocked);
    const bool saved = saveUnprivileged(inLocked, e);
    ::chmod(locked.c_str(), 0755);
    EXPECT_TRUE(saved);
    EXPECT_EQ(inode(inLocked), before);
    EXPECT_EQ(readFile(inLocked), edl::format(inLocked, "Morvia", e));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(locked), {}), 1);
    EXPECT_EQ(console.lines().size(), 1u) << "only the failed save in place spoke";
}

TEST(EdlSave, NamesAreWrittenAndReadAsIsoLatin1) {
    TempDir dir;
    const std::string path = dir.file("EDL.txt");
    EdlEntries e = EdlEntries::initial();
    e.ClipNameArray[0] = "Cr\u00E8me br\u00FBl\u00E9e";  // six characters are "Crème "
    e.ClipNameArray[1] = "\u20AC5 \u00FC";               // the euro sign is not in ISO 8859-1
    e.SrcInArray[1] = "00:00:01:00";
    ConsoleCapture console;
    ASSERT_TRUE(SaveEDL(path, "Morvia", e));
    const auto lines = crlfLines(readFile(path));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3].substr(5, 7), "Cr\xE8me  ");
    EXPECT_EQ(lines[4].substr(5, 7), "?5 \xFC   ");
    EXPECT_EQ(lines[3].size(), 81u);

    std::vector<std::string> out;
    const auto events = load(path, &out);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].clip, "Cr\u00E8me   ");
    EXPECT_EQ(events[1].clip, "?5 \u00FC    ");
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(out[5].substr(5, 8), "Cr\u00E8me  ") << "the console gets the characters too";
}

TEST(EdlSave, AHugeFileIsReadOnlyUpToABoundAfterTheHundredEvents) {
    TempDir dir;
    std::string head = "TITLE: many\r\nREM\r\nFCM: NON-DROP FRAME\r\n";
    for (int i = 0; i < 100; ++i) head += edl::eventLine(i, "C" + std::to_string(i), "00:00:00:01", "00:00:00:02");
    // Many short lines, and one endless line without a line end.
    std::string manyLines = head;
    for (long i = 0; i < edl::maxLinesAfterFull + 5000; ++i) manyLines += "x\r\n";
    writeFile(dir.file("lines.edl"), manyLines);
    std::string longLine = head + std::string(3 * edl::maxBytesAfterFull, 'y');
    writeFile(dir.file("long.edl"), longLine);
    for (const char* name : {"lines.edl", "long.edl"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> out;
        const auto events = load(dir.file(name), &out);
        EXPECT_EQ(events.size(), 100u);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), "EDL holds more than 100 events, the rest was not read");
    }
}
