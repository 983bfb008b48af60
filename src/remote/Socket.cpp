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
    const std::string where = address + ":" + std::to_string(port);
    if (port < 0 || port > 65535) throw SocketError("listen on " + where, EINVAL);

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) throw SocketError("listen on " + where, EINVAL);

    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) throw SocketError("socket for " + where, errno);
    int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        throw SocketError("SO_REUSEADDR on " + where, errno);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        throw SocketError("bind " + where, errno);
    if (::listen(fd.get(), 50) != 0) throw SocketError("listen on " + where, errno);

    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &len) != 0)
        throw SocketError("getsockname of " + where, errno);
    return ServerSocket(std::move(fd), ntohs(bound.sin_port));
}

}  // namespace morvia
