#include "player/Timecode.h"

#include <utility>

namespace morvia::timecode {
namespace {

// The digit at `pos`, or -1 for any other character.
int digitAt(std::string_view tc, std::size_t pos) {
    const char c = tc[pos];
    return c < '0' || c > '9' ? -1 : c - '0';
}

void put2(std::string& out, long long v) {
    out.push_back(static_cast<char>('0' + v / 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

}  // namespace

std::optional<int> TCFrames(std::string_view tc) {
    if (tc.size() < 11) return std::nullopt;
    // Weight of the digit at each position; the separators carry none.
    static constexpr std::array<std::pair<std::size_t, int>, 8> weights{
        {{0, 1080000}, {1, 108000}, {3, 18000}, {4, 1800}, {6, 300}, {7, 30}, {9, 10}, {10, 1}}};
    int frames = 0;
    for (const auto& [pos, weight] : weights) {
        const int d = digitAt(tc, pos);
        if (d < 0) return std::nullopt;
        frames += d * weight;
    }
    return frames;
}

std::array<int, 7> FrameDigits(long long n) {
    if (!InPlayerRange(n)) throw FrameRangeError("frame " + std::to_string(n) + " outside 0..9999999");
    std::array<int, 7> d{};
    for (int i = 6; i >= 0; --i) {
        d[static_cast<std::size_t>(i)] = static_cast<int>(n % 10);
        n /= 10;
    }
    return d;
}

void PatchFrameDigits(std::string& command, const std::array<int, 7>& digits) {
    for (std::size_t i = 0; i < digits.size() && 2 + i < command.size(); ++i) {
        command[2 + i] = static_cast<char>('0' + digits[i]);
    }
}

void PatchTwoDigits(std::string& command, std::size_t pos, int value) {
    if (pos + 1 >= command.size()) return;
    command[pos] = static_cast<char>('0' + value / 10);
    command[pos + 1] = static_cast<char>('0' + value % 10);
}

std::optional<int> DecodeFrameReply(const std::uint8_t* reply, std::size_t size) {
    if (reply == nullptr || size < 7) return std::nullopt;
    int n = 0;
    for (std::size_t i = 0; i < 7; ++i) {
        if (reply[i] < '0' || reply[i] > '9') return std::nullopt;
        n = n * 10 + (reply[i] - '0');
    }
    return n;
}

std::string FramesToTC(long long frames) {
    std::string out;
    if (frames < 0) {
        out.push_back('-');
        frames = -frames;
    }
    long long hours = frames / kFramesPerHour;
    long long r1 = frames - hours * kFramesPerHour;
    long long minutes = r1 / kFramesPerMinute;
    long long r2 = r1 - minutes * kFramesPerMinute;
    long long seconds = r2 / kFramesPerSecond;
    long long fr = r2 - seconds * kFramesPerSecond;
    if (hours < 100) {
        put2(out, hours);
    } else {
        out += std::to_string(hours);
    }
    out.push_back(':');
    put2(out, minutes);
    out.push_back(':');
    put2(out, seconds);
    out.push_back(':');
    put2(out, fr);
    return out;
}

}  // namespace morvia::timecode
