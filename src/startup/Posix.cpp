#include "startup/Posix.h"

#include <unistd.h>

namespace morvia {

void UniqueFd::reset(int fd) noexcept {
    if (fd_ >= 0) ::close(fd_);  // a failing close has nothing left to undo
    fd_ = fd;
}

int UniqueFd::close() noexcept {
    // Linux frees the descriptor even when close fails (EINTR included), so
    // it is never closed twice.
    return fd_ < 0 ? 0 : ::close(release());
}

}  // namespace morvia
