// The transport operations: one player command each, then the status code.
#include "player/LocalVCR.h"
#include "player/StatusText.h"

namespace morvia {

void LocalVCR::CommandB0(const std::string& command) {
    if (sop) sop->queue(command);
}

void LocalVCR::play() {
    CommandB0(bsplay);
    Status.store(status::kPlay);
}

void LocalVCR::pause() {
    CommandB0(bspause);
    Status.store(status::kPause);
}

void LocalVCR::stopvcr() {
    CommandB0(bspause);
    Status.store(status::kPause);
}

void LocalVCR::sbyon() {
    CommandB0(bspause);
    Status.store(status::kPause);
}

void LocalVCR::stop() {
    setstoprepeat();
    CommandB0(bsstop);
    Status.store(status::kStop);
}

void LocalVCR::finalStop() {
    setstoprepeat();
    if (sop) sop->queueFinal(bsstop);
    Status.store(status::kStop);
}

void LocalVCR::sbyoff() {
    CommandB0(bsstop);
    Status.store(status::kStop);
}

void LocalVCR::allstop() {
    setstoprepeat();
    CommandB0(bsstop);
    Status.store(status::kPause);
}

void LocalVCR::forward() {
    CommandB0(bsforward);
    Status.store(status::kForward);
}

void LocalVCR::rewind() {
    CommandB0(bsrewind);
    Status.store(status::kRewind);
}

void LocalVCR::slowfourth() {
    CommandB0(bsslowfourth);
    Status.store(status::kPlay);
}

void LocalVCR::slowhalf() {
    CommandB0(bsslowhalf);
    Status.store(status::kPlay);
}

void LocalVCR::jogf() {
    CommandB0(bsjogf);
    Status.store(status::kJogForward);
}

void LocalVCR::jogr() {
    CommandB0(bsjogr);
    Status.store(status::kJogReverse);
}

void LocalVCR::eject() {
    CommandB0(bseject);
    Status.store(status::kEject);
}

void LocalVCR::findzero() {
    CommandB0(bsfindzero);
    Status.store(status::kPause);
}

void LocalVCR::sbyonoff() {
    if (standby.load()) {
        sbyoff();
    } else {
        sbyon();
    }
}

void LocalVCR::shutfwd(int speed) {
    if (speed > 60) {
        forward();
    } else if (speed > 10) {
        templates_.queueSpeed(speed);
        Status.store(status::kPlay);
    } else {
        pause();
    }
}

void LocalVCR::shutrev(int speed) {
    if (speed > 20) {
        rewind();
    } else {
        pause();
    }
}

void LocalVCR::autostartFields() {
    gui_.settcfield(std::to_string(curchapter.load()), Field::chapterfield);
    gui_.settcfield(std::to_string(curtitle.load()), Field::titlefield);
    Status.store(status::kPause);
}

void LocalVCR::autostart() {
    // The pause goes out between the scan stop and the title command.
    templates_.queueTitle({bsclearcmd, bsstopscan, bspause});
    Status.store(status::kPause);
    autostartFields();
}

std::string LocalVCR::CommandB4(const std::string& host) {
    (void)host;
    return std::string();
}

void LocalVCR::CommandB5() {}

}  // namespace morvia
