#include "logger/Edl.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "startup/Posix.h"
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
    // The file holds ISO 8859-1: six characters are six bytes there.
    std::string reel = clip.empty() ? std::string("S") : text::utf8ToLatin1(clip).substr(0, 6);
    reel.resize(7, ' ');
    return reel;
}

std::string eventLine(int entry, std::string_view clip, std::string_view in, std::string_view out,
                      std::string_view fcm) {
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

std::string format(std::string_view fileName, std::string_view appName, const EdlEntries& entries,
                   std::string_view fcm) {
    std::string text = headerLines(fileName, appName, fcm);
    const int n = eventCount(entries);
    for (int i = 0; i < n; ++i)
        text += eventLine(i, entries.ClipNameArray[i], entries.SrcInArray[i], entries.SrcOutArray[i], fcm);
    return text;
}

namespace {

// A line of the file (ISO 8859-1) for the console (UTF-8): control
// characters, C1 ones included, become '?'.
std::string shown(std::string_view kept, std::size_t fullLength) {
    std::string bytes = printable(kept);
    for (char& c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) < 0xA0) c = '?';
    std::string s = text::latin1ToUtf8(bytes);
    if (fullLength > kept.size()) s += " ... (" + std::to_string(fullLength - kept.size()) + " more characters)";
    return s;
}

}  // namespace

void EdlParser::line(std::string_view kept, std::size_t fullLength) {
    if (header_ < 3) {
        out_((header_ == 0 ? "T" : "") + shown(kept, fullLength));
        ++header_;
        return;
    }
    const bool event = fullLength > 60 && kept.size() > 60;
    if (entry_ >= EdlEntryCount) {
        if (event) ++leftOut_;
        ++linesAfterFull_;
        return;
    }
    out_(shown(kept, fullLength));
    if (event) {
        events_.push_back(EdlEvent{entry_, text::latin1ToUtf8(kept.substr(5, 8)), std::string(kept.substr(31, 11)),
                                   std::string(kept.substr(44, 11))});
    }
    ++entry_;
}

void EdlParser::finish(bool restUnread) {
    if (restUnread) out_("EDL holds more than " + std::to_string(EdlEntryCount) + " events, the rest was not read");
    else if (leftOut_ > 0)
        out_("EDL holds more than " + std::to_string(EdlEntryCount) + " events: " + std::to_string(leftOut_) +
             " further events not loaded");
}

}  // namespace edl

namespace {

std::string describe(const std::string& path, int err) {
    return path + ": " + std::error_code(err, std::generic_category()).message();
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = retryEintr([&] { return ::write(fd, text.data() + done, text.size() - done); });
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Creates a new file next to `target` that no one else uses; none held and
// errno set on failure.
UniqueFd createTemp(const std::filesystem::path& target, std::filesystem::path& tempPath) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    // Keep the name well inside the file-name limit.
    const std::string base = target.filename().string().substr(0, 180);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = dir / ("." + base + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter++));
        UniqueFd fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return UniqueFd();
}

void syncDirectory(const std::filesystem::path& target) {
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    const UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());  // best effort: the rename itself has already happened
}

// Follows symbolic links from `p` to the name that holds the data; a dangling
// link gives its (missing) target. False with errno set when a link cannot be
// read or there are too many of them.
bool resolveLinks(std::filesystem::path& p) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::error_code ec;
        const std::filesystem::path to = std::filesystem::read_symlink(p, ec);
        if (ec) {
            errno = ec.value();
            return false;
        }
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    errno = ELOOP;
    return false;
}

// Writes the new text into the existing file itself, so that every hard link
// and the file's identity stay. Space is reserved first, so a full disk is
// found before the old text is touched.
bool saveInPlace(const std::string& fileName, const std::filesystem::path& target, const std::string& text) {
    UniqueFd owned(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!owned) {
        Utils::OutLine("FileStreamError: " + describe(fileName, errno));
        return false;
    }
    const int fd = owned.get();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Utils::OutLine("FileStreamError: " + fileName + ": not a regular file");
        return false;
    }
    auto fail = [&](int err, const char* step) {
        owned.reset();
        Utils::OutLine("FileIOError: " + describe(fileName, err) + step);
        return false;
    };
    const auto size = static_cast<off_t>(text.size());
    // A write that a file-size limit would stop half-way, or a disk without
    // room: found before a byte of the old text changes.
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && text.size() > limit.rlim_cur)
        return fail(EFBIG, " 1");
    if (size > st.st_size && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
        return fail(errno, " 1");
    if (!writeAll(fd, text) || ::ftruncate(fd, size) != 0 || ::fsync(fd) != 0) return fail(errno, " 1");
    if (owned.close() != 0) {
        Utils::OutLine("FileIOError: " + describe(fileName, errno) + " 2");
        return false;
    }
    return true;
}

// Writes the new text to a temporary file next to the target and renames it
// over the target: a reader sees the old file or the new one, never a torn
// one. `old` (the target's status, null for a new name) gives the owner,
// group and permissions to keep. `folderRefused` is set when the folder does
// not let us make the temporary file.
bool saveByRename(const std::string& fileName, const std::filesystem::path& target, const std::string& text,
                  const struct stat* old, bool& folderRefused) {
    std::filesystem::path temp;
    UniqueFd owned = createTemp(target, temp);
    if (!owned) {
        folderRefused = errno == EACCES || errno == EPERM || errno == EROFS;
        if (!(folderRefused && old)) Utils::OutLine("FileStreamError: " + describe(fileName, errno));
        return false;
    }
    const int fd = owned.get();
    if (old) {
        // Owner and group where we may (root, or a group we belong to); the
        // permissions after them, since a change of owner clears set-id bits.
        if (::fchown(fd, old->st_uid, old->st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), old->st_gid) != 0) {
            // Neither permitted: the file becomes the saver's, as a new one would.
        }
        if (::fchmod(fd, old->st_mode & 07777) != 0) {
            // Our own new file: cannot fail in practice; the umask's mode stays.
        }
    }

    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        const int err = errno;
        owned.reset();
        ::unlink(temp.c_str());
        Utils::OutLine("FileIOError: " + describe(fileName, err) + " 1");
        return false;
    }
    if (owned.close() != 0) {
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

}  // namespace

bool SaveEDL(const std::string& fileName, std::string_view appName, const EdlEntries& entries) {
    return SaveText(fileName, edl::format(fileName, appName, entries));
}

bool SaveText(const std::string& fileName, const std::string& text) {
    // Through symbolic links, so that each link stays and a dangling one
    // gets its target.
    std::filesystem::path target(fileName);
    if (!resolveLinks(target)) {
        Utils::OutLine("FileStreamError: " + describe(fileName, errno));
        return false;
    }
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        Utils::OutLine("FileStreamError: " + describe(fileName, EISDIR));
        return false;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A FIFO or a device is never replaced by a file, nor written to.
        Utils::OutLine("FileStreamError: " + fileName + ": not a regular file");
        return false;
    }
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        Utils::OutLine("FileStreamError: " + describe(fileName, errno));
        return false;
    }

    // A file with several names must stay one file: a rename would split it.
    if (exists && st.st_nlink > 1) return saveInPlace(fileName, target, text);
    bool folderRefused = false;
    if (saveByRename(fileName, target, text, exists ? &st : nullptr, folderRefused)) return true;
    // A writable file in a folder that we cannot write: write it in place.
    if (exists && folderRefused) return saveInPlace(fileName, target, text);
    return false;
}

std::vector<EdlEvent> LoadEDL(const std::string& fileName) {
    // Only regular files are read, without blocking on the open: a FIFO
    // without a writer would hang us, a device like /dev/zero never ends.
    text::Opened opened = text::openRegular(fileName);
    if (opened.status != text::Opened::Status::ok) {
        Utils::OutLine("FileStreamError: " + fileName + ": " + (opened.directory ? "is a directory" : opened.reason));
        return {};
    }
    UniqueFd owned = std::move(opened.fd);
    const int fd = owned.get();
    auto readSome = [fd](char* buf, std::size_t n) { return text::readSome(fd, buf, n); };

    char first = 0;
    const ssize_t r0 = readSome(&first, 1);
    if (r0 <= 0) {
        const int err = r0 == 0 ? 0 : errno;
        owned.reset();
        Utils::OutLine("FileIOError: " + (err ? describe(fileName, err) : fileName + ": file is empty") + " 1");
        return {};
    }
    Utils::OutLine(std::to_string(static_cast<int>(static_cast<signed char>(first))));
    if (first != 'T') {
        if (owned.close() != 0) Utils::OutLine("FileIOError: " + describe(fileName, errno) + " 2");
        return {};
    }
    Utils::OutLine("Reading EDL");

    edl::LineSplitter splitter;
    edl::EdlParser parser([](std::string_view s) { Utils::OutLine(s); });
    const edl::LineSplitter::Sink sink = [&parser](std::string_view kept, std::size_t full) {
        parser.line(kept, full);
    };
    std::string buf(64 * 1024, '\0');
    // Once every entry is filled, the rest is read only up to a bound, so a
    // huge file cannot hold the window.
    std::size_t bytesAfterFull = 0;
    bool restUnread = false;
    for (;;) {
        const ssize_t n = readSome(buf.data(), buf.size());
        if (n < 0) {
            const int err = errno;
            owned.reset();
            Utils::OutLine("FileIOError: " + describe(fileName, err) + " 1");
            return parser.takeEvents();  // what was read before the failure stays
        }
        if (n == 0) break;
        splitter.feed(buf.data(), static_cast<std::size_t>(n), sink);
        if (parser.entriesFull()) bytesAfterFull += static_cast<std::size_t>(n);
        if (bytesAfterFull > edl::maxBytesAfterFull || parser.linesAfterFull() > edl::maxLinesAfterFull) {
            restUnread = true;
            break;
        }
    }
    if (!restUnread) splitter.finish(sink);
    parser.finish(restUnread);
    if (owned.close() != 0) Utils::OutLine("FileIOError: " + describe(fileName, errno) + " 2");
    return parser.takeEvents();
}

}  // namespace morvia
