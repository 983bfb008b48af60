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
//   MORVIA_SHOWN_STAMP=path  when the window is shown, write the monotonic
//                            clock in milliseconds to `path` (benchmarks).
//   MORVIA_PAINT_STATS=path  count the repaints into `path` every second
//                            (benchmarks, see ui/PaintStats.h).
#include <QString>

#include <time.h>

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

}  // namespace

int main(int argc, char** argv) {
    // Read here, before any other thread runs.
    const std::string screenshot = envText("MORVIA_SCREENSHOT");
    const std::string demoScript = envText("MORVIA_DEMO_SCRIPT");
    const std::string shownStamp = envText("MORVIA_SHOWN_STAMP");

    AppExtras extras;
    extras.toolkitReady = [](App&) { PaintStats::installFromEnvironment(); };
    if (!shownStamp.empty()) extras.shown = [shownStamp] { writeShownStamp(shownStamp); };
    extras.started = [screenshot, demoScript](App& app) {
        LocalGUI& gui = *app.window();
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
