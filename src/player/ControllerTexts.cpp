#include "player/ControllerTexts.h"

namespace morvia {

template <class T>
T ControllerTexts::read(const T& field) const {
    std::lock_guard g(lock_);
    return field;
}

template <class T>
void ControllerTexts::write(T& field, const T& value) {
    std::lock_guard g(lock_);
    field = value;
}

std::string ControllerTexts::timecode() const { return read(TCString); }
void ControllerTexts::setTimecode(const std::string& tc) { write(TCString, tc); }
std::optional<std::string> ControllerTexts::status() const { return read(StatusString); }
void ControllerTexts::setStatus(const std::string& text) { write(StatusString, std::optional<std::string>(text)); }
std::string ControllerTexts::cue() const { return read(CueString); }
void ControllerTexts::setCue(const std::string& s) { write(CueString, s); }
std::string ControllerTexts::end() const { return read(EndString); }
void ControllerTexts::setEnd(const std::string& s) { write(EndString, s); }
std::string ControllerTexts::offset() const { return read(OSString); }
void ControllerTexts::setOffset(const std::string& s) { write(OSString, s); }
ControllerTexts::Reply ControllerTexts::lastReply() const { return read(serIn); }
void ControllerTexts::setLastReply(const Reply& reply) { write(serIn, reply); }

}  // namespace morvia
