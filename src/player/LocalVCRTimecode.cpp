// Timecode: the player's frame replies into the displayed timecode, typed
// timecodes into frame digits, the offset, polling and the link's callbacks.
#include <algorithm>

#include "player/LocalVCR.h"
#include "sessionlog/SessionLog.h"
#include "startup/Quenta.h"
#include "startup/Utils.h"

namespace morvia {

int LocalVCR::TCFrames(const std::string& tc) {
    if (const std::optional<int> frames = timecode::TCFrames(tc)) return *frames;
    throw TimecodeError("not a timecode: \"" + tc + "\"");
}

int LocalVCR::MakeFRString(const std::string& tc, std::array<int, 7>& fr) const {
    const long long n = static_cast<long long>(TCFrames(tc)) - offset.load();
    fr = timecode::FrameDigits(n);  // throws FrameRangeError before touching fr
    return static_cast<int>(n);
}

void LocalVCR::MakeOffset() {
    const std::string text = Quenta::getoffset();
    const std::optional<int> parsed = timecode::TCFrames(text);
    const bool valid = parsed.has_value();
    const int frames = parsed.value_or(0);
    texts_.setOffset(text);
    offset.store(frames);
    if (!valid) {
        ShowStat("TCOffset Not Valid");
        Utils::OutLine("TCOffset " + text + " is not a timecode; offset 00:00:00:00");
    }
}

void LocalVCR::setd() {
    if (sop) sop->setd();
}

void LocalVCR::GetTC() {
    if (!sop || !sop->hasSerialPort()) return;
    polling_.start(*this);
}

std::string LocalVCR::getTCString() const { return texts_.timecode(); }

std::string LocalVCR::getOSString() const { return texts_.offset(); }

void LocalVCR::report(Query query, ClientSeam* answerTo) {
    std::string value;
    const char* label = "";
    switch (query) {
        case Query::timecode: value = getTCString(), label = "Time Code= "; break;
        case Query::title: value = std::to_string(curtitle.load()), label = "Title= "; break;
        case Query::chapter: value = std::to_string(curchapter.load()), label = "Chapter= "; break;
        case Query::status: value = getStatusString(), label = "Status= "; break;
    }
    if (answerTo) answerTo->Send(value);
    Utils::OutLine(label + value);
}

void LocalVCR::reportToAttached(Query query) {
    const auto client = getconnectthread();  // held while the answer goes out
    report(query, client.get());
}

void LocalVCR::reporttc() { reportToAttached(Query::timecode); }

void LocalVCR::SerIn(const std::uint8_t* reply, int size) {
    std::array<std::uint8_t, 16> copy{};
    if (reply != nullptr && size > 0) {
        std::copy_n(reply, std::min<std::size_t>(static_cast<std::size_t>(size), copy.size()), copy.begin());
    }
    texts_.setLastReply(copy);
}

std::array<std::uint8_t, 16> LocalVCR::lastReply() const { return texts_.lastReply(); }

void LocalVCR::DoTC(const std::uint8_t* reply, int size, int numBytes) {
    SerIn(reply, size);
    long long frm = 0;
    if (numBytes == 8) {
        // Seven digits and the carriage return; any non-digit leaves
        // everything as it was.
        const auto n = timecode::DecodeFrameReply(reply, size > 0 ? static_cast<std::size_t>(size) : 0);
        if (!n) return;
        frm = *n;
    } else {
        // Not a frame reply: show the in point.
        frm = cuefrs.load();
    }
    frm += offset.load();
    const std::string text = timecode::FramesToTC(frm);
    texts_.setTimecode(text);
    sessionlog::noteTimecode(text);
    gui_.ShowTC(text);
    if (useclipboard) gui_.setClipboard(text + "\n");
}

void LocalVCR::setinfo(int title, int chapter) {
    if (title < 1 || title > 99) return;
    curtitle.store(title);
    if (chapter >= 1 && chapter <= 99) curchapter.store(chapter);
    sessionlog::noteTitle(title, chapter >= 1 && chapter <= 99 ? chapter : 0);
}

void LocalVCR::TCIndicate(bool ok) { gui_.TCIndicate(ok); }

}  // namespace morvia
