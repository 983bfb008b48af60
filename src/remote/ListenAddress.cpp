#include "remote/ListenAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "startup/Decimal.h"

namespace morvia {

namespace {

ParsedListenAddress refuse(std::string reason) { return {std::nullopt, std::move(reason)}; }

bool isIPv4(const std::string& host) {
    in_addr a{};
    return ::inet_pton(AF_INET, host.c_str(), &a) == 1;
}

bool isIPv6(const std::string& host) {
    in6_addr a{};
    return ::inet_pton(AF_INET6, host.c_str(), &a) == 1;
}

}  // namespace

ParsedListenAddress parseListenAddress(std::string_view value) {
    if (value.empty()) return refuse("no port given");
    ListenAddress out;
    std::string_view portText = value;
    if (value.front() == '[') {
        const auto close = value.find(']');
        if (close == std::string_view::npos) return refuse("\"" + std::string(value) + "\" lacks the closing ]");
        out.host = std::string(value.substr(1, close - 1));
        if (!isIPv6(out.host)) return refuse("\"" + out.host + "\" is not an IPv6 address");
        if (close + 1 >= value.size() || value[close + 1] != ':')
            return refuse("no port after \"" + std::string(value.substr(0, close + 1)) + "\"");
        portText = value.substr(close + 2);
    } else if (const auto colon = value.rfind(':'); colon != std::string_view::npos) {
        out.host = std::string(value.substr(0, colon));
        portText = value.substr(colon + 1);
        if (out.host == "localhost") out.host = ListenAddress::loopback;
        if (!isIPv4(out.host))
            return refuse("\"" + out.host + "\" is not an IPv4 address (write an IPv6 one in brackets)");
    }
    if (portText.empty()) return refuse("no port given");
    const auto port = ParseDecimal(portText, DecimalSign::none);
    if (!port || *port > 65535)
        return refuse("port \"" + std::string(portText) + "\" is not a number from 0 to 65535");
    out.port = *port;
    return {out, {}};
}

std::string describe(const ListenAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

ServerSocket listenOn(const ListenAddress& address) { return ServerSocket::open(address.port, address.host); }

}  // namespace morvia
