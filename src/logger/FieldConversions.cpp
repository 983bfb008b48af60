#include "logger/FieldConversions.h"

#include "startup/Utils.h"

namespace morvia {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Two characters as a signed decimal number: "07", "-5" and "+5" are
// numbers; "5 ", " 5", "-" followed by a non-digit and the like are not.
int parsePair(std::string_view tc, std::size_t pos) {
    const char a = tc[pos];
    const char b = tc[pos + 1];
    if (!isDigit(b))
        throw MalformedTimecode("timecode \"" + std::string(tc) + "\": bad digits at " + std::to_string(pos));
    if (isDigit(a)) return (a - '0') * 10 + (b - '0');
    if (a == '-') return -(b - '0');
    if (a == '+') return b - '0';
    throw MalformedTimecode("timecode \"" + std::string(tc) + "\": bad digits at " + std::to_string(pos));
}

}  // namespace

int FieldConversions::Extracthmsf(std::string_view tc) {
    if (tc.size() < 11) throw MalformedTimecode("timecode \"" + std::string(tc) + "\" is shorter than 11 characters");
    // Parse everything first so that a failure leaves the stored parts alone.
    const int nfr = parsePair(tc, 9);
    const int ns = parsePair(tc, 6);
    const int nm = parsePair(tc, 3);
    const int nh = parsePair(tc, 0);
    fr = nfr;
    s = ns;
    m = nm;
    h = nh;
    return fr * fpfr + s * fps + m * fpm + h * fph;
}

int FieldConversions::DRFCountcor(int /*unused*/) const { return 216 * h + 36 * (m / 10) + 4 * (m % 10); }

int FieldConversions::CalcDRFCount(std::string_view tc) {
    const int a = Extracthmsf(tc);
    return a - DRFCountcor(a);
}

void FieldConversions::SMPTEstring(int hours, int minutes, int seconds, int frames) {
    auto two = [](int v) {
        std::string t = std::to_string(v);
        return t.size() == 1 ? "0" + t : t;
    };
    SMPTE = two(hours) + ":" + two(minutes) + ":" + two(seconds) + ":" + two(frames);
    Utils::OutLine(SMPTE);
}

}  // namespace morvia
