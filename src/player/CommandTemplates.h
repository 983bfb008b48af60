// The controller's command templates: the commands that carry a number (a
// speed, a title, a chapter, a frame) and the lock that guards them.
//
// Thread-safety: every member may be called from any thread. A template is
// patched and queued as one step under the one lock, so two callers never
// queue each other's digits; the link's queue (a leaf lock of its own) is the
// only call made while the lock is held.
#pragma once

#include <array>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>

namespace morvia {

class PlayerLink;

class CommandTemplates {
public:
    enum class Id { variable, gochapter, autostart, cueinfr, cueoutfr, playtofr, stopmkfr };
    using Digits = std::array<int, 7>;

    // `link` may be null (nothing is queued then).
    explicit CommandTemplates(PlayerLink* link) : link_(link) {}
    CommandTemplates(const CommandTemplates&) = delete;
    CommandTemplates& operator=(const CommandTemplates&) = delete;

    // Copy of a template.
    std::string get(Id id) const;

    // Writes the title's two digits into the title command; queues nothing.
    void setTitle(int title);
    // Queues `lead`, then the title command, as one step; `title`, when
    // given, is written into it first.
    void queueTitle(std::initializer_list<const char*> lead, std::optional<int> title = std::nullopt);
    // Queues `lead`, then the chapter command carrying `chapter`, as one step.
    void queueChapter(std::initializer_list<const char*> lead, int chapter);
    // Queues the variable-speed command carrying `speed` (two digits).
    void queueSpeed(int speed);

    // The in point's frame digits into the cue-in search.
    void setCueIn(const Digits& digits);
    // The out point's frame digits into the cue-out search, the play-to and
    // the stop-marker commands.
    void setOut(const Digits& digits);
    // Writes `digits` into the frame template `id` and queues it `times`
    // times in a row, as one step.
    void queueFrame(Id id, const Digits& digits, int times = 1);

private:
    template <class Self>
    static auto& slotOf(Self& self, Id id);  // lock_ held
    void send(const std::string& command);   // lock_ held; the link's own lock nests inside

    PlayerLink* const link_;
    mutable std::mutex lock_;  // guards every template below
    std::string bsvariable = "00SPMF\r";
    std::string bsgochapter = "CH01SEPL\r";
    std::string bsautostart = "TI01SEPL\r";
    std::string bscueinfr = "FR0000000SE\r";
    std::string bscueoutfr = "FR0000000SE\r";
    std::string bsplaytofr = "FR0000000SMPL\r";
    std::string bsstopmkfr = "FR0000000SM\r";
};

}  // namespace morvia
