// The player's replies as the controller decodes them: a frame-position reply
// (LocalVCR::DoTC on an arbitrary 16-byte buffer with a read count of 0..16),
// the pure frame-reply decoder, title/chapter from an information reply
// (LocalVCR::setinfo), the status text of a status code, and typed timecodes
// into frame-search digits (MakeFRString) under an arbitrary offset setting.
//
// Input: byte 0 gives the read count (mod 17), bytes 1..16 the reply buffer
// (zero-padded); the rest is "<offset setting>\n<timecode text>".
#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "player/StatusText.h"
#include "player/Timecode.h"
#include "startup/Quenta.h"

using namespace morvia;

namespace {

std::optional<int> referenceFrame(const std::uint8_t* r, std::size_t size) {
    if (size < 7) return std::nullopt;
    int n = 0;
    for (std::size_t i = 0; i < 7; ++i) {
        if (!std::isdigit(r[i])) return std::nullopt;
        n = n * 10 + (r[i] - '0');
    }
    return n;
}

std::optional<long long> referenceTCFrames(std::string_view tc) {
    if (tc.size() < 11) return std::nullopt;
    static constexpr std::size_t pos[] = {0, 1, 3, 4, 6, 7, 9, 10};
    static constexpr long long weight[] = {1080000, 108000, 18000, 1800, 300, 30, 10, 1};
    long long n = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const char c = tc[pos[i]];
        if (c < '0' || c > '9') return std::nullopt;
        n += (c - '0') * weight[i];
    }
    return n;
}

void checkFramesToTC(int frames) {
    const std::string tc = timecode::FramesToTC(frames);
    if (frames < 0) {
        MORVIA_FUZZ_CHECK(tc[0] == '-');
        if (frames != INT32_MIN) MORVIA_FUZZ_CHECK(tc.substr(1) == timecode::FramesToTC(-frames));
        return;
    }
    if (frames < 100 * timecode::kFramesPerHour) {
        MORVIA_FUZZ_CHECK(tc.size() == 11);
        MORVIA_FUZZ_CHECK(timecode::TCFrames(tc) == frames);
    } else {
        MORVIA_FUZZ_CHECK(tc.size() > 11);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quietProcess();
    if (size == 0) return 0;
    const int numBytes = data[0] % 17;
    std::array<std::uint8_t, 16> reply{};
    std::memcpy(reply.data(), data + 1, std::min<std::size_t>(size - 1, reply.size()));
    std::string_view rest;
    if (size > 17) rest = std::string_view(reinterpret_cast<const char*>(data) + 17, size - 17);
    const std::size_t nl = rest.find('\n');
    const std::string offsetText(rest.substr(0, nl));
    const std::string tcText(nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1));

    // --- pure decoders ---
    for (std::size_t k = 0; k <= reply.size(); ++k)
        MORVIA_FUZZ_CHECK(timecode::DecodeFrameReply(reply.data(), k) == referenceFrame(reply.data(), k));
    std::int32_t a = 0, b = 0;
    std::memcpy(&a, reply.data() + 8, sizeof a);
    std::memcpy(&b, reply.data() + 12, sizeof b);
    checkFramesToTC(a);
    checkFramesToTC(b);
    const StatusView sv = DescribeStatus(a);
    MORVIA_FUZZ_CHECK(sv.standby == (a < 9));

    // --- the controller ---
    Quenta::resetDefaults();
    if (!offsetText.empty()) {
        Settings settings;
        settings.OSString = offsetText;
        Quenta::use(settings);
    }
    fuzz::CheckingLink link;
    fuzz::FieldDisplay display;
    LocalVCR vcr(&link, display, 2001);
    fuzz::Budget::instance().reset(&vcr);
    const int offset = vcr.getoffsetframes();
    MORVIA_FUZZ_CHECK(offset == referenceTCFrames(Quenta::settings().OSString).value_or(0));

    const std::string before = vcr.getTCString();
    vcr.DoTC(reply.data(), static_cast<int>(reply.size()), numBytes);
    MORVIA_FUZZ_CHECK(vcr.lastReply() == reply);
    const auto frame = referenceFrame(reply.data(), reply.size());
    if (numBytes == 8 && !frame) {
        MORVIA_FUZZ_CHECK(vcr.getTCString() == before);
    } else {
        const long long shown = (numBytes == 8 ? *frame : vcr.getcuefrs()) + static_cast<long long>(offset);
        MORVIA_FUZZ_CHECK(vcr.getTCString() == timecode::FramesToTC(shown));
        MORVIA_FUZZ_CHECK(display.gettext(Field::tcfield) == vcr.getTCString());
    }

    // Title/chapter as the link hands them over from an information reply.
    const int t0 = vcr.getcurtitle(), c0 = vcr.getcurchapter();
    vcr.setinfo(a, b);
    if (a >= 1 && a <= 99) {
        MORVIA_FUZZ_CHECK(vcr.getcurtitle() == a);
        MORVIA_FUZZ_CHECK(vcr.getcurchapter() == ((b >= 1 && b <= 99) ? b : c0));
    } else {
        MORVIA_FUZZ_CHECK(vcr.getcurtitle() == t0 && vcr.getcurchapter() == c0);
    }

    // A typed timecode into the seven digits of a frame search.
    std::array<int, 7> fr{9, 9, 9, 9, 9, 9, 9};
    const auto frames = referenceTCFrames(tcText);
    try {
        const int n = vcr.MakeFRString(tcText, fr);
        MORVIA_FUZZ_CHECK(frames && *frames - offset == n);
        MORVIA_FUZZ_CHECK(timecode::InPlayerRange(n));
        int back = 0;
        for (int d : fr) {
            MORVIA_FUZZ_CHECK(d >= 0 && d <= 9);
            back = back * 10 + d;
        }
        MORVIA_FUZZ_CHECK(back == n);
        std::string cmd = "FR0000000SE\r";
        timecode::PatchFrameDigits(cmd, fr);
        link.queue(cmd);
    } catch (const FrameRangeError&) {
        MORVIA_FUZZ_CHECK(frames && !timecode::InPlayerRange(*frames - offset));
        MORVIA_FUZZ_CHECK((fr == std::array<int, 7>{9, 9, 9, 9, 9, 9, 9}));
    } catch (const TimecodeError&) {
        MORVIA_FUZZ_CHECK(!frames);
    }
    fuzz::Budget::instance().reset(nullptr);
    return 0;
}
