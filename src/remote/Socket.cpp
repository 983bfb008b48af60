#include "remote/Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace morvia {

SocketError::SocketError(const std::string& what, int err)
    : std::runtime_error(what + ": " + std::strerror(err)), code_(err) {}

ServerSocket ServerSocket::open(int port, const std::string& address) {
    const bool v6 = address.find(':') != std::string::npos;
    const std::string where = (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
    if (port < 0 || port > 65535) throw SocketError("listen on " + where, EINVAL);

    sockaddr_storage addr{};
    socklen_t addrLen = 0;
    if (v6) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&addr);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(static_cast<std::uint16_t>(port));
        if (::inet_pton(AF_INET6, address.c_str(), &a6->sin6_addr) != 1) throw SocketError("listen on " + where, EINVAL);
        addrLen = sizeof *a6;
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&addr);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(static_cast<std::uint16_t>(port));
        if (::inet_pton(AF_INET, address.c_str(), &a4->sin_addr) != 1) throw SocketError("listen on " + where, EINVAL);
        addrLen = sizeof *a4;
    }

    UniqueFd fd(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) throw SocketError("socket for " + where, errno);
    int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        throw SocketError("SO_REUSEADDR on " + where, errno);
    // An IPv6 address means that address only, not the IPv4 ones as well.
    if (v6 && ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0)
        throw SocketError("IPV6_V6ONLY on " + where, errno);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), addrLen) != 0)
        throw SocketError("bind " + where, errno);
    if (::listen(fd.get(), 50) != 0) throw SocketError("listen on " + where, errno);

    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &len) != 0)
        throw SocketError("getsockname of " + where, errno);
    const std::uint16_t boundPort = v6 ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                                       : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port;
    return ServerSocket(std::move(fd), ntohs(boundPort));
}

}  // namespace morvia
