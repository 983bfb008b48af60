// Window tests on Qt's offscreen platform.
#if __has_include(<QApplication>)

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <thread>

#include "loggerwindow/LoggerGUI.h"
#include "logger/LoggerTestUtil.h"
#include "loggerwindow/LoggerWindow.h"
#include "window/ActionQueue.h"
#include "window/GuiQueue.h"
#include "startup/Quenta.h"
#include "support/QtEnvironment.h"
#include "support/QtKeys.h"
#include "support/TestSupport.h"

using namespace morvia;
using morvia::test::Recorder;
using morvia::test::RecordingDisplay;

namespace {

// gtest owns registered environments.
::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new morvia::test::QtEnvironment("logger_tests"));

void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

void pressEnter(QLineEdit* field) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &press);
}

class LoggerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoggerModel::resetShared();
        Quenta::name = "Morvia";
    }
    void TearDown() override {
        handle.reset();
        settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        LoggerModel::resetShared();
    }
    // Listeners run at once on the Qt thread unless a poster is given.
    void open(Poster poster = {}) {
        handle = makeLoggerWindow(
            qt, display, [this] { rec->add("REVIEW"); }, [this] { closes.fetch_add(1); }, std::move(poster),
            [this](const std::string& title, int mode) {
                rec->add("DIALOG:" + title + ":" + std::to_string(mode));
                return chosen;
            });
        w = handle->widget();
        ASSERT_NE(w, nullptr);
    }
    std::string text(int r, int c) const { return w->TFArray[r][c]->text().toStdString(); }
    std::array<std::string, 4> row(int r) const { return {text(r, 0), text(r, 1), text(r, 2), text(r, 3)}; }

    GuiQueue qt;  // made on the Qt thread with the fixture; outlives the window
    std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
    RecordingDisplay display{rec};
    std::atomic<int> closes{0};
    std::string chosen;
    std::shared_ptr<LoggerWindow> handle;
    LoggerGUI* w = nullptr;
};

}  // namespace

TEST_F(LoggerWindowTest, GeometryAndCaptions) {
    open();
    EXPECT_EQ(w->windowTitle(), "DVD Logger");
    EXPECT_EQ(w->size(), QSize(480, 525));
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->font().family(), "Helvetica");
    EXPECT_EQ(w->font().pixelSize(), 15);
    EXPECT_FALSE(w->font().bold());
    EXPECT_FALSE(w->font().italic());
    EXPECT_EQ(w->palette().color(QPalette::Window), QColor(80, 150, 245));

    EXPECT_EQ(w->LoadButton->text(), "Load EDL");
    EXPECT_EQ(w->LoadButton->geometry(), QRect(5, 5, 96, 21));
    EXPECT_EQ(w->ReviewButton->text(), "Review");
    EXPECT_EQ(w->ReviewButton->geometry(), QRect(178, 5, 66, 21));
    EXPECT_EQ(w->SaveButton->text(), "Save EDL");
    EXPECT_EQ(w->SaveButton->geometry(), QRect(310, 5, 96, 21));

    for (int r : {0, 1, 19}) {
        const int y = 5 + (r + 1) * 23;
        EXPECT_EQ(w->TFArray[r][0]->geometry(), QRect(5, y, 34, 21)) << r;
        EXPECT_EQ(w->TFArray[r][1]->geometry(), QRect(43, y, 120, 21)) << r;
        EXPECT_EQ(w->ButArray[r][0]->geometry(), QRect(178, y, 19, 21)) << r;
        EXPECT_EQ(w->ButArray[r][0]->text(), ">");
        EXPECT_EQ(w->TFArray[r][2]->geometry(), QRect(199, y, 96, 21)) << r;
        EXPECT_EQ(w->ButArray[r][1]->geometry(), QRect(310, y, 19, 21)) << r;
        EXPECT_EQ(w->ButArray[r][1]->text(), "<");
        EXPECT_EQ(w->TFArray[r][3]->geometry(), QRect(331, y, 96, 21)) << r;
    }
    EXPECT_EQ(w->vsb->geometry(), QRect(442, 20, 20, 470));
    EXPECT_EQ(w->vsb->orientation(), Qt::Vertical);
    EXPECT_EQ(w->vsb->minimum(), 0);
    EXPECT_EQ(w->vsb->maximum(), 80);
    EXPECT_EQ(w->vsb->pageStep(), 20);
    EXPECT_EQ(w->vsb->value(), 0);

    // Only the clip name and times of row 0 are editable.
    EXPECT_TRUE(w->TFArray[0][0]->isReadOnly());
    for (int c = 1; c < 4; ++c) EXPECT_FALSE(w->TFArray[0][c]->isReadOnly()) << c;
    for (int r = 1; r < 20; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_TRUE(w->TFArray[r][c]->isReadOnly()) << r << "," << c;

    // Created, never placed.
    EXPECT_EQ(w->RepeatButton->text(), "Repeat");
    EXPECT_FALSE(w->RepeatButton->isVisible());
    const std::vector<std::pair<QLabel*, const char*>> labels = {
        {w->EditNum, "Edit #"},           {w->TapeLabel, "Tape Name"},       {w->ClipLabel, "Clip Name"},
        {w->SourceInLabel, "Source In"},  {w->SourceOutLabel, "Source Out"}, {w->RecordInLabel, "Record In"},
        {w->RecordOutLabel, "Record Out"}};
    for (const auto& [label, caption] : labels) {
        EXPECT_EQ(label->text(), caption);
        EXPECT_FALSE(label->isVisible()) << caption;
    }

    EXPECT_EQ(row(0), (std::array<std::string, 4>{"1", "Clip Name 1", "00:00:00:00", "00:00:00:00"}));
    EXPECT_EQ(text(19, 0), "20");
    // The pixel-sized font leaves the timecode room in its field.
    EXPECT_LT(QFontMetrics(w->TFArray[0][2]->font()).horizontalAdvance("00:00:00:00"), 90);
}

TEST_F(LoggerWindowTest, ScrollShowsLaterEntriesAndMarksFillRows) {
    open();
    w->vsb->setValue(80);
    settle();
    EXPECT_EQ(text(0, 0), "81");
    EXPECT_EQ(row(19), (std::array<std::string, 4>{"100", "Clip Name 100", "00:00:00:00", "00:00:00:00"}));
    EXPECT_EQ(LoggerModel::getvsbval(), 80);

    w->vsb->setValue(0);
    display.set(Field::tcfield, "00:01:00:00");
    w->setin();
    display.set(Field::tcfield, "00:01:04:00");
    handle->setout();
    display.set(Field::tcfield, "00:02:00:00");
    handle->setin();
    display.set(Field::tcfield, "00:02:04:00");
    handle->setout();
    settle();
    EXPECT_EQ(row(0), (std::array<std::string, 4>{"1", "Clip Name 1", "00:01:00:00", "00:01:04:00"}));
    EXPECT_EQ(row(1), (std::array<std::string, 4>{"2", "Clip Name 2", "00:02:00:00", "00:02:04:00"}));

    // At vsbval 80 with offset 20 nothing is stored.
    w->vsb->setValue(80);
    for (int i = 0; i < 20; ++i) {
        handle->setin();
        handle->setout();
    }
    settle();
    const auto before = handle->core().model().snapshot();
    display.set(Field::tcfield, "09:09:09:09");
    handle->setin();
    handle->setout();
    settle();
    EXPECT_EQ(handle->core().model().snapshot().SrcInArray, before.SrcInArray);
    EXPECT_EQ(handle->core().model().snapshot().SrcOutArray, before.SrcOutArray);
    EXPECT_EQ(text(19, 2), "00:02:04:00");
}

TEST_F(LoggerWindowTest, ReviewUsesTheTopRow) {
    open();
    display.set(Field::tcfield, "00:00:01:00");
    handle->setin();
    display.set(Field::tcfield, "00:00:02:00");
    handle->setout();
    display.set(Field::tcfield, "00:00:03:00");
    handle->setin();
    handle->setout();
    rec->clear();
    w->ReviewButton->click();
    EXPECT_EQ(rec->events(), (test::Journal{"F:cuefield=00:00:01:00", "F:endfield=00:00:02:00", "REVIEW"}));
}

TEST_F(LoggerWindowTest, LoadWhileScrolledShowsTheFirstEntries) {
    test::TempDir dir;
    chosen = dir.file("EDL.txt");
    EdlEntries e = EdlEntries::initial();
    e.ClipNameArray[0] = "Opening";
    e.SrcInArray[0] = "00:00:10:00";
    e.SrcOutArray[0] = "00:00:20:00";
    {
        test::ConsoleCapture quiet;
        ASSERT_TRUE(SaveEDL(chosen, "Morvia", e));
    }
    open();
    w->vsb->setValue(40);
    settle();
    EXPECT_EQ(text(0, 0), "41");
    {
        test::ConsoleCapture quiet;
        w->LoadButton->click();
    }
    settle();
    EXPECT_EQ(rec->only("DIALOG:"), (std::vector<std::string>{"Load Standard EDL:0"}));
    EXPECT_EQ(row(0), (std::array<std::string, 4>{"1", "Openin  ", "00:00:10:00", "00:00:20:00"}));
    EXPECT_EQ(text(19, 0), "20");
    EXPECT_EQ(w->vsb->value(), 40);
    // The row buttons still write to entry 40 + r.
    display.set(Field::tcfield, "00:00:30:00");
    w->ButArray[0][0]->click();
    w->ButArray[2][1]->click();
    settle();
    const auto snap = handle->core().model().snapshot();
    EXPECT_EQ(snap.SrcInArray[40], "00:00:30:00");
    EXPECT_EQ(snap.SrcOutArray[42], "00:00:30:00");
    EXPECT_EQ(snap.SrcInArray[0], "00:00:10:00");
    EXPECT_EQ(text(0, 2), "00:00:30:00");
}

TEST_F(LoggerWindowTest, EightBitNamesLoadAsTheyWereWritten) {
    // The file holds ISO 8859-1 bytes; the window shows the characters.
    test::TempDir dir;
    chosen = dir.file("EDL.txt");
    test::writeFile(chosen,
                    "TITLE: x\r\nREM\r\nFCM: NON-DROP FRAME\r\n001  Cr\xE8me    AA/V  C         "
                    "00:00:10:00  00:00:20:00  00:00:00:00  00:00:00:00\r\n");
    open();
    {
        test::ConsoleCapture quiet;
        w->LoadButton->click();
    }
    settle();
    EXPECT_EQ(w->TFArray[0][1]->text(), QString::fromUtf8("Cr\u00E8me   "));
}

TEST_F(LoggerWindowTest, RowZeroEditsAndTypingSurvivesOtherUpdates) {
    open();
    w->vsb->setValue(7);
    settle();
    test::ConsoleCapture console;
    w->TFArray[0][1]->setText("Intro");
    pressEnter(w->TFArray[0][1]);
    w->TFArray[0][3]->setText("00:00:08:00");
    pressEnter(w->TFArray[0][3]);
    auto snap = handle->core().model().snapshot();
    EXPECT_EQ(snap.ClipNameArray[7], "Intro");
    EXPECT_EQ(snap.SrcOutArray[7], "00:00:08:00");
    EXPECT_EQ(console.lines(), (std::vector<std::string>{"Intro"}));

    // Half-typed text in one field is not overwritten by a mark in another.
    w->TFArray[0][1]->setText("Half typ");
    display.set(Field::tcfield, "00:00:09:00");
    handle->setin();
    settle();
    EXPECT_EQ(text(0, 1), "Half typ");
    EXPECT_EQ(text(0, 2), "00:00:09:00");
    EXPECT_EQ(handle->core().model().snapshot().ClipNameArray[7], "Intro");
}

TEST_F(LoggerWindowTest, ClosingCallsBackAndTheHandleDeletesTheWindow) {
    open();
    QPointer<LoggerGUI> guard(w);
    w->close();
    EXPECT_EQ(closes.load(), 1);
    EXPECT_FALSE(w->isVisible());
    handle.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
}

TEST_F(LoggerWindowTest, ExportsFromTheSaveButtonsMenuAndCtrlE) {
    test::TempDir dir;
    open();
    const QRect saveGeometry = w->SaveButton->geometry();
    // The context menu of "Save EDL" holds the export submenu with the formats.
    ASSERT_EQ(w->SaveMenu->actions().size(), 1);
    EXPECT_EQ(w->SaveMenu->actions()[0]->text(), "Export for editing software ...");
    EXPECT_EQ(w->SaveMenu->actions()[0]->menu(), w->ExportMenu);
    QStringList labels;
    for (QAction* a : w->ExportMenu->actions()) labels << a->text();
    EXPECT_EQ(labels,
              (QStringList{"CMX 3600 EDL (.edl) ...", "Avid Log Exchange (.ale) ...", "CSV batch list (.csv) ..."}));
    EXPECT_EQ(w->SaveButton->contextMenuPolicy(), Qt::CustomContextMenu);
    emit w->SaveButton->customContextMenuRequested(QPoint(3, 3));
    EXPECT_TRUE(w->SaveMenu->isVisible());
    w->SaveMenu->hide();
    // Ctrl+E shows the formats at the button.
    test::tapKey(w, Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(w->ExportMenu->isVisible());
    w->ExportMenu->hide();
    EXPECT_EQ(w->SaveButton->geometry(), saveGeometry);

    // Two clips: one logged, one reversed (left out, named on the console).
    display.set(Field::tcfield, "00:00:10:00");
    w->ButArray[0][0]->click();
    display.set(Field::tcfield, "00:00:12:00");
    w->ButArray[0][1]->click();
    display.set(Field::tcfield, "00:00:20:00");
    w->ButArray[1][0]->click();
    display.set(Field::tcfield, "00:00:15:00");
    w->ButArray[1][1]->click();
    settle();
    const EdlEntries entries = handle->core().model().snapshot();

    // A name without a suffix gets the format's suffix.
    chosen = dir.file("cut");
    test::ConsoleCapture console;
    w->ExportActions[0]->trigger();
    settle();
    EXPECT_EQ(rec->only("DIALOG:"), (std::vector<std::string>{"Export for Editing Software: CMX 3600 EDL:1"}));
    edlexport::Options o;
    o.title = "cut";
    const std::string cmx = test::readFile(dir.file("cut.edl"));
    EXPECT_EQ(cmx, edlexport::exportEvents(edlexport::listedEvents(entries), o).text);
    EXPECT_NE(cmx.find("001  ClipName AA/V  C        00:00:10:00 00:00:12:00 01:00:00:00 01:00:02:00\r\n"),
              std::string::npos);
    EXPECT_EQ(console.lines(),
              (std::vector<std::string>{"event 002 (\"Clip Name 2\") left out: source out 00:00:15:00 is "
                                        "not after source in 00:00:20:00"}));
    chosen = dir.file("batch.csv");
    w->ExportActions[2]->trigger();
    settle();
    EXPECT_EQ(
        test::readFile(dir.file("batch.csv")).rfind("Tape Name,In,Out,Clip Name,Comment\r\nClipName,00:00:10:00,", 0),
        0u);
    // Cancelled: nothing written.
    chosen.clear();
    w->ExportActions[1]->trigger();
    settle();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST_F(LoggerWindowTest, MarksFromAnotherThreadWhileTheScrollBarMoves) {
    test::ConsoleCapture quiet;
    ActionQueue actions;
    actions.start();
    open([&actions](std::function<void()> job) { actions.post(std::move(job)); });
    display.set(Field::tcfield, "00:00:05:00");
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread editPort([&] {
        while (!stop.load()) {
            handle->setin();
            handle->setout();
            rounds.fetch_add(1);
        }
    });
    for (int i = 0; i < 300 || rounds.load() < 100; ++i) {
        w->vsb->setValue((i * 7) % 81);
        w->ButArray[i % 20][i % 2]->click();
        QCoreApplication::processEvents();
    }
    stop.store(true);
    editPort.join();
    w->vsb->setValue(33);
    actions.drain();
    settle();
    // The rows show exactly what the model says.
    const auto view = handle->core().model().view();
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(text(r, c), view[r][c].text) << r << "," << c;
    EXPECT_EQ(text(0, 0), "34");
    EXPECT_EQ(closes.load(), 0);
    actions.stop();
}

TEST_F(LoggerWindowTest, WindowIsBuiltOnTheQtThreadWhenOpenedFromAnother) {
    std::atomic<bool> done{false};
    std::thread opener([&] {
        open();
        done.store(true);
    });
    while (!done.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    opener.join();
    EXPECT_EQ(w->thread(), QCoreApplication::instance()->thread());
    EXPECT_TRUE(w->isVisible());
    // Dropping the handle on another thread still deletes the window on the Qt thread.
    QPointer<LoggerGUI> guard(w);
    std::thread closer([&] { handle.reset(); });
    closer.join();
    settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
}

TEST_F(LoggerWindowTest, KeysSaveLoadReviewAndMark) {
    test::ConsoleCapture quiet;  // setin prints the entry number
    open();
    EXPECT_EQ(w->focusWidget(), w);
    display.set(Field::tcfield, "00:00:01:00");
    test::tapKey(w, Qt::Key_F9);
    display.set(Field::tcfield, "00:00:02:00");
    test::tapKey(w, Qt::Key_F10);
    test::tapKey(w, Qt::Key_F9, Qt::NoModifier, 3);  // held: one mark, into the next row
    settle();
    EXPECT_EQ(row(0), (std::array<std::string, 4>{"1", "Clip Name 1", "00:00:01:00", "00:00:02:00"}));
    EXPECT_EQ(row(1), (std::array<std::string, 4>{"2", "Clip Name 2", "00:00:02:00", "00:00:00:00"}));
    EXPECT_EQ(row(2)[2], "00:00:00:00");

    rec->clear();
    test::tapKey(w, Qt::Key_S, Qt::ControlModifier);
    test::tapKey(w, Qt::Key_O, Qt::ControlModifier);
    test::tapKey(w, Qt::Key_R, Qt::ControlModifier);
    test::tapKey(w, Qt::Key_S);  // without Ctrl: nothing
    EXPECT_EQ(rec->events(), (test::Journal{"DIALOG:Save Standard EDL:1", "DIALOG:Load Standard EDL:0",
                                            "F:cuefield=00:00:01:00", "F:endfield=00:00:02:00", "REVIEW"}));
    EXPECT_EQ(w->SaveButton->toolTip(), "Key: Ctrl+S");
    EXPECT_EQ(w->LoadButton->toolTip(), "Key: Ctrl+O");
    EXPECT_EQ(w->ReviewButton->toolTip(), "Key: Ctrl+R");
}

TEST_F(LoggerWindowTest, TypingInRowZeroKeepsTheKeysUntilEscape) {
    test::ConsoleCapture quiet;
    open();
    display.set(Field::tcfield, "00:00:03:00");
    for (int c = 1; c < 4; ++c) {
        SCOPED_TRACE(c);
        QLineEdit* f = w->TFArray[0][static_cast<std::size_t>(c)];
        f->setFocus();
        f->selectAll();
        rec->clear();
        test::tapKey(w, Qt::Key_S);
        test::tapKey(w, Qt::Key_R);
        test::tapKey(w, Qt::Key_S, Qt::ControlModifier);
        test::tapKey(w, Qt::Key_F9);
        test::tapKey(w, Qt::Key_F10);
        settle();
        EXPECT_EQ(f->text(), "sr");
        EXPECT_TRUE(rec->events().empty());
        const auto snap = handle->core().model().snapshot();
        EXPECT_EQ(snap.SrcInArray[0], "00:00:00:00");
        EXPECT_EQ(snap.SrcOutArray[0], "00:00:00:00");
        test::tapKey(w, Qt::Key_Escape);
        EXPECT_EQ(w->focusWidget(), w);
    }
    test::tapKey(w, Qt::Key_F9);
    EXPECT_EQ(handle->core().model().snapshot().SrcInArray[0], "00:00:03:00");
}

TEST(LoggerFileDialog, TitleModeAndPresetName) {
    struct Seen {
        QString title;
        QFileDialog::AcceptMode mode{};
        QString dir;
        QStringList selected;
    } seen;
    bool accept = true;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (fd == nullptr) return;
        seen = {fd->windowTitle(), fd->acceptMode(), fd->directory().absolutePath(), fd->selectedFiles()};
        QDialog* dialog = fd;  // accept() is public on QDialog
        if (accept) dialog->accept();
        else dialog->reject();
    });
    poll.start(10);
    GuiQueue qt;
    EXPECT_EQ(qtFileDialog(qt, "Save Standard EDL", 1), "/EDL.txt");
    EXPECT_EQ(seen.title, "Save Standard EDL");
    EXPECT_EQ(seen.mode, QFileDialog::AcceptSave);
    EXPECT_EQ(seen.dir, "/");
    EXPECT_EQ(seen.selected, QStringList{"/EDL.txt"});
    EXPECT_EQ(qtExportDialog(qt, "Export", "EDL.ale"), "/EDL.ale");
    EXPECT_EQ(seen.mode, QFileDialog::AcceptSave);
    EXPECT_EQ(seen.selected, QStringList{"/EDL.ale"});
    accept = false;
    EXPECT_EQ(qtFileDialog(qt, "Load Standard EDL", 0), "");
    EXPECT_EQ(seen.title, "Load Standard EDL");
    EXPECT_EQ(seen.mode, QFileDialog::AcceptOpen);
}

#endif
