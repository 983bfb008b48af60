#include "logger/Edl.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "startup/Utils.h"

namespace morvia {

EdlEntries EdlEntries::initial() {
    EdlEntries e;
    for (int i = 0; i < EdlEntryCount; ++i) {
        e.EdNumArray[i] = std::to_string(i + 1);
        e.ClipNameArray[i] = "Clip Name " + std::to_string(i + 1);
        e.SrcInArray[i] = std::string(EmptyTC);
        e.SrcOutArray[i] = std::string(EmptyTC);
    }
    return e;
}

namespace edl {

std::string reelName(std::string_view clip) {
    std::string reel = clip.empty() ? std::string("S") : std::string(clip.substr(0, 6));
    reel.resize(7, ' ');
    return reel;
}

std::string eventLine(int entry, std::string_view clip, std::string_view in, std::string_view out, std::string_view fcm) {
    std::string num = std::to_string(entry + 1);
    if (num.size() < 3) num.insert(0, 3 - num.size(), '0');
    const std::string record = "00:00:00" + std::string(fcm) + "00";
    std::string line;
    line.reserve(96);
    line += num;
    line += "  ";
    line += reelName(clip);
    line += "   ";
    line += "AA/V  C         ";
    line += in;
    line += "  ";
    line += out;
    line += "  " + record + "  " + record;
    line += "\r\n";
    return line;
}

std::string headerLines(std::string_view fileName, std::string_view appName, std::string_view fcm) {
    std::string h;
    h += "TITLE: ";
    h += fileName;
    h += "\r\n";
    h += "REM  Written by ";
    h += appName;
    h += "\r\n";
    h += fcm == ":" ? "FCM: NON-DROP FRAME\r\n" : "FCM: DROP FRAME\r\n";
    return h;
}

int eventCount(const EdlEntries& entries) {
    int n = 1;
    while (n < EdlEntryCount && entries.SrcInArray[n] != EmptyTC) ++n;
    return n;
}

std::string format(std::string_view fileName, std::string_view appName, const EdlEntries& entries, std::string_view fcm) {
    std::string text = headerLines(fileName, appName, fcm);
    const int n = eventCount(entries);
    for (int i = 0; i < n; ++i)
        text += eventLine(i, entries.ClipNameArray[i], entries.SrcInArray[i], entries.SrcOutArray[i], fcm);
    return text;
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

namespace {

std::string shown(std::string_view kept, std::size_t fullLength) {
    std::string s = printable(kept);
    if (fullLength > kept.size()) s += " ... (" + std::to_string(fullLength - kept.size()) + " more characters)";
    return s;
}

} // namespace

void EdlParser::line(std::string_view kept, std::size_t fullLength) {
    if (header_ < 3) {
        out_((header_ == 0 ? "T" : "") + shown(kept, fullLength));
        ++header_;
        return;
    }
    const bool event = fullLength > 60 && kept.size() > 60;
    if (entry_ >= EdlEntryCount) {
        if (event) ++leftOut_;
        return;
    }
    out_(shown(kept, fullLength));
    if (event) {
        events_.push_back(EdlEvent{entry_, std::string(kept.substr(5, 8)), std::string(kept.substr(31, 11)),
                                   std::string(kept.substr(44, 11))});
    }
    ++entry_;
}

void EdlParser::finish() {
    if (leftOut_ > 0)
        out_("EDL holds more than " + std::to_string(EdlEntryCount) + " events: " + std::to_string(leftOut_) +
             " further events not loaded");
}

} // namespace edl

namespace {

std::string describe(const std::string& path, int err) {
    return path + ": " + std::error_code(err, std::generic_category()).message();
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Creates a new file next to `target` that no one else uses; -1 and errno on
// failure.
int createTemp(const std::filesystem::path& target, std::filesystem::path& tempPath) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    // Keep the name well inside the file-name limit.
    const std::string base = target.filename().string().substr(0, 180);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = dir / ("." + base + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter++));
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

void syncDirectory(const std::filesystem::path& target) {
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: the rename itself has already happened
    ::close(fd);
}

} // namespace

bool SaveText(const std::string& fileName, const std::string& text) {

    std::filesystem::path target(fileName);
    // Write through a symbolic link, so that the link itself stays.
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::error_code ec;
        auto real = std::filesystem::canonical(target, ec);
        if (!ec) target = real;
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        Utils::OutLine("FileStreamError: " + describe(fileName, EISDIR));
        return false;
    }
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        Utils::OutLine("FileStreamError: " + describe(fileName, errno));
        return false;
    }

    std::filesystem::path temp;
    const int fd = createTemp(target, temp);
    if (fd < 0) {
        Utils::OutLine("FileStreamError: " + describe(fileName, errno));
        return false;
    }
    if (exists) ::fchmod(fd, st.st_mode & 07777);  // keep the old file's permissions

    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        Utils::OutLine("FileIOError: " + describe(fileName, err) + " 1");
        return false;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        Utils::OutLine("FileIOError: " + describe(fileName, err) + " 2");
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        Utils::OutLine("FileIOError: " + describe(fileName, err) + " 1");
        return false;
    }
    syncDirectory(target);
    return true;
}

bool SaveEDL(const std::string& fileName, std::string_view appName, const EdlEntries& entries) {
    return SaveText(fileName, edl::format(fileName, appName, entries));
}

std::vector<EdlEvent> LoadEDL(const std::string& fileName) {
    // Non-blocking open so that a FIFO without a writer cannot hang us; only
    // regular files are read (a device like /dev/zero would never end).
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        Utils::OutLine("FileStreamError: " + describe(fileName, errno));
        return {};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        Utils::OutLine("FileIOError: " + describe(fileName, err) + " 1");
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        Utils::OutLine("FileStreamError: " + fileName + ": " + (S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file"));
        return {};
    }

    auto readSome = [fd](char* buf, std::size_t n) {
        for (;;) {
            const ssize_t r = ::read(fd, buf, n);
            if (r >= 0 || errno != EINTR) return r;
        }
    };

    char first = 0;
    const ssize_t r0 = readSome(&first, 1);
    if (r0 <= 0) {
        const int err = r0 == 0 ? 0 : errno;
        ::close(fd);
        Utils::OutLine("FileIOError: " + (err ? describe(fileName, err) : fileName + ": file is empty") + " 1");
        return {};
    }
    Utils::OutLine(std::to_string(static_cast<int>(static_cast<signed char>(first))));
    if (first != 'T') {
        if (::close(fd) != 0) Utils::OutLine("FileIOError: " + describe(fileName, errno) + " 2");
        return {};
    }
    Utils::OutLine("Reading EDL");

    edl::LineSplitter splitter;
    edl::EdlParser parser([](std::string_view s) { Utils::OutLine(s); });
    const edl::LineSplitter::Sink sink = [&parser](std::string_view kept, std::size_t full) { parser.line(kept, full); };
    std::string buf(64 * 1024, '\0');
    for (;;) {
        const ssize_t n = readSome(buf.data(), buf.size());
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            Utils::OutLine("FileIOError: " + describe(fileName, err) + " 1");
            return parser.takeEvents();  // what was read before the failure stays
        }
        if (n == 0) break;
        splitter.feed(buf.data(), static_cast<std::size_t>(n), sink);
    }
    splitter.finish(sink);
    parser.finish();
    if (::close(fd) != 0) Utils::OutLine("FileIOError: " + describe(fileName, errno) + " 2");
    return parser.takeEvents();
}

} // namespace morvia
