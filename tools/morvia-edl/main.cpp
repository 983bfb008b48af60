// morvia-edl export FILE --to cmx3600|ale|csv [--rate 30|29.97] [--drop-frame] [-o OUT]
// morvia-edl log2csv LOG [-o OUT]
//
// Reads an EDL that the logger saved (with the logger's own loader) and
// writes it in a layout that editing software imports. A bad input file or
// option gives one message on standard error and status 2, and nothing is
// written; a failed write gives status 1. Events left out are named on
// standard error.
//
// log2csv reads a session log (JSON Lines) and writes it as CSV, one row per
// event, UTC time first. Lines that are not a complete event (the last line
// of a run that was killed) are named on standard error and left out.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logger/Edl.h"
#include "logger/EdlExport.h"
#include "logger/SessionLogCsv.h"
#include "startup/TextFiles.h"
#include "startup/Utils.h"

namespace {

using namespace morvia;

constexpr std::string_view Usage =
    "usage: morvia-edl export FILE --to cmx3600|ale|csv [--rate 30|29.97] [--drop-frame] [-o OUT]\n"
    "  Reads FILE, an EDL saved by the Morvia logger, and writes it as a CMX 3600\n"
    "  EDL, an Avid Log Exchange file or a CSV batch list. Without -o, or with\n"
    "  -o -, the result goes to standard output. --drop-frame counts and writes\n"
    "  SMPTE drop-frame timecodes (at 29.97 frames per second).\n"
    "usage: morvia-edl log2csv LOG [-o OUT]\n"
    "  Reads LOG, a Morvia session log, and writes it as CSV for a spreadsheet:\n"
    "  one row per event, UTC time first. Without -o, or with -o -, the result\n"
    "  goes to standard output.\n";

void message(std::string_view text) {
    std::fprintf(stderr, "morvia-edl: %.*s\n", static_cast<int>(text.size()), text.data());
}

int bad(std::string_view text) {
    message(text);
    return 2;
}

// Console lines of the logger's file functions, collected instead of printed.
class ConsoleLines {
public:
    ConsoleLines() {
        Utils::setConsoleSink([this](std::string_view l) { lines_.emplace_back(l); });
    }
    ~ConsoleLines() { Utils::setConsoleSink(nullptr); }
    ConsoleLines(const ConsoleLines&) = delete;
    ConsoleLines& operator=(const ConsoleLines&) = delete;
    const std::vector<std::string>& lines() const { return lines_; }
    // The first line that reports a failure, if any.
    std::optional<std::string> failure() const {
        for (const auto& l : lines_)
            if (l.rfind("FileStreamError: ", 0) == 0 || l.rfind("FileIOError: ", 0) == 0) return l;
        return std::nullopt;
    }

private:
    std::vector<std::string> lines_;
};

struct Args {
    std::string file;
    std::optional<edlexport::Format> format;
    std::optional<edlexport::Rate> rate;
    bool dropFrame = false;
    std::string out = "-";
};

// Parses the arguments after "export"; an error text when they are wrong.
std::optional<std::string> parse(const std::vector<std::string>& a, Args& args) {
    bool haveFile = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::string opt = a[i];
        std::optional<std::string> value;
        if (opt.rfind("--", 0) == 0 && opt.find('=') != std::string::npos) {
            value = opt.substr(opt.find('=') + 1);
            opt = opt.substr(0, opt.find('='));
        }
        auto take = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 < a.size()) return a[++i];
            return std::nullopt;
        };
        if (opt == "--to" || opt == "--rate" || opt == "-o") {
            const auto v = take();
            if (!v) return opt + " needs a value";
            if (opt == "--to") {
                args.format = edlexport::parseFormat(*v);
                if (!args.format) return "unknown format \"" + *v + "\" (cmx3600, ale or csv)";
            } else if (opt == "--rate") {
                if (*v == "30") args.rate = edlexport::Rate::Fps30;
                else if (*v == "29.97") args.rate = edlexport::Rate::Fps2997;
                else return "unknown rate \"" + *v + "\" (30 or 29.97)";
            } else {
                args.out = *v;
            }
        } else if (opt == "--drop-frame" && !value) {
            args.dropFrame = true;
        } else if (opt.size() > 1 && opt[0] == '-') {
            return "unknown option \"" + a[i] + "\"";
        } else if (haveFile) {
            return "one input file only (\"" + args.file + "\", then \"" + opt + "\")";
        } else {
            args.file = opt;
            haveFile = true;
        }
    }
    if (!haveFile) return "no input file";
    if (!args.format) return "no output format (--to cmx3600, ale or csv)";
    if (args.dropFrame && args.rate == edlexport::Rate::Fps30)
        return "drop-frame timecode runs at 29.97 frames per second, not 30";
    if (args.dropFrame) args.rate = edlexport::Rate::Fps2997;
    return std::nullopt;
}

// Writes `text` to `out` ("-": standard output); 0, or 1 after a message.
int writeResult(const std::string& out, const std::string& text) {
    if (out == "-") {
        const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
        if (!ok) {
            message("cannot write to standard output");
            return 1;
        }
        return 0;
    }
    ConsoleLines console;
    if (!SaveText(out, text)) {
        const auto f = console.failure();
        message(f ? *f : "cannot write " + out);
        return 1;
    }
    return 0;
}

int log2csv(const std::vector<std::string>& a) {
    std::string file;
    std::string out = "-";
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "-o") {
            if (i + 1 >= a.size()) return bad("-o needs a value");
            out = a[++i];
        } else if (a[i].size() > 1 && a[i][0] == '-') {
            return bad("unknown option \"" + a[i] + "\"");
        } else if (!file.empty()) {
            return bad("one log only (\"" + file + "\", then \"" + a[i] + "\")");
        } else {
            file = a[i];
        }
    }
    if (file.empty()) return bad("no session log");
    std::string text;
    {
        text::Opened opened = text::openRegular(file);
        if (opened.status != text::Opened::Status::ok)
            return bad(file + ": " + (opened.status == text::Opened::Status::missing      ? std::string("no such file")
                                      : opened.status == text::Opened::Status::notRegular ? std::string("not a regular file")
                                                                                          : opened.reason));
        char buf[65536];
        long n = 0;
        while ((n = text::readSome(opened.fd.get(), buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
        if (n < 0) return bad(file + ": cannot be read");
    }
    const SessionLogCsv csv = sessionLogToCsv(text);
    for (const auto& w : csv.warnings) message("warning: " + file + ": " + w);
    if (csv.rows == 0 && !text.empty()) return bad(file + ": not a session log (no event in it)");
    return writeResult(out, csv.text);
}

int exportFile(const Args& args) {
    std::vector<EdlEvent> events;
    {
        ConsoleLines console;
        events = LoadEDL(args.file);
        if (const auto f = console.failure()) return bad(*f);
        bool read = false;
        for (const auto& l : console.lines()) {
            if (l == "Reading EDL") read = true;
            if (l.rfind("EDL holds more than", 0) == 0) message("warning: " + l);
        }
        if (!read) return bad(args.file + ": not an EDL of the logger (its first byte is not \"T\")");
    }

    edlexport::Options o;
    o.format = *args.format;
    o.rate = args.rate.value_or(edlexport::Rate::Fps30);
    o.dropFrame = args.dropFrame;
    o.title = std::filesystem::path(args.file).stem().string();
    const edlexport::Result r = edlexport::exportEvents(events, o);
    for (const auto& w : r.warnings) message("warning: " + w);
    return writeResult(args.out, r.text);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 1 && (a[0] == "--help" || a[0] == "-h")) {
        std::fwrite(Usage.data(), 1, Usage.size(), stdout);
        return 0;
    }
    if (!a.empty() && a[0] == "log2csv") return log2csv({a.begin() + 1, a.end()});
    if (a.empty() || a[0] != "export")
        return bad(a.empty() ? "no command (try --help)" : "unknown command \"" + a[0] + "\" (try --help)");
    Args args;
    if (const auto err = parse({a.begin() + 1, a.end()}, args)) return bad(*err);
    return exportFile(args);
}
