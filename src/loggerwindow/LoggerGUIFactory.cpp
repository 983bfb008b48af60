// The controller's logger window. Kept apart from LoggerGUI.cpp so that code
// using the window without a controller does not need the controller's code.
#include "loggerwindow/LoggerWindow.h"
#include "player/LocalVCR.h"

namespace morvia {

std::shared_ptr<LoggerSeam> makeLoggerWindow(LocalVCR& vcr, Display& display, GuiQueue& qt, Poster poster) {
    return makeLoggerWindow(
        qt, display, [&vcr] { vcr.review(); }, [&vcr] { vcr.loggerClosing(); }, std::move(poster));
}

}  // namespace morvia
