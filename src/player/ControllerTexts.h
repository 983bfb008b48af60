// The controller's texts: the displayed timecode, the last status text, the
// in and out point texts, the offset text and the link's last reply.
//
// Thread-safety: every member may be called from any thread; one lock guards
// them all and nothing else is called while it is held.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace morvia {

class ControllerTexts {
public:
    using Reply = std::array<std::uint8_t, 16>;

    explicit ControllerTexts(std::string offsetText) : OSString(std::move(offsetText)) {}

    std::string timecode() const;
    void setTimecode(const std::string& tc);
    // The last status text; empty before the first status update.
    std::optional<std::string> status() const;
    void setStatus(const std::string& text);
    std::string cue() const;
    void setCue(const std::string& s);
    std::string end() const;
    void setEnd(const std::string& s);
    std::string offset() const;
    void setOffset(const std::string& s);
    Reply lastReply() const;
    void setLastReply(const Reply& reply);

private:
    // A copy of `field` / a new value for it, under the lock.
    template <class T>
    T read(const T& field) const;
    template <class T>
    void write(T& field, const T& value);

    mutable std::mutex lock_;  // guards every field below
    std::string TCString = "00:00:00:01";
    std::optional<std::string> StatusString;
    std::string CueString = "00:00:00:01";
    std::string EndString = "00:00:00:20";
    std::string OSString;
    Reply serIn{};
};

}  // namespace morvia
