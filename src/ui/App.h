// The whole program in one object: the action thread, the main window, the
// player system (port, link, controller), the logger window factory, the
// start-up dialogue that starts the link and the network listeners, built in
// that order and taken down in the reverse one.
//
// runApp is the operator's program: it reads the settings file before the
// window toolkit starts (so a missing file ends the program even where no
// display is available), builds an App from its value on the main thread, then runs start-up on a
// thread of its own, which opens the player's port, builds the controller on
// the window, shows the window and runs the start-up dialogue with the
// player; the main thread meanwhile runs the Qt event loop. The process ends
// through Utils::Exit: when the operator closes the window (after the stop
// commands went out), or when start-up gives up. SIGTERM and SIGINT close the
// window as the operator would; during a start-up failure pause they end the
// process with that failure's status. SIGPIPE is ignored. Of the command-line
// arguments only `-platform NAME` is used (ui/Platform.h chooses the
// platform); the others are ignored.
//
// Tests, rigs and benchmarks build an App themselves from a Settings value
// of their own and call the start-up steps they need; one that has no Qt application gives the App a Display of
// its own instead of the window.
//
// Thread-safety: build, start-up steps and stop from one thread at a time
// (the Qt thread when there is a window); the parts are safe to use from any
// thread as documented there.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "player/LocalVCR.h"
#include "player/PlayerSystem.h"
#include "sessionlog/SessionLog.h"
#include "startup/Quenta.h"
#include "window/ActionQueue.h"

namespace morvia {

class ControlServer;
class Display;
class HyperDeckServer;
class LocalGUI;
class PlayerLink;
class SerOutPort;
class ServerSocket;

class App {
public:
    // Makes `settings` the current settings (Quenta::use: no other thread of
    // the program may run yet), opens the session log when the SessionLog
    // setting names a folder (its first event "start": version, host, user,
    // port and the settings as read), starts the action thread and builds the
    // main window (hidden) on the calling thread, which must be the Qt thread
    // of a QApplication. With a `display` no window is built: the controller shows
    // on `display`, which must outlive the App.
    explicit App(const Settings& settings, Display* display = nullptr);
    ~App();  // stop()
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    ActionQueue& actions() { return actions_; }
    LocalGUI* window() const { return window_.get(); }  // null with a display of the caller's
    PlayerSystem& system() { return system_; }
    LocalVCR* controller() const { return system_.controller(); }
    SerOutPort* port() const { return system_.port(); }

    // --- start-up steps, in order ---
    // What start-up (Quenta::start) calls: the port on the named port and its
    // cycle wait, then buildController, showWindow(shown) and startup.
    Quenta::Hooks startupHooks(std::function<void()> shown = {});
    // The port object on `portName` with the controller's cycle wait; false
    // when the port did not open (the object is kept, see PlayerSystem).
    bool openPort(const std::string& portName);
    // The controller on the window (or the display) over `front` (a link
    // that hands on to port(), outliving stop()) or the port itself; the
    // window's listeners and the logger button act on it.
    LocalVCR& buildController(PlayerLink* front = nullptr);
    // Shows the window from the Qt thread's queue, then calls `shown` there.
    void showWindow(std::function<void()> shown = {});
    // The start-up dialogue with the player (LocalVCR::startup), which
    // starts the link. Blocks for its timed waits; may end the process.
    void startup();
    // Starts the link without the start-up dialogue (rigs and benchmarks
    // that spin the player up themselves).
    void startLink() { system_.startLink(); }
    // The network listeners the settings switch on (ControlServer,
    // HyperDeckServer), on the
    // controller; after start-up (startupHooks runs it after startup). A
    // value that is no address, or a port that cannot be had, is one
    // console line naming the setting and the reason, and that listener
    // stays off. Does nothing once stopNetwork ran.
    void startNetwork();
    // Ends every connection and listener and joins them; nothing from the
    // network reaches the controller afterwards, and none starts again. The
    // window's close runs it before the controller's closing stops.
    void stopNetwork();
    // The port the control server listens on; 0 when it is off.
    int controlServerPort() const;
    // The port the HyperDeck-compatible listener listens on; 0 when it is off.
    int hyperDeckPort() const;

    // The network listeners, the action thread (no more listeners), then the
    // player system (polling, link, controller); the window goes with the
    // App. Safe to repeat.
    void stop();

    // The session log's last event: how the run ended (the window's close
    // gives "window closed", or "signal" after closedBySignal; an exit from
    // a start-up failure "start-up failed"). Once; nothing without a log.
    void endSessionLog(const std::string& how);
    // The next close comes from SIGTERM or SIGINT (any thread).
    void closedBySignal() { closedBySignal_.store(true); }
    // The open session log's file; empty without one.
    std::string sessionLogPath() const { return log_ ? log_->path() : std::string(); }

private:
    // Declared first: the settings are current before any part reads them.
    struct Current {
        explicit Current(const Settings& s) { Quenta::use(s); }
    } current_;
    // Next: it takes events until the last part has stopped.
    std::unique_ptr<sessionlog::Writer> log_;
    // The exit handler this App's replaced while its log is open: an exit
    // from a start-up failure ends the log with "start-up failed" first.
    std::function<void(int)> previousExit_;
    bool exitHooked_ = false;
    std::atomic<bool> closedBySignal_{false};
    ActionQueue actions_;
    std::unique_ptr<LocalGUI> window_;
    Display& display_;
    LocalVCR::StartHooks startHooks_;
    PlayerSystem system_;
    void startControlServer(LocalVCR& vcr);
    void startHyperDeck(LocalVCR& vcr);
    // Keeps and starts a listener built on `socket` unless the window closed
    // meanwhile (the socket then closes), and says where it listens.
    template <class Server>
    void adoptListener(std::unique_ptr<Server>& slot, LocalVCR& vcr, ServerSocket socket, const std::string& host,
                       const std::string& what);
    // Guards the listeners and networkStopped_ (start-up starts the
    // listeners, the window's close may stop them at the same time). Leaf:
    // a listener is stopped and joined after it is let go.
    mutable std::mutex networkLock_;
    std::unique_ptr<ControlServer> controlServer_;
    bool networkStopped_ = false;
    std::unique_ptr<HyperDeckServer> hyperDeck_;
};

// What a demonstration or benchmark program adds to the operator's program;
// the operator's program passes none.
struct AppExtras {
    // Qt thread, once the toolkit is up and the App is built.
    std::function<void(App&)> toolkitReady;
    // Qt thread, right after the window is shown.
    std::function<void()> shown;
    // Start-up thread, once start-up is complete (the player plays).
    std::function<void(App&)> started;
};

// The program: returns only if the Qt event loop ever does.
int runApp(int argc, char** argv, const AppExtras& extras = {});

}  // namespace morvia
