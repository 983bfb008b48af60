// Conversions between an eleven-character timecode text HH:MM:SS:FF and a
// count of video fields (30 frames per second, two fields per frame), in
// non-drop-frame and SMPTE drop-frame counting, and from four numbers back
// to timecode text.
//
// Thread-safety: the operations keep their intermediate results in the
// object's fields (h, m, s, fr, SMPTE) and take no lock; one object must not
// run two conversions at the same time.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace morvia {

// A timecode text shorter than eleven characters, or one whose hour, minute,
// second or frame pair is not a signed decimal number.
class MalformedTimecode : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

class FieldConversions {
public:
    static constexpr int fpfr = 2;      // fields per frame
    static constexpr int fps = 60;      // fields per second
    static constexpr int fpm = 3600;    // fields per minute
    static constexpr int fph = 216000;  // fields per hour

    // Parts of the timecode last parsed by Extracthmsf.
    int h = 0;
    int m = 0;
    int s = 0;
    int fr = 0;
    // Text last built by SMPTEstring.
    std::string SMPTE;

    // Non-drop-frame field count of `tc`. Reads the pairs at positions 0-1,
    // 3-4, 6-7 and 9-10; the separators are not examined, so ':' and ';'
    // are alike. Ranges are not checked. Throws MalformedTimecode; on failure
    // h, m, s and fr keep their earlier values.
    int Extracthmsf(std::string_view tc);
    int TC2FieldsNDF(std::string_view tc) { return Extracthmsf(tc); }
    // Drop-frame correction in fields for the stored h and m: two frame
    // numbers are skipped each minute except every tenth (108 frames an
    // hour). The argument is ignored.
    int DRFCountcor(int unused) const;
    // Drop-frame field count of `tc`. Throws MalformedTimecode.
    int CalcDRFCount(std::string_view tc);
    int TC2FieldsDF(std::string_view tc) { return CalcDRFCount(tc); }
    // "HH:MM:SS:FF" from four numbers; one-character numbers get a leading
    // "0", longer ones are written in full. Stores it in SMPTE and prints it.
    void SMPTEstring(int hours, int minutes, int seconds, int frames);
};

}  // namespace morvia
