// The HyperDeck-compatible port's reader and session: each input line goes
// to a session on a deck that only checks what it is asked for. A line that
// starts with '~' changes the deck's state instead (its next bytes pick the
// status, whether the player answers, the timecode and a time step) and
// collects the notifications. Every answer and notification must be whole,
// well-formed blocks of printable text that a client can parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "player/Timecode.h"
#include "remote/HyperDeckSession.h"

using namespace morvia;
using namespace morvia::hyperdeck;

namespace {

class CheckingDeck : public Deck {
public:
    DeckState state() const override { return s; }
    bool reachable(int frames) const override { return frames >= 0 && frames <= timecode::kMaxPlayerFrame; }
    bool hasRange() const override { return range; }
    bool submit(Op op) override {
        MORVIA_FUZZ_CHECK(s.answering);  // the truth rule: nothing goes to a silent player
        switch (op.kind) {
            case Op::Kind::jog: MORVIA_FUZZ_CHECK(op.number != 0 && std::abs(op.number) <= Session::kMaxJog); break;
            case Op::Kind::gotoTitle: MORVIA_FUZZ_CHECK(op.number >= 1 && op.number <= 99); break;
            case Op::Kind::gotoTimecode: MORVIA_FUZZ_CHECK(strictTimecode(op.in).has_value()); break;
            case Op::Kind::setRange:
                MORVIA_FUZZ_CHECK(strictTimecode(op.in) && strictTimecode(op.out) &&
                                  *strictTimecode(op.in) < *strictTimecode(op.out));
                range = true;
                break;
            case Op::Kind::forward: MORVIA_FUZZ_CHECK(op.number > 100); break;
            case Op::Kind::rewind: MORVIA_FUZZ_CHECK(op.number < 0); break;
            case Op::Kind::review:
            case Op::Kind::loop: MORVIA_FUZZ_CHECK(range); break;
            default: break;
        }
        return true;
    }
    void stop() override { MORVIA_FUZZ_CHECK(s.answering); }

    DeckState s{.answering = true, .status = 0, .speed = 0, .timecode = "00:00:00:00", .title = 1};
    bool range = false;
};

// `text` is one or more complete blocks, each as a client library reads it.
void checkBlocks(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find("\r\n");
        MORVIA_FUZZ_CHECK(end != std::string_view::npos);
        const std::string_view head = text.substr(0, end);
        text.remove_prefix(end + 2);
        MORVIA_FUZZ_CHECK(head.size() >= 5 && head[3] == ' ');
        const int code = (head[0] - '0') * 100 + (head[1] - '0') * 10 + (head[2] - '0');
        MORVIA_FUZZ_CHECK((code >= 100 && code < 300) || (code >= 500 && code < 600));
        for (char c : head) MORVIA_FUZZ_CHECK(c >= 0x20 && c < 0x7f);
        if (head.back() != ':') continue;  // a one-line answer
        for (;;) {
            const std::size_t e = text.find("\r\n");
            MORVIA_FUZZ_CHECK(e != std::string_view::npos);
            const std::string_view line = text.substr(0, e);
            text.remove_prefix(e + 2);
            if (line.empty()) break;
            for (char c : line) MORVIA_FUZZ_CHECK(c >= 0x20 && c < 0x7f);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::quietProcess();
    std::string_view in(reinterpret_cast<const char*>(data), size);
    CheckingDeck deck;
    Session session(deck);
    auto now = Session::Clock::time_point{} + std::chrono::hours(1);
    bool closed = false;
    while (!in.empty() && !closed) {
        const std::size_t end = in.find_first_of("\r\n");
        const std::string_view line = in.substr(0, end);
        in.remove_prefix(end == std::string_view::npos ? in.size() : end + 1);
        if (!line.empty() && line[0] == '~') {
            const auto byte = [&](std::size_t i) { return i < line.size() ? static_cast<unsigned char>(line[i]) : 0; };
            deck.s.status = byte(1) % 11;
            deck.s.answering = byte(2) % 4 != 0;
            deck.s.timecode = timecode::FramesToTC(byte(3) * 97);
            now += std::chrono::milliseconds(byte(4) * 4);
            const std::vector<std::string> messages = session.changes(deck.s, now);
            std::size_t timecodes = 0;
            for (const std::string& m : messages) {
                MORVIA_FUZZ_CHECK(m.size() > 4 && m[0] == '5');
                checkBlocks(m);
                timecodes += m.starts_with("513 ");
            }
            MORVIA_FUZZ_CHECK(timecodes <= 1);
            continue;
        }
        const Session::Reply r = session.line(line, now);
        checkBlocks(r.text);
        // A block counts once: a reply holds at most one answer.
        MORVIA_FUZZ_CHECK(r.text.empty() || r.text.find("\r\n", 0) != std::string::npos);
        if (r.close) {
            MORVIA_FUZZ_CHECK(r.text == "200 ok\r\n");
            closed = true;
        }
    }
    return 0;
}
