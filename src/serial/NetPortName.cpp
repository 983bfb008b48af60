#include "serial/NetPortName.h"

#include <string_view>

#include "startup/Decimal.h"

namespace morvia {
namespace {

constexpr std::string_view kRaw = "socket://";
constexpr std::string_view kTelnet = "rfc2217://";

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

}  // namespace

bool isNetworkPortName(const std::string& name) { return startsWith(name, kRaw) || startsWith(name, kTelnet); }

std::optional<NetPortName> parseNetPortName(const std::string& name) {
    NetPortName out;
    std::string_view rest(name);
    if (startsWith(rest, kTelnet)) {
        out.rfc2217 = true;
        rest.remove_prefix(kTelnet.size());
    } else if (startsWith(rest, kRaw)) {
        rest.remove_prefix(kRaw.size());
    } else {
        return std::nullopt;
    }
    std::string_view host, port;
    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return std::nullopt;
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
        if (host.find(':') == std::string_view::npos) return std::nullopt;  // brackets are for IPv6 only
    } else {
        const auto colon = rest.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of("[]/@? \t") != std::string_view::npos) return std::nullopt;
    const std::optional<int> number = ParseDecimal(port, DecimalSign::none);
    if (!number || *number < 1 || *number > 65535) return std::nullopt;
    out.host = std::string(host);
    out.service = std::to_string(*number);
    return out;
}

}  // namespace morvia
