// The status text and button highlights that a transport status code stands
// for: pure, no I/O.
#pragma once

#include <string>
#include <vector>

#include "player/Display.h"

namespace morvia {

// Status codes: the last transport command sent (not a reply of the player).
namespace status {
inline constexpr int kPause = 0;
inline constexpr int kPlay = 1;
inline constexpr int kForward = 2;
inline constexpr int kRewind = 3;
inline constexpr int kJogForward = 6;
inline constexpr int kJogReverse = 7;
inline constexpr int kStop = 9;
inline constexpr int kEject = 10;
}  // namespace status

struct StatusView {
    std::string text;          // e.g. "FF Shuttle " (every piece keeps its blank)
    std::vector<Control> lit;  // controls to highlight, in drawing order
    bool standby = false;      // true while the code is below 9
};

StatusView DescribeStatus(int code);

}  // namespace morvia
