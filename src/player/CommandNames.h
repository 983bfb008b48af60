// The name of a player command for people reading a log: "PL\r" is "play",
// "TI05SEPL\r" is "title search play". Pure, no state.
#pragma once

#include <string>
#include <string_view>

namespace morvia {

// The command's two-letter codes in words, joined by spaces (digits are the
// codes' arguments and left out); a code without a word stays as it is, and
// a lone CR is "clear".
std::string commandName(std::string_view wire);

}  // namespace morvia
