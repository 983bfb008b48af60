// The seam between the controller and the player command port.
#pragma once

#include <cstdint>
#include <string>

namespace morvia {

// What the controller asks of the player link. SerOutPort implements it over
// the serial line; tests use a recording link.
class PlayerLink {
public:
    virtual ~PlayerLink() = default;
    // Copies the command (at most 19 bytes) into the link's store; returns at once.
    virtual void queue(const std::string& command) = 0;
    // Requests one frame-position poll at the link's next idle turn.
    virtual void setd() = 0;
    // Starts the link's thread (no-op for doubles).
    virtual void start() = 0;
    // True when the link's serial port object exists (polling may start).
    virtual bool hasSerialPort() const = 0;
    // Waits until every queued command has been written to the line, at most
    // `ms` milliseconds. True when the store emptied in time.
    virtual bool waitIdle(int ms) {
        (void)ms;
        return true;
    }
    // Drops every command still waiting in the store (not one already being
    // written) and any pending frame-position poll; returns how many
    // commands were dropped, counting those the closed gate refused since
    // the last call.
    virtual int dropWaiting() { return 0; }
    // The window is closing: closes the gate for good. From then on queue()
    // refuses every command and no frame-position poll is made; only
    // queueFinal() reaches the line (the closing stop commands).
    virtual void closeGate() {}
    // Queues a command also past a closed gate.
    virtual void queueFinal(const std::string& command) { queue(command); }
    // True while the player gives no sign of life (the line is down, or no
    // byte has arrived for a second of polls).
    virtual bool silent() const { return false; }
};

// What the link hands back to the controller from its own thread.
class LinkClient {
public:
    virtual ~LinkClient() = default;
    // Every exchange's reply buffer (16 bytes) becomes the last reply.
    virtual void SerIn(const std::uint8_t* reply, int size) = 0;
    // A successful frame-position poll: the reply buffer and the count of the
    // last read (8 for a complete reply).
    virtual void DoTC(const std::uint8_t* reply, int size, int numBytes) = 0;
    // Title/chapter decoded from an information reply, already range-checked
    // by the link (chapter < 0 means "leave the chapter").
    virtual void setinfo(int title, int chapter) = 0;
    virtual void TCIndicate(bool ok) = 0;
    virtual void ShowStat(const std::string& text) = 0;
    // The link's silence state changed (see PlayerLink::silent).
    virtual void LinkSilence(bool silent) { (void)silent; }
};

}  // namespace morvia
