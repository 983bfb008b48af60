#include "player/CommandNames.h"

#include <array>
#include <utility>

namespace morvia {
namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 27> kWords{{
    {"?A", "info query"}, {"?C", "chapter query"}, {"?F", "frame query"}, {"?P", "status query"},
    {"?R", "title query"}, {"CH", "chapter"},      {"CL", "clear"},       {"CO", "close tray"},
    {"FR", "frame"},       {"MF", "forward"},      {"MR", "reverse"},     {"NF", "scan forward"},
    {"NR", "scan reverse"}, {"NS", "scan stop"},   {"OP", "open tray"},   {"PA", "pause"},
    {"PL", "play"},        {"RJ", "reject"},       {"SA", "start"},       {"SE", "search"},
    {"SF", "step forward"}, {"SM", "stop marker"}, {"SP", "speed"},       {"SR", "step reverse"},
    {"ST", "still"},       {"TI", "title"},        {"TM", "time"},
}};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string commandName(std::string_view wire) {
    while (!wire.empty() && (wire.back() == '\r' || wire.back() == '\n')) wire.remove_suffix(1);
    if (wire.empty()) return "clear";
    std::string out;
    std::size_t i = 0;
    while (i < wire.size()) {
        if (isDigit(wire[i])) {
            ++i;
            continue;
        }
        const std::string_view code = wire.substr(i, 2);
        std::string_view word = code;
        for (const auto& [c, w] : kWords)
            if (c == code) word = w;
        if (!out.empty()) out += ' ';
        out += word;
        i += code.size();
    }
    return out;
}

}  // namespace morvia
