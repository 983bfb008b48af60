// The morvia-edl program: exports of a saved logger EDL, and one message with
// status 2 and nothing written for a bad input file or option.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include <sys/stat.h>

#include "logger/Edl.h"
#include "logger/EdlExport.h"
#include "logger/LoggerTestUtil.h"
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#ifdef MORVIA_EDL_BIN

using namespace morvia;
using morvia::test::ChildProcess;
using morvia::test::readFile;
using morvia::test::TempDir;
using morvia::test::writeFile;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun edlTool(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), MORVIA_EDL_BIN);
    const std::string out = dir.file("stdout.txt");
    ToolRun r;
    {
        ChildProcess p(args, dir.path(), out);
        r.status = p.wait(std::chrono::seconds(60)).value_or(-1);
    }
    r.out = readFile(out);
    r.err = readFile(out + ".err");
    return r;
}

std::string savedLogger(const TempDir& dir) {
    EdlEntries e = EdlEntries::initial();
    e.ClipNameArray[0] = "Opening shot";
    e.SrcInArray[0] = "00:00:10:00";
    e.SrcOutArray[0] = "00:00:20:00";
    e.ClipNameArray[1] = "Back";
    e.SrcInArray[1] = "00:00:30:00";
    e.SrcOutArray[1] = "00:00:25:00";
    e.ClipNameArray[2] = "";
    e.SrcInArray[2] = "00:00:59:29";
    e.SrcOutArray[2] = "00:01:00:02";
    const std::string path = dir.file("Session 1.txt");
    test::ConsoleCapture quiet;
    EXPECT_TRUE(SaveEDL(path, "Morvia", e));
    return path;
}

}  // namespace

TEST(EdlTool, ExportsASavedLoggerEdl) {
    TempDir dir;
    const std::string in = savedLogger(dir);
    // What the logger's loader reads from the file, in each layout.
    std::vector<EdlEvent> events;
    {
        test::ConsoleCapture quiet;
        events = LoadEDL(in);
    }
    ASSERT_EQ(events.size(), 3u);
    edlexport::Options o;
    o.title = "Session 1";

    const ToolRun cmx = edlTool(dir, {"export", in, "--to", "cmx3600", "-o", dir.file("out.edl")});
    EXPECT_EQ(cmx.status, 0) << cmx.err;
    EXPECT_EQ(cmx.out, "");
    EXPECT_EQ(readFile(dir.file("out.edl")), edlexport::exportEvents(events, o).text);
    EXPECT_EQ(cmx.err,
              "morvia-edl: warning: event 002 (\"Back\") left out: source out 00:00:25:00 is not after source in "
              "00:00:30:00\n");
    // The reel of the file ("Openin") and the loaded name; the empty name
    // was saved as "S".
    EXPECT_NE(readFile(dir.file("out.edl"))
                  .find("001  Openin   AA/V  C        00:00:10:00 00:00:20:00 01:00:00:00 01:00:10:00\r\n"
                        "* FROM CLIP NAME: Openin\r\n"),
              std::string::npos);

    o.format = edlexport::Format::Ale;
    o.rate = edlexport::Rate::Fps2997;
    o.dropFrame = true;
    const ToolRun ale = edlTool(dir, {"export", in, "--to=ale", "--drop-frame"});
    EXPECT_EQ(ale.status, 0) << ale.err;
    EXPECT_EQ(ale.out, edlexport::exportEvents(events, o).text) << "no -o: standard output";
    EXPECT_NE(ale.out.find("FPS\t29.97\r\n"), std::string::npos);
    EXPECT_NE(ale.out.find("S\tS\t00:00:59;29\t00:01:00;02\tVA1A2\r\n"), std::string::npos);

    o.format = edlexport::Format::Csv;
    o.rate = edlexport::Rate::Fps30;
    o.dropFrame = false;
    const ToolRun csv = edlTool(dir, {"export", in, "--to", "csv", "--rate", "30", "-o", "-"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out, edlexport::exportEvents(events, o).text);

    const ToolRun help = edlTool(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: morvia-edl export FILE --to cmx3600|ale|csv", 0), 0u);
}

TEST(EdlTool, BadInputOrOptionGivesOneMessageStatusTwoAndNoOutput) {
    TempDir dir;
    const std::string good = savedLogger(dir);
    writeFile(dir.file("notT.txt"), "XITLE: x\r\nREM\r\nFCM: NON-DROP FRAME\r\n");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const std::string target = dir.file("never.edl");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"export", dir.file("missing.txt"), "--to", "csv"},
         "FileStreamError: " + dir.file("missing.txt") + ": No such file or directory"},
        {{"export", dir.file("notT.txt"), "--to", "csv"},
         dir.file("notT.txt") + ": not an EDL of the logger (its first byte is not \"T\")"},
        {{"export", dir.file("fifo"), "--to", "csv"}, "FileStreamError: " + dir.file("fifo") + ": not a regular file"},
        {{"export", good, "--to", "xml"}, "unknown format \"xml\" (cmx3600, ale or csv)"},
        {{"export", good}, "no output format (--to cmx3600, ale or csv)"},
        {{"export", good, "--to", "ale", "--rate", "25"}, "unknown rate \"25\" (30 or 29.97)"},
        {{"export", good, "--to", "ale", "--rate", "30", "--drop-frame"},
         "drop-frame timecode runs at 29.97 frames per second, not 30"},
        {{"export", good, "--to", "ale", "--verbose"}, "unknown option \"--verbose\""},
        {{"export", good, good, "--to", "ale"}, "one input file only (\"" + good + "\", then \"" + good + "\")"},
        {{"export", good, "--to"}, "--to needs a value"},
        {{"convert", good}, "unknown command \"convert\" (try --help)"},
        {{}, "no command (try --help)"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        if (!args.empty() && args[0] == "export") args.insert(args.begin() + 1, {"-o", target});
        const ToolRun r = edlTool(dir, args);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "morvia-edl: " + c.message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(std::filesystem::exists(target));
    }
}

#else
TEST(EdlTool, NeedsTheProgram) { FAIL() << "morvia-edl was not built"; }
#endif
