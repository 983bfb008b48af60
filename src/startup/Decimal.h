// Reading decimal whole numbers from text: settings, command lines, window
// fields, port names and the simulator's command arguments all go through
// this one reader.
//
// Pure function: any thread, any input.
#pragma once

#include <optional>
#include <string_view>

namespace morvia {

// Which leading sign a decimal text may carry.
enum class DecimalSign {
    minus,        // an optional '-'
    plusOrMinus,  // an optional '+' or '-'
    none,         // digits only
};

// Reads `text` as a 32-bit signed decimal whole number: at most one leading
// sign of the kinds `sign` allows, followed by one or more digits 0-9 and
// nothing else (no blanks). Leading zeros are allowed. nullopt for anything
// else, including values outside the 32-bit range.
std::optional<int> ParseDecimal(std::string_view text, DecimalSign sign = DecimalSign::minus);

}  // namespace morvia
