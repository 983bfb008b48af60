#include "ui/App.h"

#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <exception>
#include <memory>
#include <string>

#include "loggerwindow/LoggerWindow.h"
#include "player/SerOutPort.h"
#include "remote/HyperDeckServer.h"
#include "remote/ListenAddress.h"
#include "startup/Utils.h"
#include "startup/Worker.h"
#include "ui/LocalGUI.h"
#include "ui/Platform.h"
#include "window/GuiQueue.h"

namespace morvia {

App::App(Display* display)
    : window_(display ? nullptr : std::make_unique<LocalGUI>(actions_)),
      display_(display ? *display : static_cast<Display&>(*window_)) {
    actions_.start();
    if (window_) {
        LocalGUI& gui = *window_;
        // Nothing from the network reaches the player after the close's stops.
        gui.setOnClosing([this] { stopHyperDeck(); });
        startHooks_.makeLogger = [this, &gui] {
            return makeLoggerWindow(*controller(), gui, gui.guiQueue(),
                                    [this](std::function<void()> job) { actions_.post(std::move(job)); });
        };
    }
}

App::~App() { stop(); }

Quenta::Hooks App::startupHooks(std::function<void()> shown) {
    Quenta::Hooks hooks;
    hooks.makeSerial = [this](const std::string& port) { return system_.openPort(port); };
    hooks.setwait = [this](int ms) { system_.setwait(ms); };
    hooks.makeController = [this, shown = std::move(shown)] {
        buildController();
        showWindow(shown);
        startup();
    };
    return hooks;
}

bool App::openPort(const std::string& portName) {
    const bool opened = system_.openPort(portName);
    system_.setwait(PlayerSystem::kCycleWaitMs);
    return opened;
}

LocalVCR& App::buildController(PlayerLink* front) {
    LocalVCR& vcr = system_.buildController(display_, Quenta::getsocketport(), front);
    if (window_) {
        window_->setController(&vcr);
        window_->setIdentity(Quenta::name, Quenta::note);
    }
    vcr.setStartHooks(startHooks_);
    return vcr;
}

void App::showWindow(std::function<void()> shown) {
    if (!window_) return;
    LocalGUI& gui = *window_;
    gui.guiQueue().post([&gui, shown = std::move(shown)] {
        gui.show();
        if (shown) shown();
    });
}

void App::startup() {
    if (LocalVCR* vcr = controller()) vcr->startup(startHooks_);
}

void App::startHyperDeck() {
    if (!Quenta::HyperDeckServer || !controller()) return;
    const std::string key = "Setting HyperDeckServer: ";
    const ParsedListenAddress parsed = parseListenAddress(*Quenta::HyperDeckServer);
    if (!parsed.address) {
        Utils::OutLine(key + parsed.reason + "; the HyperDeck-compatible port stays closed");
        return;
    }
    std::shared_ptr<HyperDeckServer> server;
    try {
        server = std::make_shared<HyperDeckServer>(*controller(), listenOn(*parsed.address));
    } catch (const std::exception& e) {
        Utils::OutLine(key + e.what() + "; the HyperDeck-compatible port stays closed");
        return;
    }
    {
        std::lock_guard g(hyperDeckLock_);
        if (hyperDeckEnded_ || hyperDeck_) return;  // closing already, or started
        hyperDeck_ = server;
    }
    server->start();
    ListenAddress bound = *parsed.address;
    bound.port = server->port();  // the one chosen for port 0
    Utils::OutLine("HyperDeck-compatible port at " + describe(bound));
}

void App::stopHyperDeck() {
    std::shared_ptr<HyperDeckServer> server;
    {
        std::lock_guard g(hyperDeckLock_);
        hyperDeckEnded_ = true;
        server = std::move(hyperDeck_);  // one caller stops it
    }
    if (server) server->stop();
}

int App::hyperDeckPort() const {
    std::lock_guard g(hyperDeckLock_);
    return hyperDeck_ ? hyperDeck_->port() : 0;
}

void App::stop() {
    stopHyperDeck();
    actions_.stop();
    if (window_) window_->setController(nullptr);
    system_.stop();
}

namespace {

// SIGTERM / SIGINT -> one byte down a pipe -> the Qt thread closes the window.
// During a start-up failure pause there is nothing to close: the process
// ends at once with that failure's status (console lines are already flushed).
int signalPipe[2] = {-1, -1};

extern "C" void onCloseSignal(int) {
    const int failing = Utils::failingStatus();
    if (failing >= 0) ::_exit(failing);
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
}

void installCloseSignals() {
    // Console output into a closed pipe (morvia | head) fails quietly
    // instead of ending the program.
    ::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction sa {};
    sa.sa_handler = onCloseSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

int runApp(int argc, char** argv, const AppExtras& extras) {
    installCloseSignals();
    // The settings come first, before the toolkit looks for a display: a
    // missing file ends the program the same way everywhere.
    try {
        Quenta::GetProps();
    } catch (const std::exception& e) {
        Utils::OutLine(std::string("Start-up failed: ") + e.what());
        Utils::Exit(1);
    }
    // The toolkit gets the program name and the platform (XWayland in a
    // Wayland session unless the operator chose one); other arguments are ignored.
    ToolkitArgs toolkit(argc, argv);
    QApplication qt(toolkit.argc(), toolkit.argv());
    if (Quenta::useclipboard && !clipboardFollowsTimecode(QGuiApplication::platformName().toStdString())) {
        Utils::OutLine(std::string(kClipboardOffOnWayland));
        Quenta::useclipboard = false;  // read by the controller once start-up runs
    }
    QApplication::setQuitOnLastWindowClosed(false);

    // What start-up builds; it lives until the process ends.
    App app;
    LocalGUI& gui = *app.window();
    if (extras.toolkitReady) extras.toolkitReady(app);

    std::unique_ptr<QSocketNotifier> closer;
    if (signalPipe[0] >= 0) {
        closer = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(closer.get(), &QSocketNotifier::activated, &gui, [&gui] {
            char buf[16];
            while (::read(signalPipe[0], buf, sizeof buf) > 0) {}
            gui.close();
        });
    }

    const Quenta::Hooks hooks = app.startupHooks(extras.shown);
    Worker startup("start-up");
    startup.start([&](std::stop_token) {
        try {
            Quenta::start(hooks);
        } catch (const std::exception& e) {
            Utils::OutLine(std::string("Start-up failed: ") + e.what());
            Utils::Exit(1);
        }
        app.startHyperDeck();
        if (extras.started) extras.started(app);
        // The Qt thread owns this thread and joins it once its work is done.
        gui.guiQueue().post([&startup] { startup.stop(); });
    });

    const int rc = QApplication::exec();
    // Nothing quits the event loop in normal operation; if it ever returns,
    // end the way a window close does.
    gui.windowClosing();
    return rc;
}

}  // namespace morvia
