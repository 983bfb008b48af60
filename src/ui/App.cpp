#include "ui/App.h"

#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "loggerwindow/LoggerWindow.h"
#include "player/SerOutPort.h"
#include "remote/ClientSocket.h"
#include "remote/HyperDeckServer.h"
#include "remote/ListenAddress.h"
#include "startup/Utils.h"
#include "startup/Worker.h"
#include "ui/LocalGUI.h"
#include "ui/Platform.h"
#include "window/GuiQueue.h"

#ifndef MORVIA_VERSION
#define MORVIA_VERSION "unknown"
#endif

namespace morvia {
namespace {

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string userName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return pw->pw_name;
    const char* user = std::getenv("USER");
    return user ? user : "";
}

// The session log's first event: the program, where it runs and the
// settings as read (a password is never written down).
sessionlog::Event startEvent() {
    sessionlog::Event e("start");
    e.source = "startup";
    std::string settings = "{";
    for (const auto& [key, value] : Quenta::settings().props) {
        if (settings.size() > 1) settings += ',';
        settings += sessionlog::jsonString(key) + ":" +
                    sessionlog::jsonString(key.find("assword") != std::string::npos ? "(hidden)" : value);
    }
    settings += '}';
    return e.text("version", MORVIA_VERSION)
        .text("host", hostName())
        .text("user", userName())
        .text("port", Quenta::settings().comport1)
        .text("settings_file", Quenta::propsfilename)
        .json("settings", settings);
}

}  // namespace

App::App(const Settings& settings, Display* display)
    : current_(settings),
      log_(Quenta::getsessionlog().empty()
               ? nullptr
               : sessionlog::Writer::open(Quenta::getsessionlog(), startEvent(), Utils::clock())),
      window_(display ? nullptr : std::make_unique<LocalGUI>(actions_)),
      display_(display ? *display : static_cast<Display&>(*window_)) {
    if (log_) {
        // The process may end in Utils::Exit (a start-up failure) without a
        // close: the log's last line still says how the run ended.
        exitHooked_ = true;
        previousExit_ = Utils::setExitHandler([this](int status) {
            endSessionLog(Utils::failingStatus() >= 0 || status != 0 ? "start-up failed" : "stopped");
            if (previousExit_) previousExit_(status);
        });
    }
    actions_.start();
    if (window_) {
        window_->setClosedHook([this] {
            const sessionlog::Scope source("close");
            endSessionLog(closedBySignal_.load() ? "signal" : "window closed");
        });
        LocalGUI& gui = *window_;
        // Nothing from the network may reach the player after the close's stops.
        gui.setBeforeClosing([this] { stopNetwork(); });
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
        startNetwork();
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
        window_->setIdentity(Quenta::name, Quenta::settings().note);
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

namespace {

// One console line for a listener's setting that gives no listener.
void listenerOff(const char* key, const std::string& reason) {
    Utils::OutLine(std::string("Setting ") + key + ": " + reason + "; it stays off");
}

// The address a listener's setting names; nothing, after one console line,
// when it names none.
std::optional<ListenAddress> settingAddress(const char* key, const std::string& value) {
    ParsedListenAddress parsed = parseListenAddress(value);
    if (!parsed.address) listenerOff(key, parsed.reason);
    return parsed.address;
}

}  // namespace

void App::startNetwork() {
    LocalVCR* vcr = controller();
    if (!vcr) return;
    if (Quenta::settings().ControlServer) startControlServer(*vcr);
    if (Quenta::settings().HyperDeckServer) startHyperDeck(*vcr);
}

void App::startControlServer(LocalVCR& vcr) {
    const std::optional<ListenAddress> address = settingAddress("ControlServer", *Quenta::settings().ControlServer);
    if (!address) return;
    std::string reason;
    auto socket = OpenServerSocket(vcr, *address, &reason);
    if (!socket) {
        listenerOff("ControlServer", reason);
        return;
    }
    adoptListener(controlServer_, vcr, std::move(*socket), address->host, "Control server");
}

void App::startHyperDeck(LocalVCR& vcr) {
    const std::optional<ListenAddress> address = settingAddress("HyperDeckServer", *Quenta::settings().HyperDeckServer);
    if (!address) return;
    std::optional<ServerSocket> socket;
    try {
        socket.emplace(listenOn(*address));
    } catch (const SocketError& e) {
        listenerOff("HyperDeckServer", e.what());
        return;
    }
    adoptListener(hyperDeck_, vcr, std::move(*socket), address->host, "HyperDeck-compatible port");
}

template <class Server>
void App::adoptListener(std::unique_ptr<Server>& slot, LocalVCR& vcr, ServerSocket socket, const std::string& host,
                        const std::string& what) {
    const ListenAddress bound{host, socket.port()};
    std::lock_guard g(networkLock_);
    if (networkStopped_) return;  // the window closed meanwhile: the socket closes here
    slot = std::make_unique<Server>(vcr, std::move(socket));
    slot->start();
    Utils::OutLine(what + " listening on " + describe(bound));
}

void App::stopNetwork() {
    std::unique_ptr<ControlServer> server;
    std::unique_ptr<HyperDeckServer> hyperDeck;
    {
        std::lock_guard g(networkLock_);
        networkStopped_ = true;
        server = std::move(controlServer_);
        hyperDeck = std::move(hyperDeck_);
    }
    if (server) server->stop();
    if (hyperDeck) hyperDeck->stop();
}

int App::controlServerPort() const {
    std::lock_guard g(networkLock_);
    return controlServer_ ? controlServer_->port() : 0;
}

int App::hyperDeckPort() const {
    std::lock_guard g(networkLock_);
    return hyperDeck_ ? hyperDeck_->port() : 0;
}

void App::stop() {
    stopNetwork();
    actions_.stop();
    if (window_) window_->setController(nullptr);
    system_.stop();
    endSessionLog("stopped");
    if (exitHooked_) {
        exitHooked_ = false;
        Utils::setExitHandler(std::move(previousExit_));
    }
}

void App::endSessionLog(const std::string& how) {
    if (log_) log_->finish(how);
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
    Settings settings;
    try {
        settings = Quenta::GetProps();
    } catch (const std::exception& e) {
        Utils::OutLine(std::string("Start-up failed: ") + e.what());
        Utils::Exit(1);
    }
    // The toolkit gets the program name and the platform (XWayland in a
    // Wayland session unless the operator chose one); other arguments are ignored.
    ToolkitArgs toolkit(argc, argv);
    QApplication qt(toolkit.argc(), toolkit.argv());
    if (settings.useclipboard && !clipboardFollowsTimecode(QGuiApplication::platformName().toStdString())) {
        Utils::OutLine(std::string(kClipboardOffOnWayland));
        settings.useclipboard = false;
    }
    QApplication::setQuitOnLastWindowClosed(false);

    // What start-up builds; it lives until the process ends.
    App app(settings);
    LocalGUI& gui = *app.window();
    if (extras.toolkitReady) extras.toolkitReady(app);

    std::unique_ptr<QSocketNotifier> closer;
    if (signalPipe[0] >= 0) {
        closer = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(closer.get(), &QSocketNotifier::activated, &gui, [&gui, &app] {
            char buf[16];
            while (::read(signalPipe[0], buf, sizeof buf) > 0) {}
            app.closedBySignal();
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
