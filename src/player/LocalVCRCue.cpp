// In and out points, cue, review and repeat: timed command sequences built
// from the point fields of the main window.
#include "player/LocalVCR.h"
#include "sessionlog/SessionLog.h"
#include "startup/Quenta.h"
#include "startup/Utils.h"

namespace morvia {
namespace {

constexpr int kCueSearches = 9;  // frame searches sent per cue
constexpr int kMsPerFrame = 35;  // play time per frame of a review
const char* const kZeroTC = "00:00:00:00";

// A timed operation starting or ending, in the session log.
void operationEvent(const char* event, const char* operation, const char* phase, const std::string& outcome = {}) {
    if (!sessionlog::enabled()) return;
    sessionlog::Event e(event);
    e.outcome = outcome;
    if (*operation) e.text("operation", operation);
    sessionlog::record(std::move(e.text("phase", phase)));
}

void pointEvent(const char* event, const std::string& point, const std::string& outcome) {
    if (!sessionlog::enabled()) return;
    sessionlog::Event e(event);
    e.outcome = outcome;
    sessionlog::record(std::move(e.text("point", point)));
}

}  // namespace

template <class F>
bool LocalVCR::guarded(F&& op) {
    try {
        op();
        return true;
    } catch (const FrameRangeError&) {
        ShowStat(kOutOfRangeText);
    } catch (const TimecodeError&) {
        // A point that is not a timecode ends the operation where it was met.
    }
    return false;
}

int LocalVCR::buildCueIn(std::array<int, 7>& digits) {
    const int n = MakeFRString(gui_.gettext(Field::cuefield), digits);
    templates_.setCueIn(digits);
    cuefrs.store(n);
    return n;
}

LocalVCR::OutPoint LocalVCR::buildOut(const std::string& text) {
    OutPoint p;
    p.frames = MakeFRString(text, p.digits);
    templates_.setOut(p.digits);
    reviewfrs.store(p.frames);
    return p;
}

void LocalVCR::MakeCueFRString() {
    std::array<int, 7> digits{};
    buildCueIn(digits);
}

void LocalVCR::MakeReviewFRString() { buildOut(gui_.gettext(Field::endfield)); }

void LocalVCR::setcue(int selector) {
    if (selector == 0) {
        MakeCueFRString();
    } else {
        MakeReviewFRString();
    }
}

void LocalVCR::CalcDuration() { duration.store(reviewfrs.load() - cuefrs.load()); }

void LocalVCR::setcue() {
    setfield(getTCString(), Field::cuefield);
    setdirectin();
}

void LocalVCR::setreview() {
    setfield(getTCString(), Field::endfield);
    setdirectin();
}

void LocalVCR::setdirectin() {
    guarded([this] { setdirectinImpl(); });
}

void LocalVCR::setdirectout() {
    guarded([this] { setdirectoutImpl(); });
}

void LocalVCR::setdirectinImpl() {
    setcue(0);
    inok.store(true);
    pointEvent("in_point", gui_.gettext(Field::cuefield), "set");
    setdirectoutImpl();
}

void LocalVCR::setdirectoutImpl() {
    outok.store(false);
    setcue(1);
    CalcDuration();
    if (duration.load() <= 0) {
        ShowStat("OUTPOINT NOT VALID");
        DelayT(500);
        setfield(kZeroTC, Field::endfield);
        try {
            setcue(1);
        } catch (const TimecodeError&) {
            // With a non-zero offset 00:00:00:00 lies before frame 0: the
            // out-point templates keep their last valid digits.
        }
        gui_.setFieldBackground(Field::endfield, Shade::grey);
        pointEvent("out_point", kZeroTC, "not valid");
    } else {
        gui_.setFieldBackground(Field::endfield, Shade::background);
        ShowStat("EDIT POINTS OK");
        outok.store(true);
        pointEvent("out_point", gui_.gettext(Field::endfield), "set");
    }
    gui_.hilightinout(inok.load(), outok.load());
}

bool LocalVCR::searchFrame(CommandTemplates::Id id, const std::array<int, 7>& digits) {
    CommandB0(bsclearcmd);
    CommandB0(bsstopscan);
    pause();
    // The window's close cuts the waits short: after it only the close's
    // stops reach the player, so the rest of the cue would send nothing.
    if (!DelayUnlessClosing(1500)) return false;
    templates_.queueFrame(id, digits, kCueSearches);
    if (!DelayUnlessClosing(1000)) return false;
    ShowStat("Cued");
    return true;
}

bool LocalVCR::cueInImpl() {
    std::array<int, 7> digits{};
    buildCueIn(digits);
    return searchFrame(CommandTemplates::Id::cueinfr, digits);
}

void LocalVCR::cueTo(const std::string& tc) {
    guarded([&] {
        std::array<int, 7> digits{};
        MakeFRString(tc, digits);
        searchFrame(CommandTemplates::Id::cueinfr, digits);
    });
}

void LocalVCR::cuein() {
    operationEvent("cue", "in", "started");
    bool cued = false;
    guarded([&] { cued = cueInImpl(); });
    operationEvent("cue", "in", "ended", cued ? "cued" : "abandoned");
}

void LocalVCR::cueout() {
    operationEvent("cue", "out", "started");
    bool cued = false;
    guarded([&] { cued = searchFrame(CommandTemplates::Id::cueoutfr, buildOut(gui_.gettext(Field::endfield)).digits); });
    operationEvent("cue", "out", "ended", cued ? "cued" : "abandoned");
}

void LocalVCR::cueplay() {
    operationEvent("cue", "play", "started");
    bool playing = false;
    guarded([&] {
        if (!cueInImpl() || !DelayUnlessClosing(2500)) return;
        play();
        playing = true;
    });
    operationEvent("cue", "play", "ended", playing ? "playing" : "abandoned");
}

bool LocalVCR::reviewImpl(unsigned since, PassStop how) {
    // The window's close ends the pass where it is: nothing but the close's
    // stops reaches the player after it, so there is nothing to wait for.
    // A client's pass also ends at an operator stop or a repeat stop (any
    // Stop command) made while it runs (PassStop).
    if (how == PassStop::atOnce && stopRequestedSince(since)) return false;
    const unsigned generation = repeatStop_.generation();
    auto wait = [&](int ms) {
        return how == PassStop::atOnce ? repeatStop_.sleep(ms, generation) : DelayUnlessClosing(ms);
    };
    std::array<int, 7> inDigits{};
    const int in = buildCueIn(inDigits);
    const OutPoint out = buildOut(gui_.gettext(Field::endfield));
    const int d = out.frames - in;
    duration.store(d);
    if (d <= 0) {
        ShowStat("Outpoint Not Valid");
        return false;
    }
    ShowStat("Review duration= " + std::to_string(d) + " frames");
    const int playtime = d * kMsPerFrame;  // at most 9,999,999 x 35: fits
    if (getTCString() != getCueString() && !cueInImpl()) return false;
    if (!wait(1000)) return false;
    templates_.queueFrame(CommandTemplates::Id::stopmkfr, out.digits);
    if (!wait(200)) return false;
    templates_.queueFrame(CommandTemplates::Id::stopmkfr, out.digits);
    if (!wait(200)) return false;
    templates_.queueFrame(CommandTemplates::Id::playtofr, out.digits);
    if (!wait(200)) return false;
    templates_.queueFrame(CommandTemplates::Id::playtofr, out.digits);
    if (!wait(200)) return false;
    play();
    if (!wait(playtime)) return false;
    stopvcr();
    ShowStat("Review completed - Pause");
    return true;
}

void LocalVCR::review() { review(stopGeneration(), PassStop::afterPass); }

void LocalVCR::review(unsigned since, PassStop how) {
    operationEvent("review", "", "started");
    bool played = false;
    const bool done = guarded([&] { played = reviewImpl(since, how); });
    operationEvent("review", "", "ended", !done ? "abandoned" : played ? "played" : "not valid");
}

void LocalVCR::repeat() { repeat(stopGeneration()); }

void LocalVCR::repeat(unsigned since, PassStop how) {
    // A stop asked for before this call belongs to an earlier repeat; only a
    // request made while this one runs ends it.
    const unsigned generation = repeatStop_.generation();
    operationEvent("repeat", "", "started");
    int passes = 0;
    bool failed = false;
    for (int pass = 0;
         pass < Quenta::getrepeatval() && !repeatStop_.raisedSince(generation) && !stopRequestedSince(since);
         ++pass) {
        // A pass that could not play (invalid points) ends the repeat: the
        // next pass would fail the same way at once, and a large repeat count
        // would otherwise spin through its passes without a single wait.
        bool played = false;
        if (!guarded([&] { played = reviewImpl(since, how); }) || !played) {
            failed = true;
            break;
        }
        ++passes;
    }
    if (sessionlog::enabled()) {
        sessionlog::Event e("repeat");
        e.outcome = failed ? "not valid" : passes < Quenta::getrepeatval() ? "stopped" : "done";
        sessionlog::record(std::move(e.text("phase", "ended").number("passes", passes)));
    }
}

void LocalVCR::setstoprepeat() { repeatStop_.raise(); }

std::string LocalVCR::getCueString() const { return texts_.cue(); }

void LocalVCR::setCueString(const std::string& s) { texts_.setCue(s); }

std::string LocalVCR::getEndString() const { return texts_.end(); }

void LocalVCR::setEndString(const std::string& s) { texts_.setEnd(s); }

}  // namespace morvia
