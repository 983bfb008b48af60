// The operator's main window: timecode, in and out points, title and
// chapter, status line, transport/cue/jog buttons, shuttle bar and the
// logger button, all placed at fixed positions. Its controls are the rows of
// WindowControls.h; the texts are a FieldTexts model and the highlight bars a
// HighlightLayer.
//
// Threads: the window is built and lives on the Qt thread. The display
// operations may be called from any thread: each one updates the window's
// model (field texts, highlight layer, button states) under a lock at once
// and hands the widget update to the Qt thread through a GuiQueue, in call
// order; gettext reads the model. Every listener (button, Enter, shuttle,
// close) is run on the action thread, in the order the operator acted, so a
// long cue or review never stops the window from painting. Only a Stop click
// and the close raise the controller's stop request on the Qt thread first,
// so that they reach a repeat or script that holds the action thread.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/Display.h"
#include "ui/FieldTexts.h"
#include "ui/HighlightLayer.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace morvia {

class ActionQueue;
class GuiQueue;
class LocalVCR;
struct ControlRow;

class LocalGUI : public QWidget, public Display {
    Q_OBJECT
public:
    // --- grid and look ---
    static constexpr int dx = 60;                      // grid column
    static constexpr int dy = 24;                      // control height
    static constexpr int TCfontheight = 18;            // pixel size of the timecode fields
    static constexpr QRgb backgroundcol = 0xFF5AAAFA;  // RGB(90, 170, 250)
    static constexpr QRgb tccolor = 0xFFFA5050;        // RGB(250, 80, 80)
    static constexpr QRgb red = 0xFFFF0000;
    static constexpr const char* FCMString = ":";
    static constexpr const char* CueString = "00:00:00:00";
    static constexpr const char* EndString = "00:00:10:00";
    static constexpr const char* TCString = "00:00:00:00";
    static constexpr const char* OSString = "00:00:00:00";
    static constexpr const char* PRString = "00:00:00:00";
    // Rows of the grid (y of the top of each row in the client area).
    static constexpr int C0 = 5;
    static constexpr int Y0 = 5, Y1 = Y0 + 28, Y2 = Y1 + 28, Y3 = Y2 + 28, Y4 = Y3 + 30, Y5 = Y4 + 28;
    static constexpr int YLogger = Y5 + 29, Y6 = Y5 + 56, Y7 = Y6 + 28;
    static constexpr int height = Y7 + dy + 8;  // 263

    // Builds the window (hidden) on the calling thread, which must be the Qt
    // thread. Its width is the application's width setting; the title and the
    // note shown in the top label are set with setIdentity.
    explicit LocalGUI(ActionQueue& actions, QWidget* parent = nullptr);
    ~LocalGUI() override;
    LocalGUI(const LocalGUI&) = delete;
    LocalGUI& operator=(const LocalGUI&) = delete;

    // The controller the listeners act on; null until start-up has built it.
    // Actions that arrive while it is null are ignored (a close ends the
    // process at once).
    void setController(LocalVCR* vcr);
    LocalVCR* controller() const { return vcr_.load(); }
    // What the window's close runs first, before the controller's closing
    // stops (the App ends its network listeners there). Set it before the
    // window is shown; it runs on the action thread (or the Qt thread when
    // the event loop returns).
    void setBeforeClosing(std::function<void()> fn) { beforeClosing_ = std::move(fn); }

    // Called by windowClosing once the controller's close is done, just
    // before the process ends (the App ends its session log there). Set it
    // before the window is shown.
    void setClosedHook(std::function<void()> hook) { closedHook_ = std::move(hook); }

    // Window title and the note after "DVD Controls ". Any thread.
    void setIdentity(const std::string& title, const std::string& note);

    GuiQueue& guiQueue() { return *queue_; }
    ActionQueue& actions() { return actions_; }

    // --- display operations (any thread) ---
    void TCIndicate(bool ok) override;
    void hilightinout(bool in, bool out) override;
    void hilight(Control c) override;
    void clearbuttons() override;
    void settcfield(const std::string& text, Field f) override;
    std::string gettext(Field f) const override;
    void ShowIP(const std::string& address) override;
    void ShowTC(const std::string& tc) override;
    void ShowStatus(const std::string& s) override;
    void ShowPlay(bool on) override;
    void EnableConnect(bool on) override;
    void setFieldBackground(Field f, Shade shade) override;
    void EnableLogger(bool on) override;
    void setClipboard(const std::string& text) override;

    // The window's own in/out point setting: the text shown in tcfield
    // becomes the in point (out point), then the controller re-validates.
    void setcue();
    void setreview();

    // --- listeners; each runs on the action thread (checked: a call from any
    // other thread ends the process with a message), except windowClosing,
    // which the Qt thread also calls when the event loop returns ---
    // Shared command listener: status line, verbose echo, dispatch.
    void actionPerformed(const std::string& command);
    void inPointEntered(const std::string& text);
    void outPointEntered(const std::string& text);
    void titleEntered(const std::string& text);
    void chapterEntered(const std::string& text);
    void shuttleChanged(int value);
    void loggerPressed();
    void windowClosing();

    // The action commands of the window's buttons, in table order.
    static const std::vector<std::string>& actionCommands();

    // --- inspection (tests, screenshots) ---
    // Any component by its field name ("bplay", "tcfield", "vsb", ...),
    // placed or not; null for an unknown name.
    QWidget* component(const QString& name) const;
    // Copy of the highlight layer (any thread).
    QImage paintLayer() const;
    // Where a control's highlight bar goes: its rectangle in the window.
    static QRect controlRect(Control c);
    static QRect fieldRect(Field f);
    bool loggerEnabled() const { return loggerEnabled_.load(); }
    int vsbval() const { return vsbval_.load(); }
    // Calls fn with every text a display operation or the operator gives a
    // field, on the thread that gave it (tests watch passing texts with it).
    void observeTexts(std::function<void(Field, const std::string&)> fn);
    // Qt thread: applies every pending display update now.
    void applyPending();
    // Qt thread: presses the button with this action command, as a click.
    void press(const std::string& command);

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    // One component of the table: made, named and wired.
    QWidget* make(const ControlRow& row);
    QWidget* makeButton(const ControlRow& row, QWidget* parent);
    QWidget* makeField(const ControlRow& row, QWidget* parent);
    QWidget* makeShuttle(QWidget* parent);
    void fill(const QRect& r, QRgb colour);
    void repaintLayer();
    void refreshField(Field f);
    // The keys and tooltips of the table's buttons.
    void installShortcuts();
    // Raises the controller's stop request on the Qt thread for a "Stop"
    // action, ahead of the action itself; other commands pass untouched.
    void requestStopAhead(const std::string& command);
    // Every listener's start: runs `body` on the controller, on the action
    // thread only (checked), and not at all before start-up built it.
    template <class Body>
    void listen(Body&& body);

    ActionQueue& actions_;
    GuiQueue* queue_ = nullptr;  // child of this window
    std::atomic<LocalVCR*> vcr_{nullptr};
    std::atomic<int> vsbval_{48};
    std::atomic<bool> loggerEnabled_{true};
    std::atomic<bool> closing_{false};
    std::function<void()> beforeClosing_;  // set before the window is shown, read-only afterwards
    std::function<void()> closedHook_;  // the same
    int width_;

    // Shared with other threads.
    FieldTexts texts_;
    HighlightLayer layer_;

    // Widgets (Qt thread only after construction).
    std::array<QLineEdit*, 9> fields_{};
    QLabel* vcrlabel = nullptr;
    QPushButton* blogger = nullptr;
    QPushButton* bconnect = nullptr;
    std::vector<std::unique_ptr<QWidget>> notAdded_;  // created, never on the window
};

}  // namespace morvia
