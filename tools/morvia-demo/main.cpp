// morvia-demo: the operator's program (the same App) with the hooks that
// demonstrations, end-to-end tests and benchmarks drive it by. Never shipped.
//
// Environment (all optional):
//   MORVIA_SCREENSHOT=path   once start-up is complete and the window has
//                            settled (about 1.5 s), save a picture of the
//                            window to `path` (PNG).
//   MORVIA_DEMO_SCRIPT=1     after that, press "Script"; once the script has
//                            ended and the player has received its commands
//                            (at most 2 s more), close the window.
//   MORVIA_DEMO_SCRIPT=now   the same, but close the window the moment the
//                            script has ended.
//   MORVIA_DEMO_SCRIPT=keep  the same, but leave the window open (close it
//                            with SIGTERM).
//   MORVIA_DEMO_INPUT=list   once start-up is complete (before the script),
//                            the operator's input one at a time, each after
//                            the last one's commands reached the player: a
//                            comma-separated list of "button:COMMAND" (click
//                            the button of that action command, "Play") and
//                            "key:K" (tap the letter key K, or "key:Space").
//   MORVIA_SHOWN_STAMP=path  when the window is shown, write the monotonic
//                            clock in milliseconds to `path` (benchmarks).
//   MORVIA_PAINT_STATS=path  count the repaints into `path` every second
//                            (benchmarks, see ui/PaintStats.h).
#include <QApplication>
#include <QKeyEvent>
#include <QString>

#include <time.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "player/SerOutPort.h"
#include "startup/Utils.h"
#include "ui/App.h"
#include "ui/LocalGUI.h"
#include "ui/PaintStats.h"
#include "window/GuiQueue.h"

namespace {

using namespace morvia;

std::string envText(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// The monotonic clock in milliseconds when the window was shown, written to
// `path` (benchmarks measure launch to window shown).
void writeShownStamp(const std::string& path) {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    if (FILE* f = std::fopen(path.c_str(), "we")) {
        std::fprintf(f, "%.3f\n", static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6);
        std::fclose(f);
    }
}

// Taps a letter key (or Space) on the window's focus widget, as the keyboard would.
void tapKey(QWidget& window, const std::string& name) {
    const int key = name == "Space" ? Qt::Key_Space : (name.size() == 1 ? std::toupper(name[0]) : 0);
    if (key == 0) return;
    QWidget* target = window.focusWidget() ? window.focusWidget() : &window;
    const QString text = key == Qt::Key_Space ? QString(" ") : QString(QChar(key)).toLower();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

// The operator's input of MORVIA_DEMO_INPUT, from the start-up thread.
void playInput(App& app, const std::string& list) {
    LocalGUI& gui = *app.window();
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t end = list.find(',', at);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(at, end - at);
        at = end + 1;
        const auto colon = item.find(':');
        if (colon == std::string::npos) continue;
        const std::string kind = item.substr(0, colon), what = item.substr(colon + 1);
        gui.guiQueue().call([&] {
            if (kind == "button") gui.press(what);
            else if (kind == "key") tapKey(gui, what);
            return true;
        });
        gui.actions().drain();  // the action ran
        if (app.port()) app.port()->waitIdle(2000);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Read here, before any other thread runs.
    const std::string screenshot = envText("MORVIA_SCREENSHOT");
    const std::string demoScript = envText("MORVIA_DEMO_SCRIPT");
    const std::string shownStamp = envText("MORVIA_SHOWN_STAMP");
    const std::string demoInput = envText("MORVIA_DEMO_INPUT");

    AppExtras extras;
    extras.toolkitReady = [](App&) { PaintStats::installFromEnvironment(); };
    if (!shownStamp.empty()) extras.shown = [shownStamp] { writeShownStamp(shownStamp); };
    extras.started = [screenshot, demoScript, demoInput](App& app) {
        LocalGUI& gui = *app.window();
        if (!demoInput.empty()) playInput(app, demoInput);
        if (!screenshot.empty()) {
            Utils::DelayT(1500);  // let the timecode and the status marks settle
            gui.guiQueue().call([&gui, &screenshot] { return gui.grab().save(QString::fromStdString(screenshot)); });
        }
        if (demoScript == "1" || demoScript == "now" || demoScript == "keep") {
            const bool close = demoScript != "keep";
            const bool letLinkFinish = demoScript == "1";
            gui.guiQueue().post([&gui, &app, close, letLinkFinish] {
                gui.press("Script");
                if (!close) return;
                // Queued behind the script: the close is asked for once the
                // script has ended, as an operator watching it would.
                gui.actions().post([&gui, &app, letLinkFinish] {
                    if (letLinkFinish && app.port()) app.port()->waitIdle(2000);
                    gui.guiQueue().post([&gui] { gui.close(); });
                });
            });
        }
    };
    return runApp(argc, argv, extras);
}
