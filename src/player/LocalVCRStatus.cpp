// Status text and highlights, title and chapter changes, the title/chapter
// query and the reports to the console and a network client.
#include "player/LocalVCR.h"
#include "player/StatusText.h"
#include "startup/Utils.h"

namespace morvia {

std::string LocalVCR::ExtractStatusString() {
    const StatusView v = DescribeStatus(Status.load());
    gui_.clearbuttons();
    for (Control c : v.lit) gui_.hilight(c);
    standby.store(v.standby);
    return v.text;
}

void LocalVCR::CommandStatus() {
    const std::string text = ExtractStatusString();
    texts_.setStatus(text);
    // The highlights follow the player at once; the text waits while an
    // operator message is held.
    if (statusHeld()) return;
    gui_.ShowStatus(text);
    if (!sop || sop->silent()) gui_.ShowStatus("No DVD Detected");
}

void LocalVCR::LinkSilence(bool silent) {
    (void)silent;
    CommandStatus();  // "No DVD Detected" shows (or goes) now, not at the next refresh
}

void LocalVCR::status() { CommandStatus(); }

std::string LocalVCR::getStatusString() const {
    if (std::optional<std::string> text = texts_.status()) return *text;
    return DescribeStatus(Status.load()).text;
}

void LocalVCR::nexttitle() {
    const int t = curtitle.load();
    if (t <= 98) {
        curtitle.store(t + 1);
        settitle();
    }
}

void LocalVCR::prevtitle() {
    const int t = curtitle.load();
    if (t > 1) {
        curtitle.store(t - 1);
        settitle();
    }
}

void LocalVCR::nextchapter() {
    const int c = curchapter.load();
    if (c <= 98) {
        curchapter.store(c + 1);
        setchapter();
    }
}

void LocalVCR::prevchapter() {
    const int c = curchapter.load();
    if (c > 1) {
        curchapter.store(c - 1);
        setchapter();
    }
}

void LocalVCR::settitle() {
    const int t = curtitle.load();
    if (t < 1 || t > 99) return;  // two digits only: nothing half-formed is sent
    polling_.pause();
    // The digits and the commands that carry them go out as one step, so a
    // concurrent title change cannot slip its digits in between.
    templates_.queueTitle({bsclearcmd, bsstopscan, bsclearcmd, bsstopscan, bspause}, t);
    autostartFields();
    Status.store(status::kPause);
    getdata();
}

void LocalVCR::setchapter() {
    const int c = curchapter.load();
    if (c < 1 || c > 99) return;
    polling_.pause();
    templates_.queueChapter({bsclearcmd, bsstopscan}, c);
    gui_.settcfield(std::to_string(c), Field::chapterfield);
    Status.store(status::kPause);
    getdata();
}

void LocalVCR::getdata() {
    DelayT(2000);
    CommandB0(bsclearcmd);
    for (int i = 0; i < 5; ++i) CommandB0(bsgetinfo);
    // The numbers held now; the replies to the queries arrive later through
    // the link and update them without refreshing the fields.
    const int t = curtitle.load();
    const int c = curchapter.load();
    Utils::OutLine("DVD Title= " + std::to_string(t) + " Chapter= " + std::to_string(c));
    gui_.settcfield(std::to_string(c), Field::chapterfield);
    gui_.settcfield(std::to_string(t), Field::titlefield);
    CommandB0(bsstopscan);
    for (int i = 0; i < 4; ++i) stopvcr();
    for (int i = 0; i < 4; ++i) pause();
    polling_.go();
    for (int i = 0; i < 4; ++i) pause();
}

void LocalVCR::reportti() { reportToAttached(Query::title); }

void LocalVCR::reportch() { reportToAttached(Query::chapter); }

void LocalVCR::reportstatus() { reportToAttached(Query::status); }

void LocalVCR::setfield(const std::string& tc, Field f) { gui_.settcfield(tc, f); }

}  // namespace morvia
