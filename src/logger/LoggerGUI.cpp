#include "logger/LoggerGUI.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QThread>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include <sys/eventfd.h>
#include <unistd.h>

#include "logger/LoggerWindow.h"
#include "logger/WindowKeys.h"
#include "logger/WidgetStack.h"

namespace morvia {
namespace {

bool onQtThread() {
    auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

// Runs jobs on the Qt thread, in order, from any thread. The jobs pass
// through our own locked queue; an eventfd watched by a QSocketNotifier wakes
// the Qt thread. One per application, a child of it, made on the Qt thread.
class QtThreadRunner : public QObject {
public:
    using Job = std::function<void()>;

    explicit QtThreadRunner(QObject* parent) : QObject(parent) {
        fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd_ >= 0) {
            notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
            QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { runPending(); });
        }
    }
    ~QtThreadRunner() override;
    QtThreadRunner(const QtThreadRunner&) = delete;
    QtThreadRunner& operator=(const QtThreadRunner&) = delete;

    bool usable() const { return fd_ >= 0; }

    void post(Job job) {
        {
            std::lock_guard g(lock_);
            jobs_.push_back(std::move(job));
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(fd_, &one, sizeof one);
    }

    // Drops what has not run (waiters see it as not run).
    void dropPending() {
        std::deque<Job> left;
        {
            std::lock_guard g(lock_);
            left.swap(jobs_);
        }
    }

private:
    void runPending() {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(fd_, &count, sizeof count);
        std::deque<Job> jobs;
        {
            std::lock_guard g(lock_);
            jobs.swap(jobs_);
        }
        while (!jobs.empty()) {
            Job job = std::move(jobs.front());
            jobs.pop_front();
            try {
                job();
            } catch (...) {
                // A job must not unwind into the event loop.
            }
        }
    }

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;  // child of this object
    std::mutex lock_;
    std::deque<Job> jobs_;
};

std::mutex& runnerLock() {
    static std::mutex m;
    return m;
}

QtThreadRunner*& currentRunner() {
    static QtThreadRunner* runner = nullptr;  // guarded by runnerLock()
    return runner;
}

QtThreadRunner::~QtThreadRunner() {
    {
        std::lock_guard g(runnerLock());
        if (currentRunner() == this) currentRunner() = nullptr;
    }
    dropPending();
    if (notifier_ != nullptr) notifier_->setEnabled(false);
    if (fd_ >= 0) ::close(fd_);
}

// On the Qt thread: makes the application's runner if it has none.
void ensureRunner() {
    auto* app = QCoreApplication::instance();
    if (app == nullptr || !onQtThread()) return;
    {
        std::lock_guard g(runnerLock());
        if (currentRunner() != nullptr) return;
    }
    auto* runner = new QtThreadRunner(app);  // owned by the application object
    if (!runner->usable()) {
        runner->deleteLater();
        return;
    }
    std::lock_guard g(runnerLock());
    currentRunner() = runner;
}

// Made when the application object is built, so that other threads find it.
void makeRunnerAtStartup() { ensureRunner(); }

// Queues a job for the Qt thread; false when there is no runner.
bool postToQtThread(std::function<void()> job) {
    std::lock_guard g(runnerLock());
    if (currentRunner() == nullptr) return false;
    currentRunner()->post(std::move(job));
    return true;
}

Q_COREAPP_STARTUP_FUNCTION(makeRunnerAtStartup)

} // namespace

bool runOnQtThread(const std::function<void()>& fn) {
    auto* app = QCoreApplication::instance();
    if (app == nullptr) return false;
    if (onQtThread()) {
        ensureRunner();
        fn();
        return true;
    }
    struct State {
        std::mutex lock;
        std::condition_variable cv;
        bool done = false;
        bool ran = false;
    };
    // Signals the waiter when the job is gone, run or dropped.
    struct Done {
        explicit Done(std::shared_ptr<State> s) : state(std::move(s)) {}
        Done(const Done&) = delete;
        Done& operator=(const Done&) = delete;
        ~Done() {
            std::lock_guard g(state->lock);
            state->done = true;
            state->cv.notify_all();
        }
        std::shared_ptr<State> state;
    };
    auto state = std::make_shared<State>();
    auto done = std::make_shared<Done>(state);
    const bool posted = postToQtThread([done, &fn] {
        fn();
        std::lock_guard g(done->state->lock);
        done->state->ran = true;
    });
    done.reset();
    if (!posted) {
        // No runner (not made at start-up): Qt's own blocking hand-over.
        return QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
    }
    std::unique_lock lk(state->lock);
    state->cv.wait(lk, [&] { return state->done; });
    return state->ran;
}

LoggerGUI::LoggerGUI(std::shared_ptr<LoggerCore> core, Poster poster, std::function<void()> onClose, QWidget* parent)
    : QWidget(parent), core_(std::move(core)), poster_(std::move(poster)), onClose_(std::move(onClose)) {
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
    QObject::connect(LoadButton, &QPushButton::clicked, this, [this, core_ptr] { post([core_ptr] { core_ptr->loadPressed(); }); });
    QObject::connect(ReviewButton, &QPushButton::clicked, this, [this, core_ptr] { post([core_ptr] { core_ptr->ReviewClip(); }); });
    QObject::connect(SaveButton, &QPushButton::clicked, this, [this, core_ptr] { post([core_ptr] { core_ptr->savePressed(); }); });

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
        QObject::connect(bt[0], &QPushButton::clicked, this, [this, core_ptr, r] { post([core_ptr, r] { core_ptr->takeIn(r); }); });
        QObject::connect(bt[1], &QPushButton::clicked, this, [this, core_ptr, r] { post([core_ptr, r] { core_ptr->takeOut(r); }); });
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
    QObject::connect(vsb, &QScrollBar::valueChanged, this, [this, core_ptr](int v) { post([core_ptr, v] { core_ptr->scrolled(v); }); });

    // Row texts come back from any thread as one queued refresh at a time.
    ensureRunner();
    ref_->widget = this;
    core_->setViewListener([this, ref = ref_] {
        // The window lives while this runs: its destructor clears the listener first.
        if (refreshPending_.exchange(true)) return;
        auto job = [ref] {
            if (ref->widget != nullptr) ref->widget->applyView();
        };
        if (!postToQtThread(job)) QMetaObject::invokeMethod(this, job, Qt::QueuedConnection);
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
    for (auto [button, key] : {std::pair{SaveButton, Qt::Key_S}, std::pair{LoadButton, Qt::Key_O},
                               std::pair{ReviewButton, Qt::Key_R}}) {
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

LoggerWindow::LoggerWindow(std::shared_ptr<LoggerCore> core, LoggerGUI* widget, std::shared_ptr<LoggerGUIRef> ref)
    : core_(std::move(core)), widget_(widget), ref_(std::move(ref)) {}

LoggerWindow::~LoggerWindow() {
    if (!ref_) return;
    // The Qt thread deletes the window once control returns to its event loop.
    auto job = [ref = ref_] {
        if (ref->widget != nullptr) ref->widget->deleteLater();
    };
    if (onQtThread()) {
        job();
    } else if (!postToQtThread(job)) {
        if (auto* app = QCoreApplication::instance()) QMetaObject::invokeMethod(app, job, Qt::QueuedConnection);
    }
}

std::shared_ptr<LoggerWindow> makeLoggerWindow(Display& display, std::function<void()> review, std::function<void()> onClose,
                                               Poster poster, FileDialogFn dialog) {
    const bool qtDialogs = !dialog;
    if (!dialog) dialog = qtFileDialog;
    auto core = std::make_shared<LoggerCore>(display, std::move(review), std::move(dialog));
    if (qtDialogs) core->setExportDialog(qtExportDialog);
    LoggerGUI* widget = nullptr;
    std::shared_ptr<LoggerGUIRef> ref;
    // A top-level window: owned by the returned handle, deleted through deleteLater.
    runOnQtThread([&] {
        widget = new LoggerGUI(core, std::move(poster), std::move(onClose));
        ref = widget->ref();
    });
    return std::make_shared<LoggerWindow>(core, widget, std::move(ref));
}

namespace {

std::string runFileDialog(const std::string& title, int loadOrSave, const std::string& presetName) {
    auto* app = QCoreApplication::instance();
    if (app == nullptr) return {};
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
    runOnQtThread(run);
    return result;
}

} // namespace

std::string qtFileDialog(const std::string& title, int loadOrSave) { return runFileDialog(title, loadOrSave, "EDL.txt"); }

std::string qtExportDialog(const std::string& title, const std::string& presetName) {
    return runFileDialog(title, 1, presetName);
}

} // namespace morvia
