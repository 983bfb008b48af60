#include "startup/TextFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace morvia::text {

Opened openRegular(const std::string& path) {
    Opened r;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        struct stat ls {};
        r.status = err == ENOENT && ::lstat(path.c_str(), &ls) != 0 ? Opened::Status::missing : Opened::Status::failed;
        r.reason = std::strerror(err);
        return r;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        r.reason = std::strerror(errno);
        ::close(fd);
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.status = Opened::Status::notRegular;
        r.directory = S_ISDIR(st.st_mode);
        r.reason = "not a regular file";
        ::close(fd);
        return r;
    }
    r.fd = fd;
    r.status = Opened::Status::ok;
    return r;
}

long readSome(int fd, char* buf, std::size_t n) {
    for (;;) {
        const ssize_t r = ::read(fd, buf, n);
        if (r >= 0 || errno != EINTR) return static_cast<long>(r);
    }
}

std::string printable(std::string_view line) {
    std::string out(line);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F) c = '?';
    }
    return out;
}

void LineSplitter::feed(const char* data, std::size_t n, const Sink& sink) {
    for (std::size_t i = 0; i < n; ++i) {
        const char c = data[i];
        if (pendingCR_) {
            pendingCR_ = false;
            if (c == '\n') continue;  // the LF of a CR LF pair
        }
        if (c == '\n') {
            flush(sink);
        } else if (c == '\r') {
            flush(sink);
            pendingCR_ = true;
        } else {
            if (line_.size() < keep_) line_.push_back(c);
            ++length_;
        }
    }
}

void LineSplitter::finish(const Sink& sink) {
    if (length_ > 0) flush(sink);
    pendingCR_ = false;
}

void LineSplitter::flush(const Sink& sink) {
    sink(line_, length_);
    line_.clear();
    length_ = 0;
}

} // namespace morvia::text
