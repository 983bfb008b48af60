#include "remote/CommandLanguage.h"

#include <array>
#include <cstdint>
#include <limits>

#include "player/LocalVCR.h"
#include "player/Timecode.h"
#include "startup/Quenta.h"

namespace morvia {

LineArgumentError::LineArgumentError(const std::string& what, std::string argument, std::string line)
    : std::runtime_error(what + ": \"" + argument + "\" in line \"" + line + "\""),
      argument_(std::move(argument)),
      line_(std::move(line)) {}

NumberFormatError::NumberFormatError(std::string argument, std::string line)
    : LineArgumentError("not a decimal whole number", std::move(argument), std::move(line)) {}

TimecodeFormatError::TimecodeFormatError(std::string argument, std::string line)
    : LineArgumentError("not a timecode", std::move(argument), std::move(line)) {}

namespace {

struct WholeWord {
    const char* word;
    void (LocalVCR::*op)();
};

// Tested against the whole line.
const std::array<WholeWord, 16> wholeWords{{
    {"Play", &LocalVCR::play},         {"Pause", &LocalVCR::pause},       {"Stop", &LocalVCR::stop},
    {"Forward", &LocalVCR::forward},   {"Rewind", &LocalVCR::rewind},     {"JogF", &LocalVCR::jogf},
    {"JogR", &LocalVCR::jogr},         {"Slow4", &LocalVCR::slowfourth},  {"Slow2", &LocalVCR::slowhalf},
    {"NextT", &LocalVCR::nexttitle},   {"NextC", &LocalVCR::nextchapter}, {"PrevT", &LocalVCR::prevtitle},
    {"PrevC", &LocalVCR::prevchapter}, {"CueIn", &LocalVCR::cuein},       {"CueOut", &LocalVCR::cueout},
    {"Cueplay", &LocalVCR::cueplay},
}};

// The commands that answer a value.
struct QueryWord {
    const char* word;
    LocalVCR::Query query;
};
const std::array<QueryWord, 4> queryWords{{
    {"GetTC", LocalVCR::Query::timecode},
    {"GetTi", LocalVCR::Query::title},
    {"GetCh", LocalVCR::Query::chapter},
    {"Status", LocalVCR::Query::status},
}};

int numberArgument(const std::string& line) {
    std::string arg = line.substr(4);
    auto n = ParseDecimal(arg);
    if (!n) throw NumberFormatError(std::move(arg), line);
    return *n;
}

// `answerTo` receives the query answers; `how` says how a review pass meets
// an operator stop.
bool parseLine(LocalVCR& vcr, const std::string& s, unsigned since, ClientSeam* answerTo, LocalVCR::PassStop how) {
    if (!s.empty() && s[0] == ';') return true;
    // No command is shorter than four characters once it carries an
    // argument, so a shorter line names nothing (a bare "TC1" included).
    if (s.size() < 4) return false;

    bool result = false;
    for (const auto& w : wholeWords) {
        if (s == w.word) {
            (vcr.*w.op)();
            result = true;
            break;  // the words all differ: nothing further can match
        }
    }
    if (result) return true;
    for (const auto& q : queryWords) {
        if (s == q.word) {
            vcr.report(q.query, answerTo);
            return true;
        }
    }
    if (s == "Review") {
        vcr.review(since, how);
        return true;
    }
    if (s == "Repeat") {
        vcr.repeat(since, how);
        return true;
    }

    std::string_view prefix4(s.data(), 4);
    if (prefix4 == "TNum") {
        int n = numberArgument(s);
        if (n >= 1 && n <= 99) {
            vcr.setcurtitle(n);
            vcr.settitle();
        }
        return true;
    }
    if (prefix4 == "CNum") {
        int n = numberArgument(s);
        if (n >= 1 && n <= 99) {
            vcr.setcurchapter(n);
            vcr.setchapter();
        }
        return true;
    }
    if (prefix4 == "RNum") {
        Quenta::setrepeatval(numberArgument(s));
        return true;
    }
    if (prefix4 == "Wait") {
        int n = numberArgument(s);
        // The wait is counted in 32-bit milliseconds: refuse what cannot be
        // expressed that way instead of sleeping a wrapped-around time.
        if (n < 0 || n > std::numeric_limits<std::int32_t>::max() / 1000) return false;
        vcr.DelayUnlessStopped(n * 1000, since);  // a cut wait still counts as done
        return true;
    }

    std::string_view prefix3(s.data(), 3);
    if (prefix3 == "TC1" || prefix3 == "TC2") {
        const Field f = prefix3 == "TC1" ? Field::cuefield : Field::endfield;
        std::string point = s.substr(3);
        // Going on would leave the old point in place for the next Review or Cue.
        if (!timecode::TCFrames(point)) throw TimecodeFormatError(std::move(point), s);
        Display& gui = vcr.gui();
        gui.settcfield(point, f);
        // The field may normalise what it was given: take back what it shows.
        if (f == Field::cuefield) vcr.setCueString(gui.gettext(f));
        else vcr.setEndString(gui.gettext(f));
        vcr.setdirectin();
        return true;
    }
    return false;
}

}  // namespace

bool ParseNetCommand(LocalVCR& vcr, const std::string& s) { return ParseNetCommand(vcr, s, vcr.stopGeneration()); }

bool ParseNetCommand(LocalVCR& vcr, const std::string& s, unsigned since) {
    const auto attached = vcr.getconnectthread();  // held while its answer goes out
    return parseLine(vcr, s, since, attached.get(), LocalVCR::PassStop::afterPass);
}

bool ParseNetCommand(LocalVCR& vcr, const std::string& s, unsigned since, ClientSeam& answerTo) {
    return parseLine(vcr, s, since, &answerTo, LocalVCR::PassStop::atOnce);
}

}  // namespace morvia
