// What the logger window does, without the window: the bodies of its
// listeners (take-in/take-out buttons, row-0 fields, scroll bar, Review,
// Load EDL, Save EDL) and the edit controller's setin/setout. The Qt window
// forwards its widget signals here (through the action thread) and shows the
// model's row texts.
//
// Thread-safety: setin/setout may be called from any thread; the listener
// bodies run on the action thread. The entries are guarded by the model's
// lock; file input and output run outside it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "logger/EdlExport.h"
#include "logger/LoggerModel.h"
#include "player/Display.h"
#include "player/Seams.h"

namespace morvia {

// Runs a job on the action thread (in order with the other listeners).
using Poster = std::function<void(std::function<void()>)>;
// Asks the operator for a file: title, then 0 to open or 1 to save. Returns
// the full path, or "" when cancelled.
using FileDialogFn = std::function<std::string(const std::string& title, int loadOrSave)>;
// The save dialog of an export: title and the preset file name. Returns the
// full path, or "" when cancelled.
using ExportDialogFn = std::function<std::string(const std::string& title, const std::string& presetName)>;

class LoggerCore : public LoggerSeam {
public:
    // `display` is the main window (read tcfield, write cuefield/endfield)
    // and must outlive the core; `review` plays the segment in the in/out
    // fields (the controller's review).
    LoggerCore(Display& display, std::function<void()> review, FileDialogFn dialog);
    ~LoggerCore() override = default;
    LoggerCore(const LoggerCore&) = delete;
    LoggerCore& operator=(const LoggerCore&) = delete;

    // The edit controller marks the current timecode as in / out point.
    void setin() override;
    void setout() override;

    // Listener bodies.
    void takeIn(int row);   // ">" of a row
    void takeOut(int row);  // "<" of a row
    void scrolled(int v);   // the scroll bar moved
    void nameEntered(const std::string& text);
    void inTimeEntered(const std::string& text);
    void outTimeEntered(const std::string& text);
    void ReviewClip();
    void loadPressed();  // "Load EDL": ask, load, then show entries 0..19
    void savePressed();  // "Save EDL": ask, save
    // "Export for editing software": ask (preset "EDL" + the format's
    // suffix; a name without a suffix gets it), write with the safe save.
    void exportPressed(edlexport::Format format);

    std::string GetFileName(const std::string& title);
    void LoadEDL(const std::string& fileName);
    void SaveEDL(const std::string& fileName);
    // The listed entries in `format`; events left out are named on the console.
    void ExportEDL(const std::string& fileName, edlexport::Format format);
    void ReState(int k);

    int getLoadOrSave() const { return LoadOrSave.load(); }
    LoggerModel& model() { return model_; }
    const LoggerModel& model() const { return model_; }
    void setFileDialog(FileDialogFn dialog);
    // Without one, exports ask through the file dialog in save mode.
    void setExportDialog(ExportDialogFn dialog);
    // Called after every change of the row texts, on the thread that made
    // it. Passing an empty function stops the calls; it returns only when no
    // call is running any more.
    void setViewListener(std::function<void()> listener);

    // The frame separator written to the file's FCM line.
    static constexpr const char* FCMString = ":";

private:
    // A save or load in the session log: its file, the number of events, how it went.
    static void saveEvent(const char* event, const std::string& path, std::size_t count, const char* outcome);
    std::string currentTC() const;
    void changed();

    Display& display_;
    std::function<void()> review_;
    mutable std::mutex dialogLock_;
    FileDialogFn dialog_;
    ExportDialogFn exportDialog_;
    std::atomic<int> LoadOrSave{1};
    LoggerModel model_;
    std::mutex listenerLock_;
    std::function<void()> listener_;
};

}  // namespace morvia
