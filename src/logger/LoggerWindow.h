// Opening a logger window ("DVD Logger") without including Qt.
//
// Wiring (the application's StartHooks::makeLogger):
//     hooks.makeLogger = [&vcr, &display, poster] {
//         return morvia::makeLoggerWindow(vcr, display, poster);
//     };
// `poster` runs a job on the action thread. The window is created on the Qt
// thread (the call blocks until it exists when made from another thread).
// Closing it through its frame posts vcr.loggerClosing() to the action
// thread; the controller then drops the returned pointer, which deletes the
// window on the Qt thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "logger/LoggerCore.h"
#include "player/Seams.h"

namespace morvia {

class Display;
class LocalVCR;
class LoggerGUI;
struct LoggerGUIRef;

// An open logger window as its owner holds it. setin/setout may be called
// from any thread. Destroying the handle deletes the window on the Qt thread
// (deleteLater), from whatever thread the handle dies on.
class LoggerWindow : public LoggerSeam {
public:
    LoggerWindow(std::shared_ptr<LoggerCore> core, LoggerGUI* widget, std::shared_ptr<LoggerGUIRef> ref);
    ~LoggerWindow() override;
    LoggerWindow(const LoggerWindow&) = delete;
    LoggerWindow& operator=(const LoggerWindow&) = delete;

    void setin() override { core_->setin(); }
    void setout() override { core_->setout(); }

    LoggerCore& core() const { return *core_; }
    // The widget; touch it on the Qt thread only.
    LoggerGUI* widget() const { return widget_; }

private:
    std::shared_ptr<LoggerCore> core_;
    LoggerGUI* widget_;
    std::shared_ptr<LoggerGUIRef> ref_;
};

// Creates and shows a logger window on the Qt thread. `review` plays the
// segment in the main window's in/out fields; `onClose` runs (posted) when the
// operator closes the window; every listener runs through `poster` (an empty
// poster runs them at once on the Qt thread). `dialog` replaces the file
// dialog (tests); empty means qtFileDialog.
std::shared_ptr<LoggerWindow> makeLoggerWindow(Display& display, std::function<void()> review,
                                               std::function<void()> onClose, Poster poster,
                                               FileDialogFn dialog = {});

// The controller's logger window: review through vcr.review(), close through
// vcr.loggerClosing().
std::shared_ptr<LoggerSeam> makeLoggerWindow(LocalVCR& vcr, Display& display, Poster poster);

// The modal file dialog, run on the Qt thread (blocking the caller when
// called from another thread): title, open mode for 0 and save mode for 1,
// file name "EDL.txt" in "/". Returns the chosen full path or "".
std::string qtFileDialog(const std::string& title, int loadOrSave);
// The same dialog in save mode with another preset file name (the exports).
std::string qtExportDialog(const std::string& title, const std::string& presetName);

// Runs `fn` on the Qt thread and waits for it (at once when called there).
// False when there is no application or it went away before running `fn`.
// The caller must not hold anything the Qt thread waits for.
bool runOnQtThread(const std::function<void()>& fn);

} // namespace morvia
