#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "startup/Posix.h"
#include "startup/TextFiles.h"

using namespace morvia;

namespace {

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, OwnsOneDescriptorThroughMovesAndReportsItsClose) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int readEnd = fds[0];
    {
        UniqueFd a(fds[0]);
        UniqueFd b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), readEnd);
        UniqueFd c;
        c = std::move(b);
        EXPECT_TRUE(isOpen(readEnd)) << "a move never closes";
        EXPECT_EQ(c.get(), readEnd);
    }
    EXPECT_FALSE(isOpen(readEnd)) << "the last owner closes it";

    UniqueFd w(fds[1]);
    EXPECT_EQ(w.close(), 0);
    EXPECT_FALSE(w);
    EXPECT_FALSE(isOpen(fds[1]));
    EXPECT_EQ(w.close(), 0) << "closing nothing is no failure";

    // A descriptor that is not open: the close says so, with the reason.
    UniqueFd bad(1 << 20);
    errno = 0;
    EXPECT_EQ(bad.close(), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(bad) << "never closed twice";
}

TEST(RetryEintr, RetriesOnlyAnInterruptedCall) {
    int calls = 0;
    const auto interruptedTwice = [&] {
        ++calls;
        if (calls <= 2) {
            errno = EINTR;
            return -1;
        }
        return 7;
    };
    EXPECT_EQ(retryEintr(interruptedTwice), 7);
    EXPECT_EQ(calls, 3);

    calls = 0;
    const auto failing = [&] {
        ++calls;
        errno = EAGAIN;
        return -1L;
    };
    EXPECT_EQ(retryEintr(failing), -1L);
    EXPECT_EQ(errno, EAGAIN) << "the failure's reason stays for the caller";
    EXPECT_EQ(calls, 1);
}

struct Line {
    std::string kept;
    std::size_t full;
    bool operator==(const Line&) const = default;
};

std::vector<Line> drain(text::LineQueue& q) {
    std::vector<Line> out;
    Line l;
    while (q.take(l.kept, l.full)) out.push_back(l);
    return out;
}

TEST(LineQueue, EveryLineEndAcrossChunksAndTheLongLineBound) {
    text::LineQueue q(4);
    // LF, CR, CR LF split between chunks, an empty line, and a long line kept
    // to four characters with its full length.
    for (std::string chunk : {"ab\ncd\r", "\nef\r\r", "\n\nlonger-line\r", "tail"}) q.feed(chunk.data(), chunk.size());
    EXPECT_EQ(drain(q), (std::vector<Line>{{"ab", 2}, {"cd", 2}, {"ef", 2}, {"", 0}, {"", 0}, {"long", 11}}));
    EXPECT_EQ(q.pendingLength(), 4u) << "the unended last line is counted while it grows";
    q.finish();
    EXPECT_EQ(drain(q), (std::vector<Line>{{"tail", 4}}));
    q.finish();
    EXPECT_TRUE(q.empty()) << "finishing twice adds nothing";

    // A CR at the very end of one input and an LF at the start of the next
    // chunk make one line end.
    text::LineQueue crlf;
    crlf.feed("x\r", 2);
    crlf.feed("\ny", 2);
    crlf.finish();
    EXPECT_EQ(drain(crlf), (std::vector<Line>{{"x", 1}, {"y", 1}}));
}

TEST(LineQueue, NetworkEndsAlsoTakeLfCrAndNul) {
    struct Case {
        std::string bytes;
        std::vector<Line> network;  // what a network client's bytes make
        std::vector<Line> text;     // what the same bytes make in a file
    };
    const std::vector<Case> cases = {
        {"a\n\rb\n\r", {{"a", 1}, {"b", 1}}, {{"a", 1}, {"", 0}, {"b", 1}, {"", 0}}},
        {"a\r\nb\n", {{"a", 1}, {"b", 1}}, {{"a", 1}, {"b", 1}}},
        {"a\n\n\rb", {{"a", 1}, {"", 0}, {"b", 1}}, {{"a", 1}, {"", 0}, {"", 0}, {"b", 1}}},
        {"a\r\rb", {{"a", 1}, {"", 0}, {"b", 1}}, {{"a", 1}, {"", 0}, {"b", 1}}},
        {std::string("a\0b\0\0", 5), {{"a", 1}, {"b", 1}, {"", 0}}, {{std::string("a\0b\0\0", 5), 5}}},
        {"a\n\r\n\rb", {{"a", 1}, {"", 0}, {"b", 1}}, {{"a", 1}, {"", 0}, {"", 0}, {"b", 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(text::printable(c.bytes));
        for (auto ends : {text::LineEnds::network, text::LineEnds::text}) {
            text::LineQueue q(4096, ends);
            // One byte at a time: a pair split between chunks is still one end.
            for (char ch : c.bytes) q.feed(&ch, 1);
            q.finish();
            EXPECT_EQ(drain(q), ends == text::LineEnds::network ? c.network : c.text);
        }
    }
}

}  // namespace
