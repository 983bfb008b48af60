// The low-level layer every subsystem may use: an owner of one file
// descriptor and the retry of a system call that a signal interrupted.
//
// Thread-safety: a UniqueFd object is not synchronised; share one between
// threads only for calls that do not change it (get, reading or writing
// through the descriptor). retryEintr touches only what its call touches.
#pragma once

#include <cerrno>
#include <type_traits>

namespace morvia {

// Owns one file descriptor and closes it when it goes. Move-only.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held (errors ignored) and takes `fd`.
    void reset(int fd = -1) noexcept;
    // Closes the descriptor held and reports how that went, for callers that
    // tell the operator about a failing close (a file whose last write the
    // close reports): 0, or -1 with errno set. Holding none gives 0.
    int close() noexcept;

private:
    int fd_ = -1;
};

// Calls `call` again while it fails with EINTR; its last result (errno still
// set on failure). For calls that return a negative value on failure.
template <class Call>
auto retryEintr(Call&& call) -> std::invoke_result_t<Call&> {
    for (;;) {
        auto r = call();
        if (!(r < 0 && errno == EINTR)) return r;
    }
}

}  // namespace morvia
