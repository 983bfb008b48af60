#include "loggerwindow/LoggerGUI.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>

#include <future>

#include "loggerwindow/LoggerWindow.h"
#include "window/GuiQueue.h"
#include "window/WindowKeys.h"
#include "window/WidgetStack.h"

namespace morvia {

LoggerGUI::LoggerGUI(GuiQueue& qt, std::shared_ptr<LoggerCore> core, Poster poster, std::function<void()> onClose,
                     QWidget* parent)
    : QWidget(parent), qt_(qt), core_(std::move(core)), poster_(std::move(poster)), onClose_(std::move(onClose)) {
    // Header buttons; the column captions and "Repeat" exist but are not
    // placed.
    LoadButton = new QPushButton(QStringLiteral("Load EDL"), this);
    ReviewButton = new QPushButton(QStringLiteral("Review"), this);
    SaveButton = new QPushButton(QStringLiteral("Save EDL"), this);
    RepeatButton = new QPushButton(QStringLiteral("Repeat"), this);
    RepeatButton->setVisible(false);
    auto hiddenLabel = [this](const char* text) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setVisible(false);
        return l;
    };
    EditNum = hiddenLabel("Edit #");
    TapeLabel = hiddenLabel("Tape Name");
    ClipLabel = hiddenLabel("Clip Name");
    SourceInLabel = hiddenLabel("Source In");
    SourceOutLabel = hiddenLabel("Source Out");
    RecordInLabel = hiddenLabel("Record In");
    RecordOutLabel = hiddenLabel("Record Out");

    resize(GUIwidth, GUIheight);
    setWindowTitle(QStringLiteral("DVD Logger"));
    QFont f(QStringLiteral("Helvetica"));
    f.setPixelSize(fontheight);
    f.setWeight(QFont::Normal);
    f.setStyle(QFont::StyleNormal);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, backgroundcol);
    setPalette(pal);
    setAutoFillBackground(true);

    LoadButton->setGeometry(X0, Y0, loadsavewidth, dy);
    ReviewButton->setGeometry(X2, Y0, loadsavewidth - 30, dy);
    SaveButton->setGeometry(X4, Y0, loadsavewidth, dy);
    auto core_ptr = core_;
    QObject::connect(LoadButton, &QPushButton::clicked, this,
                     [this, core_ptr] { post([core_ptr] { core_ptr->loadPressed(); }); });
    QObject::connect(ReviewButton, &QPushButton::clicked, this,
                     [this, core_ptr] { post([core_ptr] { core_ptr->ReviewClip(); }); });
    QObject::connect(SaveButton, &QPushButton::clicked, this,
                     [this, core_ptr] { post([core_ptr] { core_ptr->savePressed(); }); });

    const int x[] = {X0, X1, X3, X5};
    const int w[] = {editnumwidth, clipnamewidth, timecodewidth, timecodewidth};
    for (int r = 0; r < NumRows; ++r) {
        const int y = Y0 + (r + 1) * vspace;
        auto& tf = TFArray[static_cast<std::size_t>(r)];
        auto& bt = ButArray[static_cast<std::size_t>(r)];
        // Created in the order the operator tabs through them.
        tf[0] = new QLineEdit(this);
        tf[1] = new QLineEdit(this);
        bt[0] = new QPushButton(QStringLiteral(">"), this);
        tf[2] = new QLineEdit(this);
        bt[1] = new QPushButton(QStringLiteral("<"), this);
        tf[3] = new QLineEdit(this);
        for (int c = 0; c < 4; ++c) {
            tf[static_cast<std::size_t>(c)]->setReadOnly(true);
            tf[static_cast<std::size_t>(c)]->setGeometry(x[c], y, w[c], dy);
        }
        bt[0]->setGeometry(X2, y, buttonwidth, dy);
        bt[1]->setGeometry(X4, y, buttonwidth, dy);
        QObject::connect(bt[0], &QPushButton::clicked, this,
                         [this, core_ptr, r] { post([core_ptr, r] { core_ptr->takeIn(r); }); });
        QObject::connect(bt[1], &QPushButton::clicked, this,
                         [this, core_ptr, r] { post([core_ptr, r] { core_ptr->takeOut(r); }); });
    }

    // Only row 0 is editable: Enter stores the text in entry vsbval.
    auto& row0 = TFArray[0];
    for (int c = 1; c < 4; ++c) row0[static_cast<std::size_t>(c)]->setReadOnly(false);
    QObject::connect(row0[1], &QLineEdit::returnPressed, this, [this, core_ptr] {
        post([core_ptr, t = TFArray[0][1]->text().toStdString()] { core_ptr->nameEntered(t); });
    });
    QObject::connect(row0[2], &QLineEdit::returnPressed, this, [this, core_ptr] {
        post([core_ptr, t = TFArray[0][2]->text().toStdString()] { core_ptr->inTimeEntered(t); });
    });
    QObject::connect(row0[3], &QLineEdit::returnPressed, this, [this, core_ptr] {
        post([core_ptr, t = TFArray[0][3]->text().toStdString()] { core_ptr->outTimeEntered(t); });
    });

    // Values 0..80: the top row shows entries 0 to 80.
    vsb = new QScrollBar(Qt::Vertical, this);
    vsb->setRange(0, LoggerModel::MaxTop);
    vsb->setPageStep(NumRows);
    vsb->setValue(0);
    vsb->setGeometry(X6, 20, 20, GUIheight - 55);
    QObject::connect(vsb, &QScrollBar::valueChanged, this,
                     [this, core_ptr](int v) { post([core_ptr, v] { core_ptr->scrolled(v); }); });

    // Row texts come back from any thread as one queued refresh at a time.
    ref_->widget = this;
    core_->setViewListener([this, ref = ref_] {
        // The window lives while this runs: its destructor clears the listener first.
        if (refreshPending_.exchange(true)) return;
        qt_.post([ref] {
            if (ref->widget != nullptr) ref->widget->applyView();
        });
    });
    buildExportMenu();
    core_->ReState(0);
    applyView();
    // Where bounds overlap, the component added first is on top.
    stackFirstAddedOnTop(*this);
    installShortcuts();
    show();
}

void LoggerGUI::installShortcuts() {
    auto* keys = new WindowKeys(this);  // child of this window
    for (auto [button, key] :
         {std::pair{SaveButton, Qt::Key_S}, std::pair{LoadButton, Qt::Key_O}, std::pair{ReviewButton, Qt::Key_R}}) {
        keys->bind(key, Qt::ControlModifier, false, [b = button] { b->click(); });
        button->setToolTip(QStringLiteral("Key: ") + WindowKeys::name(key, Qt::ControlModifier));
    }
    keys->bind(Qt::Key_E, Qt::ControlModifier, false, [this] { showExportMenu(); });
    // The edit controller's marks: the current timecode into the logging row.
    auto core_ptr = core_;
    keys->bind(Qt::Key_F9, Qt::NoModifier, false, [this, core_ptr] { post([core_ptr] { core_ptr->setin(); }); });
    keys->bind(Qt::Key_F10, Qt::NoModifier, false, [this, core_ptr] { post([core_ptr] { core_ptr->setout(); }); });
    keys->watch();
}

LoggerGUI::~LoggerGUI() {
    // After this no refresh is posted; queued ones find the window gone.
    core_->setViewListener(nullptr);
    ref_->widget = nullptr;
}

void LoggerGUI::post(std::function<void()> job) {
    if (poster_) {
        poster_(std::move(job));
    } else {
        job();
    }
}

void LoggerGUI::applyView() {
    refreshPending_.store(false);
    const LoggerModel::View view = core_->model().view();
    for (std::size_t r = 0; r < view.size(); ++r) {
        for (std::size_t c = 0; c < 4; ++c) {
            const auto& cell = view[r][c];
            if (cell.version == applied_[r][c]) continue;
            applied_[r][c] = cell.version;
            QLineEdit* field = TFArray[r][c];
            field->setText(QString::fromStdString(cell.text));
            field->setCursorPosition(0);
        }
    }
}

void LoggerGUI::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClose_) post(onClose_);
}

// --- handle and factory ---

LoggerWindow::LoggerWindow(GuiQueue& qt, std::shared_ptr<LoggerCore> core, LoggerGUI* widget,
                           std::shared_ptr<LoggerGUIRef> ref)
    : qt_(qt), core_(std::move(core)), widget_(widget), ref_(std::move(ref)) {}

LoggerWindow::~LoggerWindow() {
    if (!ref_) return;
    // The Qt thread deletes the window once control returns to its event loop.
    auto job = [ref = ref_] {
        if (ref->widget != nullptr) ref->widget->deleteLater();
    };
    if (qt_.onGuiThread()) {
        job();
    } else {
        qt_.post(std::move(job));
    }
}

std::shared_ptr<LoggerWindow> makeLoggerWindow(GuiQueue& qt, Display& display, std::function<void()> review,
                                               std::function<void()> onClose, Poster poster, FileDialogFn dialog) {
    const bool qtDialogs = !dialog;
    if (!dialog)
        dialog = [&qt](const std::string& title, int loadOrSave) { return qtFileDialog(qt, title, loadOrSave); };
    auto core = std::make_shared<LoggerCore>(display, std::move(review), std::move(dialog));
    if (qtDialogs) {
        core->setExportDialog([&qt](const std::string& title, const std::string& presetName) {
            return qtExportDialog(qt, title, presetName);
        });
    }
    // A top-level window: owned by the returned handle, deleted through deleteLater.
    LoggerGUI* widget = qt.call([&] { return new LoggerGUI(qt, core, std::move(poster), std::move(onClose)); });
    return std::make_shared<LoggerWindow>(qt, core, widget, widget->ref());
}

namespace {

std::string runFileDialog(GuiQueue& qt, const std::string& title, int loadOrSave, const std::string& presetName) {
    std::string result;
    auto run = [&] {
        // No parent: a dialog of its own, modal for the application.
        QFileDialog fd(nullptr, QString::fromStdString(title));
        fd.setModal(true);
        fd.setAcceptMode(loadOrSave == 0 ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        fd.setFileMode(loadOrSave == 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        fd.setDirectory(QStringLiteral("/"));
        fd.selectFile(QString::fromStdString(presetName));
        if (fd.exec() == QDialog::Accepted) {
            const QStringList files = fd.selectedFiles();
            if (!files.isEmpty()) result = files.first().toStdString();
        }
    };
    try {
        qt.call(run);
    } catch (const std::future_error&) {
        // The Qt thread's queue went away before the dialog ran: nothing chosen.
        return {};
    }
    return result;
}

}  // namespace

std::string qtFileDialog(GuiQueue& qt, const std::string& title, int loadOrSave) {
    return runFileDialog(qt, title, loadOrSave, "EDL.txt");
}

std::string qtExportDialog(GuiQueue& qt, const std::string& title, const std::string& presetName) {
    return runFileDialog(qt, title, 1, presetName);
}

}  // namespace morvia
