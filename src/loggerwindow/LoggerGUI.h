// The "DVD Logger" window: 20 rows of the logger's 100 entries (edit number,
// clip name, take-in ">", source in, take-out "<", source out), the "Load
// EDL", "Review" and "Save EDL" buttons and a scroll bar.
//
// Thread-safety: the widget lives on the Qt thread. Its signals post the
// listener bodies (LoggerCore) to the action thread; the core's row texts come
// back as a job on the Qt thread. setin/setout may be called from any thread.
//
// Jobs for the Qt thread go through the GuiQueue the window is given (the
// main window's), so every hand-over between threads is visible to
// ThreadSanitizer. That queue must outlive the window.
#pragma once

#include <QColor>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "logger/FieldConversions.h"
#include "logger/LoggerCore.h"
#include "player/Seams.h"

class QAction;
class QLabel;
class QMenu;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QCloseEvent;

namespace morvia {

class GuiQueue;
class LoggerGUI;

// Names a logger window for jobs that reach the Qt thread later: `widget` is
// cleared when the window is deleted. Read and written on the Qt thread only.
struct LoggerGUIRef {
    LoggerGUI* widget = nullptr;
};

class LoggerGUI : public QWidget, public LoggerSeam, public FieldConversions {
public:
    static constexpr int GUIwidth = 480;
    static constexpr int GUIheight = 525;
    static inline const QColor backgroundcol{80, 150, 245};
    static constexpr int NumRows = LoggerModel::NumRows;

    // Builds and shows the window (Qt thread). `qt` carries its row refreshes
    // to the Qt thread; `poster` runs listener bodies on the action thread
    // (empty: at once); `onClose` is posted when the operator closes the window.
    LoggerGUI(GuiQueue& qt, std::shared_ptr<LoggerCore> core, Poster poster, std::function<void()> onClose,
              QWidget* parent = nullptr);
    ~LoggerGUI() override;

    void setin() override { core_->setin(); }
    void setout() override { core_->setout(); }
    void ReState(int k) { core_->ReState(k); }
    LoggerCore& core() const { return *core_; }
    std::shared_ptr<LoggerGUIRef> ref() const { return ref_; }

    // Copies the row texts that changed into the fields (Qt thread).
    void applyView();

    // Layout, computed from the window size.
    const int dy = GUIheight / NumRows - 5;      // 21: row height
    const int vspace = GUIheight / NumRows - 3;  // 23: row pitch
    const int fontheight = dy - 6;               // 15 (pixels)
    const int clipnamewidth = GUIwidth / 4;      // 120
    const int timecodewidth = GUIwidth / 5;      // 96
    const int buttonwidth = dy - 2;              // 19
    const int editnumwidth = GUIwidth / 14;      // 34
    const int loadsavewidth = GUIwidth / 5;      // 96
    // Qt places children in the client area: frame insets are 0.
    const int X0 = 5;
    const int X1 = X0 + editnumwidth + 4;
    const int X2 = X1 + clipnamewidth + 15;
    const int X3 = X2 + buttonwidth + 2;
    const int X4 = X3 + timecodewidth + 15;
    const int X5 = X4 + buttonwidth + 2;
    const int X6 = X5 + timecodewidth + 15;
    const int Y0 = 5;

    QPushButton* LoadButton = nullptr;
    QPushButton* ReviewButton = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* RepeatButton = nullptr;  // created, never placed, no action
    // Per row: edit number, clip name, source in, source out.
    std::array<std::array<QLineEdit*, 4>, NumRows> TFArray{};
    // Per row: ">" (take source in), "<" (take source out).
    std::array<std::array<QPushButton*, 2>, NumRows> ButArray{};
    QScrollBar* vsb = nullptr;
    // Column captions: created, never placed.
    QLabel* EditNum = nullptr;
    QLabel* TapeLabel = nullptr;
    QLabel* ClipLabel = nullptr;
    QLabel* SourceInLabel = nullptr;
    QLabel* SourceOutLabel = nullptr;
    QLabel* RecordInLabel = nullptr;
    QLabel* RecordOutLabel = nullptr;
    // Context menu of "Save EDL": "Export for editing software ..." with the
    // formats in ExportMenu (also shown by Ctrl+E).
    QMenu* SaveMenu = nullptr;
    QMenu* ExportMenu = nullptr;
    std::array<QAction*, 3> ExportActions{};  // CMX 3600, ALE, CSV

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void post(std::function<void()> job);
    // Ctrl+S, Ctrl+O, Ctrl+R for the three buttons; F9 / F10 mark in / out.
    void installShortcuts();

    GuiQueue& qt_;
    const std::shared_ptr<LoggerCore> core_;
    const std::shared_ptr<LoggerGUIRef> ref_ = std::make_shared<LoggerGUIRef>();
    Poster poster_;
    std::function<void()> onClose_;
    std::atomic<bool> refreshPending_{false};
    std::array<std::array<std::uint64_t, 4>, NumRows> applied_{};

    // The "Save EDL" context menu with the exports, and Ctrl+E.
    void buildExportMenu();
    // Shows the export formats at the "Save EDL" button (Ctrl+E).
    void showExportMenu();
};

}  // namespace morvia
