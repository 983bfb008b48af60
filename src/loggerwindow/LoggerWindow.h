// Opening a logger window ("DVD Logger") without including Qt.
//
// Wiring (the application's StartHooks::makeLogger):
//     hooks.makeLogger = [&vcr, &gui, poster] {
//         return morvia::makeLoggerWindow(vcr, gui, gui.guiQueue(), poster);
//     };
// `poster` runs a job on the action thread; the GuiQueue (the main window's)
// carries jobs to the Qt thread and must outlive every logger window made
// with it. The window is created on the Qt thread (the call blocks until it
// exists when made from another thread).
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
class GuiQueue;
class LocalVCR;
class LoggerGUI;
struct LoggerGUIRef;

// An open logger window as its owner holds it. setin/setout may be called
// from any thread. Destroying the handle deletes the window on the Qt thread
// (deleteLater), from whatever thread the handle dies on.
class LoggerWindow : public LoggerSeam {
public:
    LoggerWindow(GuiQueue& qt, std::shared_ptr<LoggerCore> core, LoggerGUI* widget, std::shared_ptr<LoggerGUIRef> ref);
    ~LoggerWindow() override;
    LoggerWindow(const LoggerWindow&) = delete;
    LoggerWindow& operator=(const LoggerWindow&) = delete;

    void setin() override { core_->setin(); }
    void setout() override { core_->setout(); }

    LoggerCore& core() const { return *core_; }
    // The widget; touch it on the Qt thread only.
    LoggerGUI* widget() const { return widget_; }

private:
    GuiQueue& qt_;
    std::shared_ptr<LoggerCore> core_;
    LoggerGUI* widget_;
    std::shared_ptr<LoggerGUIRef> ref_;
};

// Creates and shows a logger window on the Qt thread, reached through `qt`.
// `review` plays the segment in the main window's in/out fields; `onClose`
// runs (posted) when the operator closes the window; every listener runs
// through `poster` (an empty poster runs them at once on the Qt thread).
// `dialog` replaces the file dialog (tests); empty means qtFileDialog.
std::shared_ptr<LoggerWindow> makeLoggerWindow(GuiQueue& qt, Display& display, std::function<void()> review,
                                               std::function<void()> onClose, Poster poster, FileDialogFn dialog = {});

// The controller's logger window: review through vcr.review(), close through
// vcr.loggerClosing().
std::shared_ptr<LoggerSeam> makeLoggerWindow(LocalVCR& vcr, Display& display, GuiQueue& qt, Poster poster);

// The modal file dialog, run on the Qt thread through `qt` (blocking the
// caller when called from another thread): title, open mode for 0 and save
// mode for 1, file name "EDL.txt" in "/". Returns the chosen full path, or ""
// when cancelled or when the queue went away before the dialog ran.
std::string qtFileDialog(GuiQueue& qt, const std::string& title, int loadOrSave);
// The same dialog in save mode with another preset file name (the exports).
std::string qtExportDialog(GuiQueue& qt, const std::string& title, const std::string& presetName);

}  // namespace morvia
