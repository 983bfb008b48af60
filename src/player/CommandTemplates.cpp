#include "player/CommandTemplates.h"

#include "player/PlayerLink.h"
#include "player/Timecode.h"

namespace morvia {

template <class Self>
auto& CommandTemplates::slotOf(Self& self, Id id) {
    switch (id) {
        case Id::variable: return self.bsvariable;
        case Id::gochapter: return self.bsgochapter;
        case Id::autostart: return self.bsautostart;
        case Id::cueinfr: return self.bscueinfr;
        case Id::cueoutfr: return self.bscueoutfr;
        case Id::playtofr: return self.bsplaytofr;
        case Id::stopmkfr: break;
    }
    return self.bsstopmkfr;
}

void CommandTemplates::send(const std::string& command) {
    if (link_) link_->queue(command);
}

std::string CommandTemplates::get(Id id) const {
    std::lock_guard g(lock_);
    return slotOf(*this, id);
}

void CommandTemplates::setTitle(int title) {
    std::lock_guard g(lock_);
    timecode::PatchTwoDigits(bsautostart, 2, title);
}

void CommandTemplates::queueTitle(std::initializer_list<const char*> lead, std::optional<int> title) {
    std::lock_guard g(lock_);
    if (title) timecode::PatchTwoDigits(bsautostart, 2, *title);
    for (const char* c : lead) send(c);
    send(bsautostart);
}

void CommandTemplates::queueChapter(std::initializer_list<const char*> lead, int chapter) {
    std::lock_guard g(lock_);
    timecode::PatchTwoDigits(bsgochapter, 2, chapter);
    for (const char* c : lead) send(c);
    send(bsgochapter);
}

void CommandTemplates::queueSpeed(int speed) {
    std::lock_guard g(lock_);
    timecode::PatchTwoDigits(bsvariable, 0, speed);
    send(bsvariable);
}

void CommandTemplates::setCueIn(const Digits& digits) {
    std::lock_guard g(lock_);
    timecode::PatchFrameDigits(bscueinfr, digits);
}

void CommandTemplates::setOut(const Digits& digits) {
    std::lock_guard g(lock_);
    timecode::PatchFrameDigits(bscueoutfr, digits);
    timecode::PatchFrameDigits(bsplaytofr, digits);
    timecode::PatchFrameDigits(bsstopmkfr, digits);
}

void CommandTemplates::queueFrame(Id id, const Digits& digits, int times) {
    std::lock_guard g(lock_);
    std::string& tmpl = slotOf(*this, id);
    timecode::PatchFrameDigits(tmpl, digits);
    for (int i = 0; i < times; ++i) send(tmpl);
}

}  // namespace morvia
