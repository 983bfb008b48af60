#include "player/PlayerSystem.h"

#include "player/LocalVCR.h"
#include "player/SerOutPort.h"

namespace morvia {

PlayerSystem::PlayerSystem() = default;

PlayerSystem::~PlayerSystem() { stop(); }

bool PlayerSystem::openPort(const std::string& portName) {
    port_ = std::make_unique<SerOutPort>(portName);
    return !port_->bad;
}

void PlayerSystem::setwait(int ms) {
    if (port_) port_->setwait(ms);
}

LocalVCR& PlayerSystem::buildController(Display& display, int socketPort, PlayerLink* front) {
    link_ = front != nullptr ? front : port_.get();
    vcr_ = std::make_unique<LocalVCR>(link_, display, socketPort);
    if (port_) port_->setclient(vcr_.get());
    return *vcr_;
}

bool PlayerSystem::build(const std::string& portName, Display& display, int socketPort) {
    const bool opened = openPort(portName);
    setwait(kCycleWaitMs);
    buildController(display, socketPort);
    return opened;
}

void PlayerSystem::startLink() {
    if (vcr_ && link_) link_->start();
}

void PlayerSystem::stop() {
    if (vcr_) vcr_->stopPolling();
    port_.reset();  // joins the link thread: no more callbacks into the controller
    vcr_.reset();
    link_ = nullptr;
}

}  // namespace morvia
