#include "startup/TextFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace morvia::text {

Opened openRegular(const std::string& path) {
    Opened r;
    UniqueFd fd(retryEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }));
    if (!fd) {
        const int err = errno;
        struct stat ls {};
        r.status = err == ENOENT && ::lstat(path.c_str(), &ls) != 0 ? Opened::Status::missing : Opened::Status::failed;
        r.reason = std::strerror(err);
        return r;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        r.reason = std::strerror(errno);
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.status = Opened::Status::notRegular;
        r.directory = S_ISDIR(st.st_mode);
        r.reason = "not a regular file";
        return r;
    }
    r.fd = std::move(fd);
    r.status = Opened::Status::ok;
    return r;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) appendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

std::string utf8ToLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        const std::size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        bool valid = len > 0 && i + len <= text.size();
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; valid && k < len; ++k) {
            const auto cont = static_cast<unsigned char>(text[i + k]);
            valid = (cont & 0xC0) == 0x80;
            cp = (cp << 6) | (cont & 0x3F);
        }
        // Overlong forms are not valid either.
        if (valid && len > 1 && cp < (len == 2 ? 0x80u : len == 3 ? 0x800u : 0x10000u)) valid = false;
        if (!valid) {
            out.push_back('?');
            ++i;
            continue;
        }
        out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
        i += len;
    }
    return out;
}

long readSome(int fd, char* buf, std::size_t n) {
    return static_cast<long>(retryEintr([&] { return ::read(fd, buf, n); }));
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
        if (pairWith_ != 0) {
            const bool second = c == pairWith_;  // the second byte of a CR LF (or LF CR) pair
            pairWith_ = 0;
            if (second) continue;
        }
        const bool network = ends_ == LineEnds::network;
        if (c == '\n') {
            flush(sink);
            if (network) pairWith_ = '\r';
        } else if (c == '\r') {
            flush(sink);
            pairWith_ = '\n';
        } else if (c == '\0' && network) {
            flush(sink);
        } else {
            if (line_.size() < keep_) line_.push_back(c);
            ++length_;
        }
    }
}

void LineSplitter::finish(const Sink& sink) {
    if (length_ > 0) flush(sink);
    pairWith_ = 0;
}

void LineSplitter::flush(const Sink& sink) {
    sink(line_, length_);
    line_.clear();
    length_ = 0;
}

void LineQueue::add(std::string_view kept, std::size_t fullLength) { lines_.emplace_back(kept, fullLength); }

void LineQueue::feed(const char* data, std::size_t n) {
    splitter_.feed(data, n, [this](std::string_view kept, std::size_t full) { add(kept, full); });
}

void LineQueue::finish() {
    splitter_.finish([this](std::string_view kept, std::size_t full) { add(kept, full); });
}

bool LineQueue::take(std::string& line, std::size_t& fullLength) {
    if (lines_.empty()) return false;
    line = std::move(lines_.front().first);
    fullLength = lines_.front().second;
    lines_.pop_front();
    return true;
}

}  // namespace morvia::text
