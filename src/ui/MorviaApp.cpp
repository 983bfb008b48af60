#include "ui/MorviaApp.h"

#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <functional>
#include <cstdlib>
#include <memory>
#include <string>

#include "loggerwindow/LoggerWindow.h"
#include "player/LocalVCR.h"
#include "player/PlayerSystem.h"
#include "player/SerOutPort.h"
#include "window/ActionQueue.h"
#include "startup/Quenta.h"
#include "startup/Utils.h"
#include "startup/Worker.h"
#include "window/GuiQueue.h"
#include "ui/LocalGUI.h"
#include "ui/PaintStats.h"
#include "ui/Platform.h"

namespace morvia {
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

std::string envText(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// MORVIA_SHOWN_STAMP: the monotonic clock in milliseconds when the window was
// shown, written to `path` (benchmarks measure launch to window shown).
void writeShownStamp(const std::string& path) {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    if (FILE* f = std::fopen(path.c_str(), "we")) {
        std::fprintf(f, "%.3f\n", static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6);
        std::fclose(f);
    }
}

}  // namespace

int runApp(int argc, char** argv) {
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
    QApplication app(toolkit.argc(), toolkit.argv());
    if (Quenta::useclipboard && !clipboardFollowsTimecode(QGuiApplication::platformName().toStdString())) {
        Utils::OutLine(std::string(kClipboardOffOnWayland));
        Quenta::useclipboard = false;  // read by the controller once start-up runs
    }
    QApplication::setQuitOnLastWindowClosed(false);
    PaintStats::installFromEnvironment();  // benchmarks only

    // Read here, before any other thread runs.
    const std::string screenshot = envText("MORVIA_SCREENSHOT");
    const std::string demoScript = envText("MORVIA_DEMO_SCRIPT");
    const std::string shownStamp = envText("MORVIA_SHOWN_STAMP");

    ActionQueue actions;
    actions.start();
    LocalGUI gui(actions);
    // What start-up builds; it lives until the process ends.
    PlayerSystem parts;

    std::unique_ptr<QSocketNotifier> closer;
    if (signalPipe[0] >= 0) {
        closer = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(closer.get(), &QSocketNotifier::activated, &gui, [&gui] {
            char buf[16];
            while (::read(signalPipe[0], buf, sizeof buf) > 0) {}
            gui.close();
        });
    }

    Quenta::Hooks hooks;
    hooks.makeSerial = [&parts](const std::string& port) { return parts.openPort(port); };
    hooks.setwait = [&parts](int ms) { parts.setwait(ms); };
    hooks.makeController = [&parts, &gui, &actions, &shownStamp] {
        LocalVCR& vcr = parts.buildController(gui, Quenta::getsocketport());
        gui.setController(&vcr);
        gui.setIdentity(Quenta::name, Quenta::note);
        gui.guiQueue().post([&gui, &shownStamp] {
            gui.show();
            if (!shownStamp.empty()) writeShownStamp(shownStamp);
        });
        LocalVCR::StartHooks startHooks;
        startHooks.makeLogger = [&vcr, &gui, &actions] {
            return makeLoggerWindow(vcr, gui, gui.guiQueue(),
                                    [&actions](std::function<void()> job) { actions.post(std::move(job)); });
        };
        vcr.startup(startHooks);
    };

    Worker startup("start-up");
    startup.start([&](std::stop_token) {
        try {
            Quenta::start(hooks);
        } catch (const std::exception& e) {
            Utils::OutLine(std::string("Start-up failed: ") + e.what());
            Utils::Exit(1);
        }
        if (!screenshot.empty()) {
            Utils::DelayT(1500);  // let the timecode and the status marks settle
            gui.guiQueue().call([&gui, &screenshot] { return gui.grab().save(QString::fromStdString(screenshot)); });
        }
        if (demoScript == "1" || demoScript == "now" || demoScript == "keep") {
            const bool close = demoScript != "keep";
            const bool letLinkFinish = demoScript == "1";
            gui.guiQueue().post([&gui, &parts, close, letLinkFinish] {
                gui.press("Script");
                if (!close) return;
                // Queued behind the script: the close is asked for once the
                // script has ended, as an operator watching it would.
                gui.actions().post([&gui, &parts, letLinkFinish] {
                    if (letLinkFinish && parts.port()) parts.port()->waitIdle(2000);
                    gui.guiQueue().post([&gui] { gui.close(); });
                });
            });
        }
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
