// The text framing of the HyperDeck-compatible port, with no I/O: reading
// commands in their one-line and block forms, writing responses and
// asynchronous messages as blocks, and the transport fields of a deck state
// with the difference between two of them.
//
// A command is one line ("transport info", "goto: timecode: 00:01:00:00")
// or a block: a line that ends with a colon ("goto:"), one "name: value"
// line per parameter and an empty line. A response or message is
// "NNN text" or "NNN text:" followed by "name: value" lines and an empty
// line; every line ends with CR LF, and each block is written in one piece.
//
// Pure functions and a reader that belongs to one connection (not
// synchronised).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvia::hyperdeck {

struct Param {
    std::string name;
    std::string value;
    bool operator==(const Param&) const = default;
};
using Params = std::vector<Param>;

// One command as the client sent it; names are kept as written, lower-case
// comparison is the caller's business (the protocol's names are lower case).
struct Request {
    std::string name;
    Params params;
    bool malformed = false;  // a parameter without "name: value" shape
    // The value of the first parameter called `name`, if any.
    const std::string* find(std::string_view param) const;
};

// Splits the parameter text of a one-line command ("speed: 50 single clip:
// true") into parameters. Parameter names may hold blanks ("clip id"); the
// known multi-word names are recognised, any other name is one word. nullopt
// when the text is not a sequence of "name: value" pairs.
std::optional<Params> splitParams(std::string_view text);

// Turns lines into requests: a line without a colon or with parameters after
// the name's colon is a request of its own; a line that ends with the name's
// colon opens a block that an empty line closes. Empty lines outside a block
// are ignored. A block holds at most maxBlockLines parameter lines; further
// lines are dropped and the block is answered as malformed.
class RequestReader {
public:
    static constexpr std::size_t maxBlockLines = 32;
    // The request that `line` (without its line end) completes, if any.
    std::optional<Request> feed(std::string_view line);
    bool inBlock() const { return block_.has_value(); }

private:
    std::optional<Request> block_;
    std::size_t blockLines_ = 0;
};

// "NNN text" + CR LF.
std::string simple(int code, std::string_view text);
// "NNN text:", the parameters as "name: value" lines and an empty line, all
// ended by CR LF.
std::string block(int code, std::string_view text, const Params& params);

// The protocol version announced in the greeting and the device info.
inline constexpr const char* kProtocolVersion = "1.11";
inline constexpr const char* kModel = "Morvia DVD-V7400 controller";
// "500 connection info:" with the protocol version and the model.
std::string greeting();

// What the deck reports, taken in one piece.
struct DeckState {
    bool answering = false;  // false while the player gives no sign of life
    int status = 0;          // the controller's transport status code
    std::optional<int> speed;  // in percent of play speed; none when unknown
    std::string timecode;      // the displayed timecode, "" before the first
    int title = 0;             // the current title, 0 when unknown
    bool loop = false;         // a loop play of the range runs
    bool singleClip = false;   // a single-clip play of the range runs
    bool operator==(const DeckState&) const = default;
};

// The transport status word for a controller status code: "stopped",
// "play", "forward", "rewind" or "jog".
std::string transportStatus(int status);
// The "transport info" fields in their documented order. While the player
// does not answer, what is unknown reads "none".
Params transportFields(const DeckState& s);
// The "slot info" fields of slot 1, the disc.
Params slotFields(const DeckState& s);
// The fields of `after` whose values differ from `before` (same names in the
// same order on both sides), leaving out the names in `skip`.
Params changedFields(const Params& before, const Params& after, std::initializer_list<std::string_view> skip = {});

// The frame count of a timecode written exactly HH:MM:SS:FF (minutes and
// seconds below 60, frames below 30); nullopt for anything else.
std::optional<int> strictTimecode(std::string_view text);
// The sign and frame count of a jog timecode ("+00:00:01:00", "-...", or
// without a sign: forward). nullopt when it is not a timecode.
std::optional<int> jogFrames(std::string_view text);

// "true" / "false"; nullopt for anything else.
std::optional<bool> parseBool(std::string_view text);

}  // namespace morvia::hyperdeck
