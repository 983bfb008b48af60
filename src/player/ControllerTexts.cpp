#include "player/ControllerTexts.h"

namespace morvia {

std::string ControllerTexts::timecode() const {
    std::lock_guard g(lock_);
    return TCString;
}

void ControllerTexts::setTimecode(const std::string& tc) {
    std::lock_guard g(lock_);
    TCString = tc;
}

std::optional<std::string> ControllerTexts::status() const {
    std::lock_guard g(lock_);
    return StatusString;
}

void ControllerTexts::setStatus(const std::string& text) {
    std::lock_guard g(lock_);
    StatusString = text;
}

std::string ControllerTexts::cue() const {
    std::lock_guard g(lock_);
    return CueString;
}

void ControllerTexts::setCue(const std::string& s) {
    std::lock_guard g(lock_);
    CueString = s;
}

std::string ControllerTexts::end() const {
    std::lock_guard g(lock_);
    return EndString;
}

void ControllerTexts::setEnd(const std::string& s) {
    std::lock_guard g(lock_);
    EndString = s;
}

std::string ControllerTexts::offset() const {
    std::lock_guard g(lock_);
    return OSString;
}

void ControllerTexts::setOffset(const std::string& s) {
    std::lock_guard g(lock_);
    OSString = s;
}

ControllerTexts::Reply ControllerTexts::lastReply() const {
    std::lock_guard g(lock_);
    return serIn;
}

void ControllerTexts::setLastReply(const Reply& reply) {
    std::lock_guard g(lock_);
    serIn = reply;
}

}  // namespace morvia
