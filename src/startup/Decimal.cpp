#include "startup/Decimal.h"

#include <cstdint>
#include <limits>

namespace morvia {

std::optional<int> ParseDecimal(std::string_view text, DecimalSign sign) {
    bool negative = false;
    std::size_t i = 0;
    if (!text.empty() && sign != DecimalSign::none &&
        (text[0] == '-' || (text[0] == '+' && sign == DecimalSign::plusOrMinus))) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) return std::nullopt;  // "" or a lone sign
    // Accumulate as a negative number so that INT32_MIN fits too.
    constexpr std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 - (c - '0');
        if (value < lowest) return std::nullopt;
    }
    if (!negative) {
        value = -value;
        if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    }
    return static_cast<int>(value);
}

}  // namespace morvia
