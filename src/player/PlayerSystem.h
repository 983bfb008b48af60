// The controller on its player link, built and taken down in one place: the
// App (the program, the fault rig, the end-to-end benchmark) and the link
// integration test wire it here.
//
// Built in this order: the serial port object on the named port (the link
// and its thread), then the controller on a window (a Display) over that link
// or over a link put in front of it, then the link's callbacks to the
// controller. Taken down so that no callback reaches an object that is gone:
// polling stops and is joined, the link thread ends with the port object, and
// only then does the controller go.
//
// Thread-safety: build and stop from one thread (start-up, or a test's own);
// the parts themselves are safe to use from any thread as documented there.
#pragma once

#include <memory>
#include <string>

namespace morvia {

class Display;
class LocalVCR;
class PlayerLink;
class SerOutPort;

class PlayerSystem {
public:
    // The link's cycle wait the controller runs with.
    static constexpr int kCycleWaitMs = 30;

    PlayerSystem();
    ~PlayerSystem();  // stop()
    PlayerSystem(const PlayerSystem&) = delete;
    PlayerSystem& operator=(const PlayerSystem&) = delete;

    // Makes the serial port object on `portName` (the link thread is not
    // started). False when the port did not open; the object is kept all the
    // same, so that the controller reports the missing line itself.
    bool openPort(const std::string& portName);
    // Sets the link's cycle wait; nothing without a port object.
    void setwait(int ms);
    // Builds the controller on `display` over `front` (a link that hands on
    // to port(); it must outlive this object's stop()) or, when null, over
    // the port object itself, which may be absent. The port's callbacks go to
    // the controller. `display` must outlive the controller.
    LocalVCR& buildController(Display& display, int socketPort, PlayerLink* front = nullptr);
    // openPort, setwait(kCycleWaitMs) and buildController over the port in
    // one; returns what openPort returned (the controller is built either way).
    bool build(const std::string& portName, Display& display, int socketPort = 0);
    // Starts the link the controller talks through, for rigs that spin the
    // player up themselves; the program's start-up dialogue
    // (LocalVCR::startup) starts it otherwise. Nothing without a controller.
    void startLink();

    // Polling, then the link thread, then the controller; safe to repeat.
    void stop();

    SerOutPort* port() const { return port_.get(); }
    LocalVCR* controller() const { return vcr_.get(); }

private:
    std::unique_ptr<SerOutPort> port_;
    std::unique_ptr<LocalVCR> vcr_;
    PlayerLink* link_ = nullptr;  // what the controller talks through
};

}  // namespace morvia
