#include "ui/WindowControls.h"

#include <algorithm>

#include "player/LocalVCR.h"
#include "player/StatusText.h"
#include "remote/ScriptRunner.h"
#include "ui/LocalGUI.h"

namespace morvia {
namespace {

using G = LocalGUI;
using Row = ControlRow;
using K = Row::Kind;
using P = Row::Place;
using L = Row::Look;

// The grid: columns of dx from the left margin, rows Y0..Y7 of LocalGUI.
constexpr int C(int k) { return G::C0 + k * G::dx; }
constexpr int dx = G::dx, dy = G::dy, half = G::dx / 2;

constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;
constexpr Qt::KeyboardModifiers kShift = Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;

// One key, acting alike whatever the status.
constexpr std::array<ControlKey, 2> key(int k, Qt::KeyboardModifiers m = kNone) { return {{{k, m}, {}}}; }

// "Script": the run ends with its closing lines on a bad number; the window
// goes on.
void runScript(LocalGUI&, LocalVCR& vcr) {
    try {
        script(vcr);
    } catch (const LineArgumentError& e) {
        vcr.ShowStat("Script stopped: " + e.problem() + " in \"" + e.line() + "\"");
    }
}

const Row kControls[] = {
    {.name = "bnexttitle", .kind = K::button, .rect = {C(1) + 35, G::Y6, half, dy}, .label = "+",
     .command = "NextTitle", .call = [](G&, LocalVCR& v) { v.nexttitle(); }, .keys = key(Qt::Key_PageUp)},
    {.name = "bprevtitle", .kind = K::button, .rect = {C(0) + half, G::Y6, half, dy}, .label = "-",
     .command = "PrevTitle", .call = [](G&, LocalVCR& v) { v.prevtitle(); }, .keys = key(Qt::Key_PageDown)},
    {.name = "bnextchapter", .kind = K::button, .rect = {C(4) + 29, G::Y6, half, dy}, .label = "+",
     .command = "NextChapter", .call = [](G&, LocalVCR& v) { v.nextchapter(); },
     .keys = key(Qt::Key_PageUp, kCtrl)},
    {.name = "bprevchapter", .kind = K::button, .rect = {C(3) + 24, G::Y6, half, dy}, .label = "-",
     .command = "PrevChapter", .call = [](G&, LocalVCR& v) { v.prevchapter(); },
     .keys = key(Qt::Key_PageDown, kCtrl)},
    // The note after "DVD Controls " is added when the window is built.
    {.name = "vcrlabel", .kind = K::label, .rect = {C(0), G::Y0, 3 * dx, dy}, .label = "DVD Controls "},
    {.name = "chapterlabel", .kind = K::label, .rect = {C(2) + half, G::Y6, dx, dy}, .label = "Chapter"},
    {.name = "titlelabel", .kind = K::label, .rect = {C(0), G::Y6, half, dy}, .label = "Title "},
    {.name = "titlefield", .kind = K::field, .rect = {C(1), G::Y6, 35, dy}, .entered = &G::titleEntered,
     .field = Field::titlefield, .columns = 2},
    {.name = "chapterfield", .kind = K::field, .rect = {C(4) - 6, G::Y6, 35, dy}, .entered = &G::chapterEntered,
     .field = Field::chapterfield, .columns = 2},
    {.name = "brew", .kind = K::button, .rect = {C(0), G::Y1, dx, dy}, .label = "<< Rew", .command = "Rewind",
     .call = [](G&, LocalVCR& v) { v.rewind(); }, .control = Control::brew, .keys = key(Qt::Key_J)},
    {.name = "bfwd", .kind = K::button, .rect = {C(4), G::Y1, dx, dy}, .label = "Fwd >>", .command = "Forward",
     .call = [](G&, LocalVCR& v) { v.forward(); }, .control = Control::bfwd},
    {.name = "bplay", .kind = K::button, .rect = {C(3), G::Y1, dx, dy}, .label = "Play >", .command = "Play",
     .call = [](G&, LocalVCR& v) { v.play(); }, .control = Control::bplay,
     .keys = {{{Qt::Key_L, kNone, "Forward", status::kPlay, "while playing"}, {}}}},
    {.name = "bpause", .kind = K::button, .rect = {C(1), G::Y1, dx, dy}, .label = "Pause ||", .command = "Pause",
     .call = [](G&, LocalVCR& v) { v.pause(); }, .control = Control::bpause,
     .keys = {{{Qt::Key_K}, {Qt::Key_Space, kNone, "Play", status::kPause, "while paused"}}}},
    {.name = "bstop", .kind = K::button, .rect = {C(2), G::Y1, dx, dy}, .label = "Stop *", .command = "Stop",
     .call = [](G&, LocalVCR& v) { v.stop(); }, .control = Control::bstop, .keys = key(Qt::Key_S)},
    {.name = "bslowfourth", .kind = K::button, .place = P::hidden, .label = "Slow/4", .command = "Slow4",
     .call = [](G&, LocalVCR& v) { v.slowfourth(); }},
    {.name = "bslowhalf", .kind = K::button, .place = P::hidden, .label = "Slow/2", .command = "Slow2",
     .call = [](G&, LocalVCR& v) { v.slowhalf(); }},
    {.name = "bsbyon", .kind = K::button, .place = P::hidden, .label = "SbyON", .command = "Sbyon",
     .call = [](G&, LocalVCR& v) { v.sbyon(); }},
    {.name = "bsbyoff", .kind = K::button, .place = P::hidden, .label = "SbyOFF", .command = "Sbyoff",
     .call = [](G&, LocalVCR& v) { v.sbyoff(); }},
    {.name = "bsetreview", .kind = K::button, .rect = {C(3), G::Y2, dx, dy}, .label = "Set Out", .command = "SetRev",
     .call = [](G& g, LocalVCR&) { g.setreview(); }, .keys = key(Qt::Key_O)},
    {.name = "bsetcue", .kind = K::button, .rect = {C(0), G::Y2, dx, dy}, .label = "Set In", .command = "SetCue",
     .call = [](G& g, LocalVCR&) { g.setcue(); }, .keys = key(Qt::Key_I)},
    {.name = "bcuein", .kind = K::button, .rect = {C(1), G::Y2, dx, dy}, .label = "Cue", .command = "CueIn",
     .call = [](G&, LocalVCR& v) { v.cuein(); }, .keys = key(Qt::Key_I, kShift)},
    {.name = "bcueout", .kind = K::button, .rect = {C(4), G::Y2, dx, dy}, .label = "Cue", .command = "CueOut",
     .call = [](G&, LocalVCR& v) { v.cueout(); }, .keys = key(Qt::Key_O, kShift)},
    {.name = "bcueplay", .kind = K::button, .place = P::hidden, .label = "Cue/Play", .command = "Cueplay",
     .call = [](G&, LocalVCR& v) { v.cueplay(); }},
    {.name = "tcfield", .kind = K::field, .rect = {C(3), G::Y0, 2 * dx, dy}, .label = G::TCString,
     .field = Field::tcfield, .columns = 11, .look = L::clock},
    {.name = "osfield", .kind = K::field, .place = P::hidden, .label = G::OSString, .field = Field::osfield,
     .columns = 11},
    {.name = "prfield", .kind = K::field, .place = P::hidden, .label = G::PRString, .field = Field::prfield,
     .columns = 11},
    {.name = "bjogr", .kind = K::button, .rect = {C(0), G::Y4, 2 * dx, dy}, .label = "< Jog", .command = "Jogr",
     .call = [](G&, LocalVCR& v) { v.jogr(); }, .control = Control::bjogr,
     .keys = {{{Qt::Key_Left, kNone, nullptr, 0, nullptr, true}, {}}}},
    {.name = "bjogf", .kind = K::button, .rect = {C(3), G::Y4, 2 * dx, dy}, .label = "Jog >", .command = "Jogf",
     .call = [](G&, LocalVCR& v) { v.jogf(); }, .control = Control::bjogf,
     .keys = {{{Qt::Key_Right, kNone, nullptr, 0, nullptr, true}, {}}}},
    {.name = "breview", .kind = K::button, .rect = {C(2), G::Y2, dx, dy}, .label = "Review", .command = "Review",
     .call = [](G&, LocalVCR& v) { v.review(); }, .keys = key(Qt::Key_R)},
    {.name = "cuefield", .kind = K::field, .rect = {C(0), G::Y3, 2 * dx, dy}, .label = G::CueString,
     .entered = &G::inPointEntered, .field = Field::cuefield, .control = Control::cuefield, .columns = 11,
     .look = L::timecode},
    {.name = "brepeat", .kind = K::button, .place = P::hidden, .label = "Repeat", .command = "Repeat",
     .call =
         [](G&, LocalVCR& v) {
             v.setstoprepeat();
             v.repeat();
         }},
    {.name = "bscript", .kind = K::button, .rect = {C(2), G::Y3, dx, dy}, .label = "Script", .command = "Script",
     .call = runScript},
    {.name = "endfield", .kind = K::field, .rect = {C(3), G::Y3, 2 * dx, dy}, .label = G::EndString,
     .entered = &G::outPointEntered, .field = Field::endfield, .control = Control::endfield, .columns = 11,
     .look = L::timecode},
    {.name = "blogger", .kind = K::button, .rect = {C(0), G::YLogger, 5 * dx, dy}, .label = "Open Logger Window",
     .clicked = &G::loggerPressed, .keys = key(Qt::Key_L, kCtrl)},
    {.name = "statuslabel", .kind = K::label, .rect = {C(0), G::Y7, half, dy}, .label = "Info"},
    {.name = "statusfield", .kind = K::field, .rect = {C(0) + half, G::Y7, 5 * dx - half, dy},
     .field = Field::statusfield, .columns = 40, .look = L::readout},
    // Shuttle: values 0..95, centre 48 (set up with the window).
    {.name = "vsb", .kind = K::shuttle, .rect = {C(0), G::Y5, 5 * dx, 25}, .control = Control::vsb},

    // Made but never put on the window.
    {.name = "tclabel", .kind = K::label, .place = P::unplaced, .label = "Time"},
    {.name = "netlabel", .kind = K::label, .place = P::unplaced, .label = "Local Server Network Controls"},
    {.name = "namelabel", .kind = K::label, .place = P::unplaced, .label = "Host IP/ID"},
    {.name = "addresslabel", .kind = K::label, .place = P::unplaced, .label = "IP Address"},
    {.name = "portlabel", .kind = K::label, .place = P::unplaced, .label = "Socket Port"},
    {.name = "reconlabel", .kind = K::label, .place = P::unplaced, .label = "RECON Controls"},
    {.name = "bfasttwo", .kind = K::button, .place = P::unplaced, .label = "FastX2"},
    {.name = "bfastfive", .kind = K::button, .place = P::unplaced, .label = "FastX5"},
    {.name = "hostfield", .kind = K::field, .place = P::unplaced, .label = "localhost"},
    {.name = "ipfield", .kind = K::field, .place = P::unplaced, .field = Field::ipfield, .columns = 40},
    {.name = "portfield", .kind = K::field, .place = P::unplaced, .label = "2001"},
    {.name = "bconnect", .kind = K::button, .place = P::unplaced, .label = "Let Client Connect", .command = "Connect",
     .call = [](G&, LocalVCR& v) { v.CommandB5(); }},
};

template <class Pred>
const ControlRow* find(Pred pred) {
    const auto rows = windowControls();
    const auto it = std::find_if(rows.begin(), rows.end(), pred);
    return it == rows.end() ? nullptr : &*it;
}

}  // namespace

std::span<const ControlRow> windowControls() { return kControls; }

const ControlRow* controlByCommand(const std::string& command) {
    return find([&](const Row& r) { return r.command != nullptr && command == r.command; });
}

const ControlRow* controlByField(Field f) {
    return find([&](const Row& r) { return r.field == f; });
}

const ControlRow* controlByMark(Control c) {
    return find([&](const Row& r) { return r.control == c; });
}

}  // namespace morvia
