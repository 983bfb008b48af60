// Timecode text and player frame numbers: pure conversions, no I/O, no state.
//
// Timecode text is HH:MM:SS:FF, counted non-drop-frame at 30 frames per
// second. The player addresses the disc by a frame number of seven decimal
// digits (0..9,999,999).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace morvia {

// A text that is not a timecode (shorter than 11 characters, or a non-digit
// where a digit belongs), where the controller's operations need one.
class TimecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A timecode whose player frame number, once the offset is applied, falls
// outside 0..9,999,999 and so has no seven-digit form.
class FrameRangeError : public TimecodeError {
public:
    using TimecodeError::TimecodeError;
};

namespace timecode {

inline constexpr int kFramesPerSecond = 30;
inline constexpr int kFramesPerMinute = 1800;
inline constexpr int kFramesPerHour = 108000;
inline constexpr int kMaxPlayerFrame = 9999999;

// Frame count of a timecode text. Reads the digits at positions 0,1,3,4,6,7,9
// and 10; the separators are not examined and minutes/seconds are not range
// checked (00:75:00:00 counts 75 minutes). Empty when the text is not a
// timecode (shorter than 11 characters, or a non-digit where a digit belongs).
std::optional<int> TCFrames(std::string_view tc);

// True when n has a seven-digit player form.
constexpr bool InPlayerRange(long long n) { return n >= 0 && n <= kMaxPlayerFrame; }

// The seven decimal digits of a player frame number, most significant first.
// Throws FrameRangeError when n is outside 0..9,999,999.
std::array<int, 7> FrameDigits(long long n);

// Writes the seven digits into bytes 2..8 of a frame command (FR0000000...).
void PatchFrameDigits(std::string& command, const std::array<int, 7>& digits);

// Writes a two-digit number (0..99) at byte `pos` and `pos`+1 of a command.
void PatchTwoDigits(std::string& command, std::size_t pos, int value);

// The frame number of a player frame reply: the first seven bytes as decimal
// digits. Empty when fewer than seven bytes are given or one is not a digit.
std::optional<int> DecodeFrameReply(const std::uint8_t* reply, std::size_t size);

// Timecode text of a frame count. Hours below 100 take two digits; from 100
// hours on the hours are written in full, so the text grows. A negative count
// is written with a leading '-'.
std::string FramesToTC(long long frames);

}  // namespace timecode
}  // namespace morvia
