#include "ui/LocalGUI.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPaintEvent>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <string_view>

#include "window/WidgetStack.h"
#include "window/WindowKeys.h"
#include "player/LocalVCR.h"
#include "player/StatusText.h"
#include "remote/ScriptRunner.h"
#include "window/ActionQueue.h"
#include "startup/Quenta.h"
#include "startup/Utils.h"
#include "startup/Require.h"
#include "window/GuiQueue.h"

namespace morvia {
namespace {

constexpr int C(int k) { return LocalGUI::C0 + k * LocalGUI::dx; }

int index(Field f) { return static_cast<int>(f); }

QColor shadeColour(Shade s) {
    switch (s) {
        case Shade::background: return QColor::fromRgb(LocalGUI::backgroundcol);
        case Shade::grey: return QColor(128, 128, 128);
        case Shade::lightgrey: return QColor(192, 192, 192);
        case Shade::darkgrey: return QColor(64, 64, 64);
    }
    return QColor::fromRgb(LocalGUI::backgroundcol);
}

void setRole(QWidget* w, QPalette::ColorRole role, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(role, c);
    w->setPalette(p);
}

QFont helvetica(int pixels) {
    QFont f(QStringLiteral("Helvetica"));
    f.setStyleHint(QFont::Helvetica);
    f.setPixelSize(pixels);
    f.setWeight(QFont::Normal);
    f.setItalic(false);
    return f;
}

// A title or chapter number typed by the operator: a decimal whole number
// (leading zeros allowed, "0000000012" is 12) from 1 to 99.
bool parseNumber(const std::string& text, int& out) {
    if (text.empty() || text[0] == '-') return false;
    const std::optional<int> n = ParseDecimal(text);
    if (!n || *n < 1 || *n > 99) return false;
    out = *n;
    return true;
}

using Call = void (*)(LocalGUI&, LocalVCR&);
struct Command {
    const char* command;
    Call call;
};

// The shared listener compares the action command with these rows in order
// and makes the first matching call.
const Command commandTable[] = {
    {"Stop", [](LocalGUI&, LocalVCR& v) { v.stop(); }},
    {"NextTitle", [](LocalGUI&, LocalVCR& v) { v.nexttitle(); }},
    {"PrevTitle", [](LocalGUI&, LocalVCR& v) { v.prevtitle(); }},
    {"NextChapter", [](LocalGUI&, LocalVCR& v) { v.nextchapter(); }},
    {"PrevChapter", [](LocalGUI&, LocalVCR& v) { v.prevchapter(); }},
    {"Repeat",
     [](LocalGUI&, LocalVCR& v) {
         v.setstoprepeat();
         v.repeat();
     }},
    {"Script", nullptr},  // handled by runScript (reports number failures)
    {"Play", [](LocalGUI&, LocalVCR& v) { v.play(); }},
    {"Pause", [](LocalGUI&, LocalVCR& v) { v.pause(); }},
    {"Forward", [](LocalGUI&, LocalVCR& v) { v.forward(); }},
    {"Rewind", [](LocalGUI&, LocalVCR& v) { v.rewind(); }},
    {"Slow2", [](LocalGUI&, LocalVCR& v) { v.slowhalf(); }},
    {"Slow4", [](LocalGUI&, LocalVCR& v) { v.slowfourth(); }},
    {"Sbyon", [](LocalGUI&, LocalVCR& v) { v.sbyon(); }},
    {"Sbyoff", [](LocalGUI&, LocalVCR& v) { v.sbyoff(); }},
    {"Jogf", [](LocalGUI&, LocalVCR& v) { v.jogf(); }},
    {"Jogr", [](LocalGUI&, LocalVCR& v) { v.jogr(); }},
    {"CueIn", [](LocalGUI&, LocalVCR& v) { v.cuein(); }},
    {"CueOut", [](LocalGUI&, LocalVCR& v) { v.cueout(); }},
    {"SetCue", [](LocalGUI& g, LocalVCR&) { g.setcue(); }},
    {"SetRev", [](LocalGUI& g, LocalVCR&) { g.setreview(); }},
    {"Cueplay", [](LocalGUI&, LocalVCR& v) { v.cueplay(); }},
    {"Review", [](LocalGUI&, LocalVCR& v) { v.review(); }},
    {"Connect", [](LocalGUI&, LocalVCR& v) { v.CommandB5(); }},
};

// Keyboard shortcuts. Each runs its button's action command through the
// shared listener, as a click does. While the controller's status code is
// `whenStatus`, `alternate` runs instead; the code is read on the action
// thread when the action's turn comes, as a click queued behind a long
// operation would see it. A null command stands for the logger button.
struct KeyAction {
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* command;
    const char* alternate;
    int whenStatus;
    const char* when;  // how a tooltip says it: "while playing"
    bool repeats;      // each auto-repeat of a held key acts again
};

constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;
constexpr Qt::KeyboardModifiers kShift = Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;

const KeyAction keyTable[] = {
    {Qt::Key_L, kNone, "Play", "Forward", status::kPlay, "while playing", false},
    {Qt::Key_K, kNone, "Pause", nullptr, 0, nullptr, false},
    {Qt::Key_Space, kNone, "Pause", "Play", status::kPause, "while paused", false},
    {Qt::Key_J, kNone, "Rewind", nullptr, 0, nullptr, false},
    {Qt::Key_Right, kNone, "Jogf", nullptr, 0, nullptr, true},
    {Qt::Key_Left, kNone, "Jogr", nullptr, 0, nullptr, true},
    {Qt::Key_I, kNone, "SetCue", nullptr, 0, nullptr, false},
    {Qt::Key_O, kNone, "SetRev", nullptr, 0, nullptr, false},
    {Qt::Key_I, kShift, "CueIn", nullptr, 0, nullptr, false},
    {Qt::Key_O, kShift, "CueOut", nullptr, 0, nullptr, false},
    {Qt::Key_R, kNone, "Review", nullptr, 0, nullptr, false},
    {Qt::Key_S, kNone, "Stop", nullptr, 0, nullptr, false},
    {Qt::Key_PageUp, kNone, "NextTitle", nullptr, 0, nullptr, false},
    {Qt::Key_PageDown, kNone, "PrevTitle", nullptr, 0, nullptr, false},
    {Qt::Key_PageUp, kCtrl, "NextChapter", nullptr, 0, nullptr, false},
    {Qt::Key_PageDown, kCtrl, "PrevChapter", nullptr, 0, nullptr, false},
    {Qt::Key_L, kCtrl, nullptr, nullptr, 0, nullptr, false},
};

// The tooltip of the button with this action command ("" for the logger
// button, which has none): the keys that run it; empty when none does.
QString keyTip(std::string_view command) {
    QStringList keys;
    for (const KeyAction& k : keyTable) {
        const QString name = WindowKeys::name(k.key, k.modifiers);
        if (std::string_view(k.command ? k.command : "") == command) keys << name;
        if (k.alternate && k.alternate == command) keys << name + QLatin1Char(' ') + QString::fromUtf8(k.when);
    }
    if (keys.isEmpty()) return {};
    return (keys.size() == 1 ? QStringLiteral("Key: ") : QStringLiteral("Keys: ")) + keys.join(QStringLiteral(", "));
}

}  // namespace

LocalGUI::LocalGUI(ActionQueue& actions, QWidget* parent)
    : QWidget(parent), actions_(actions), width_(Quenta::getwidth()) {
    queue_ = new GuiQueue(this);
    texts_[index(Field::tcfield)] = TCString;
    texts_[index(Field::cuefield)] = CueString;
    texts_[index(Field::endfield)] = EndString;
    texts_[index(Field::osfield)] = OSString;
    texts_[index(Field::prfield)] = PRString;
    layer_ = QImage(width_, height, QImage::Format_RGB32);
    layer_.fill(backgroundcol);
    painted_ = layer_.copy();
    build();
    installShortcuts();
}

LocalGUI::~LocalGUI() = default;

QPushButton* LocalGUI::addButton(const char* name, const char* caption, const char* command) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    b->setObjectName(QString::fromUtf8(name));
    b->setFocusPolicy(Qt::NoFocus);
    if (command) {
        b->setProperty("actionCommand", QString::fromUtf8(command));
        std::string cmd = command;
        connect(b, &QPushButton::clicked, this, [this, cmd] {
            requestStopAhead(cmd);
            actions_.post([this, cmd] { actionPerformed(cmd); });
        });
    }
    return b;
}

void LocalGUI::requestStopAhead(const std::string& command) {
    // A Stop must reach a long operation that holds the action thread, so
    // its request goes ahead of the queued action; the action itself (its
    // "PA") waits its turn.
    if (command == "Stop")
        if (LocalVCR* v = controller()) v->requestStop();
}

QLineEdit* LocalGUI::addField(Field f, const char* name, const char* text, int columns) {
    auto* w = new QLineEdit(QString::fromUtf8(text), this);
    w->setObjectName(QString::fromUtf8(name));
    w->setProperty("columns", columns);
    const int i = index(f);
    fields_[i] = w;
    // The operator's typing becomes the field's text for every reader.
    connect(w, &QLineEdit::textEdited, this, [this, i, f](const QString& s) {
        const std::string text = s.toStdString();
        std::shared_ptr<const std::function<void(Field, const std::string&)>> observer;
        {
            std::lock_guard g(modelLock_);
            texts_[i] = text;
            observer = observer_;
        }
        if (observer) (*observer)(f, text);
    });
    return w;
}

template <class W>
W* LocalGUI::unplaced(const char* name) {
    auto w = std::make_unique<W>();
    w->setObjectName(QString::fromUtf8(name));
    W* raw = w.get();
    notAdded_.push_back(std::move(w));
    return raw;
}

void LocalGUI::build() {
    setObjectName(QStringLiteral("LocalGUI"));
    setWindowTitle(QString::fromStdString(Quenta::name));
    setFont(helvetica(Quenta::getfontheight()));
    QPalette pal = palette();
    const QColor bg = QColor::fromRgb(backgroundcol);
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button}) pal.setColor(role, bg);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) pal.setColor(role, Qt::black);
    setPalette(pal);

    // Components in the order they go on the window (earlier ones on top,
    // see the end of build()).
    auto* bnexttitle = addButton("bnexttitle", "+", "NextTitle");
    auto* bprevtitle = addButton("bprevtitle", "-", "PrevTitle");
    auto* bnextchapter = addButton("bnextchapter", "+", "NextChapter");
    auto* bprevchapter = addButton("bprevchapter", "-", "PrevChapter");
    vcrlabel = new QLabel(QStringLiteral("DVD Controls ") + QString::fromStdString(Quenta::note), this);
    vcrlabel->setObjectName(QStringLiteral("vcrlabel"));
    auto* chapterlabel = new QLabel(QStringLiteral("Chapter"), this);
    chapterlabel->setObjectName(QStringLiteral("chapterlabel"));
    auto* titlelabel = new QLabel(QStringLiteral("Title "), this);
    titlelabel->setObjectName(QStringLiteral("titlelabel"));
    auto* titlefield = addField(Field::titlefield, "titlefield", "", 2);
    auto* chapterfield = addField(Field::chapterfield, "chapterfield", "", 2);
    auto* brew = addButton("brew", "<< Rew", "Rewind");
    auto* bfwd = addButton("bfwd", "Fwd >>", "Forward");
    auto* bplay = addButton("bplay", "Play >", "Play");
    auto* bpause = addButton("bpause", "Pause ||", "Pause");
    auto* bstop = addButton("bstop", "Stop *", "Stop");
    auto* bslowfourth = addButton("bslowfourth", "Slow/4", "Slow4");
    auto* bslowhalf = addButton("bslowhalf", "Slow/2", "Slow2");
    auto* bsbyon = addButton("bsbyon", "SbyON", "Sbyon");
    auto* bsbyoff = addButton("bsbyoff", "SbyOFF", "Sbyoff");
    auto* bsetreview = addButton("bsetreview", "Set Out", "SetRev");
    auto* bsetcue = addButton("bsetcue", "Set In", "SetCue");
    auto* bcuein = addButton("bcuein", "Cue", "CueIn");
    auto* bcueout = addButton("bcueout", "Cue", "CueOut");
    auto* bcueplay = addButton("bcueplay", "Cue/Play", "Cueplay");
    auto* tcfield = addField(Field::tcfield, "tcfield", TCString, 11);
    auto* osfield = addField(Field::osfield, "osfield", OSString, 11);
    auto* prfield = addField(Field::prfield, "prfield", PRString, 11);
    auto* bjogr = addButton("bjogr", "< Jog", "Jogr");
    auto* bjogf = addButton("bjogf", "Jog >", "Jogf");
    auto* breview = addButton("breview", "Review", "Review");
    auto* cuefield = addField(Field::cuefield, "cuefield", CueString, 11);
    auto* brepeat = addButton("brepeat", "Repeat", "Repeat");
    auto* bscript = addButton("bscript", "Script", "Script");
    auto* endfield = addField(Field::endfield, "endfield", EndString, 11);
    blogger = addButton("blogger", "Open Logger Window", nullptr);
    auto* statuslabel = new QLabel(QStringLiteral("Info"), this);
    statuslabel->setObjectName(QStringLiteral("statuslabel"));
    auto* statusfield = addField(Field::statusfield, "statusfield", "", 40);
    vsb = new QScrollBar(Qt::Horizontal, this);
    vsb->setObjectName(QStringLiteral("vsb"));

    // Field looks and behaviour.
    tcfield->setReadOnly(true);
    tcfield->setFont(helvetica(TCfontheight));
    setRole(tcfield, QPalette::Text, QColor::fromRgb(tccolor));
    setRole(tcfield, QPalette::Base, Qt::black);
    cuefield->setFont(helvetica(TCfontheight));
    endfield->setFont(helvetica(TCfontheight));
    statusfield->setReadOnly(true);
    for (auto* f : {tcfield, cuefield, endfield, titlefield, chapterfield, statusfield}) f->setTextMargins(0, 0, 0, 0);

    connect(cuefield, &QLineEdit::returnPressed, this, [this, cuefield] {
        std::string t = cuefield->text().toStdString();
        actions_.post([this, t] { inPointEntered(t); });
    });
    connect(endfield, &QLineEdit::returnPressed, this, [this, endfield] {
        std::string t = endfield->text().toStdString();
        actions_.post([this, t] { outPointEntered(t); });
    });
    connect(titlefield, &QLineEdit::returnPressed, this, [this, titlefield] {
        std::string t = titlefield->text().toStdString();
        actions_.post([this, t] { titleEntered(t); });
    });
    connect(chapterfield, &QLineEdit::returnPressed, this, [this, chapterfield] {
        std::string t = chapterfield->text().toStdString();
        actions_.post([this, t] { chapterEntered(t); });
    });
    connect(blogger, &QPushButton::clicked, this, [this] { actions_.post([this] { loggerPressed(); }); });

    // Shuttle: values 0..95 (maximum 115 less the visible amount 20), centre 48.
    vsb->setRange(0, 95);
    vsb->setPageStep(20);
    vsb->setSingleStep(1);
    vsb->setValue(48);
    connect(vsb, &QScrollBar::valueChanged, this, [this](int v) {
        vsbval_.store(v);
        actions_.post([this, v] { shuttleChanged(v); });
    });

    // Grid.
    vcrlabel->setGeometry(C(0), Y0, 3 * dx, dy);
    tcfield->setGeometry(C(3), Y0, 2 * dx, dy);
    brew->setGeometry(C(0), Y1, dx, dy);
    bpause->setGeometry(C(1), Y1, dx, dy);
    bstop->setGeometry(C(2), Y1, dx, dy);
    bplay->setGeometry(C(3), Y1, dx, dy);
    bfwd->setGeometry(C(4), Y1, dx, dy);
    bsetcue->setGeometry(C(0), Y2, dx, dy);
    bcuein->setGeometry(C(1), Y2, dx, dy);
    breview->setGeometry(C(2), Y2, dx, dy);
    bsetreview->setGeometry(C(3), Y2, dx, dy);
    bcueout->setGeometry(C(4), Y2, dx, dy);
    cuefield->setGeometry(C(0), Y3, 2 * dx, dy);
    bscript->setGeometry(C(2), Y3, dx, dy);
    endfield->setGeometry(C(3), Y3, 2 * dx, dy);
    bjogr->setGeometry(C(0), Y4, 2 * dx, dy);
    bjogf->setGeometry(C(3), Y4, 2 * dx, dy);
    vsb->setGeometry(C(0), Y5, 5 * dx, 25);
    blogger->setGeometry(C(0), YLogger, 5 * dx, dy);
    const int half = dx / 2;
    titlelabel->setGeometry(C(0), Y6, half, dy);
    bprevtitle->setGeometry(C(0) + half, Y6, half, dy);
    titlefield->setGeometry(C(1), Y6, 35, dy);
    bnexttitle->setGeometry(C(1) + 35, Y6, half, dy);
    chapterlabel->setGeometry(C(2) + half, Y6, dx, dy);
    bprevchapter->setGeometry(C(3) + 24, Y6, half, dy);
    chapterfield->setGeometry(C(4) - 6, Y6, 35, dy);
    bnextchapter->setGeometry(C(4) + 29, Y6, half, dy);
    statuslabel->setGeometry(C(0), Y7, half, dy);
    statusfield->setGeometry(C(0) + half, Y7, 5 * dx - half, dy);

    // Where bounds overlap ("Chapter" covers the left edge of the chapter
    // "-" button) the component added first is on top.
    stackFirstAddedOnTop(*this);

    // On the window, wired, but without a size: never seen.
    for (QWidget* w : std::initializer_list<QWidget*>{bsbyon, bsbyoff, bslowfourth, bslowhalf, bcueplay, brepeat,
                                                      osfield, prfield}) {
        w->setGeometry(0, 0, 0, 0);
        w->hide();
    }

    // Created but never put on the window.
    unplaced<QLabel>("tclabel")->setText(QStringLiteral("Time"));
    unplaced<QLabel>("netlabel")->setText(QStringLiteral("Local Server Network Controls"));
    unplaced<QLabel>("namelabel")->setText(QStringLiteral("Host IP/ID"));
    unplaced<QLabel>("addresslabel")->setText(QStringLiteral("IP Address"));
    unplaced<QLabel>("portlabel")->setText(QStringLiteral("Socket Port"));
    unplaced<QLabel>("reconlabel")->setText(QStringLiteral("RECON Controls"));
    unplaced<QPushButton>("bfasttwo")->setText(QStringLiteral("FastX2"));
    unplaced<QPushButton>("bfastfive")->setText(QStringLiteral("FastX5"));
    unplaced<QLineEdit>("hostfield")->setText(QStringLiteral("localhost"));
    auto* ipfield = unplaced<QLineEdit>("ipfield");
    ipfield->setProperty("columns", 40);
    fields_[index(Field::ipfield)] = ipfield;
    unplaced<QLineEdit>("portfield")->setText(QStringLiteral("2001"));
    bconnect = unplaced<QPushButton>("bconnect");
    bconnect->setText(QStringLiteral("Let Client Connect"));
    bconnect->setProperty("actionCommand", QStringLiteral("Connect"));
    connect(bconnect, &QPushButton::clicked, this, [this] { actions_.post([this] { actionPerformed("Connect"); }); });

    setFixedSize(width_, height);
}

// --- keyboard ---

void LocalGUI::installShortcuts() {
    auto* keys = new WindowKeys(this);  // child of this window
    for (const KeyAction& k : keyTable) {
        const KeyAction* row = &k;
        keys->bind(k.key, k.modifiers, k.repeats, [this, row] {
            if (row->command == nullptr) {
                blogger->click();  // does nothing while the button is disabled
                return;
            }
            requestStopAhead(row->command);
            actions_.post([this, row] {
                const LocalVCR* v = controller();
                const bool alternate = row->alternate && v && v->getStatus() == row->whenStatus;
                actionPerformed(alternate ? row->alternate : row->command);
            });
        });
    }
    for (auto* b : findChildren<QPushButton*>()) {
        const std::string command = b->property("actionCommand").toString().toStdString();
        if (command.empty() && b != blogger) continue;
        const QString tip = keyTip(command);
        if (!tip.isEmpty()) b->setToolTip(tip);
    }
    keys->watch();
}

// --- controller and identity ---

void LocalGUI::setController(LocalVCR* vcr) { vcr_.store(vcr); }

void LocalGUI::setIdentity(const std::string& title, const std::string& note) {
    queue_->post([this, title, note] {
        setWindowTitle(QString::fromStdString(title));
        vcrlabel->setText(QStringLiteral("DVD Controls ") + QString::fromStdString(note));
    });
}

// --- geometry of the marks ---

QRect LocalGUI::controlRect(Control c) {
    switch (c) {
        case Control::brew: return {C(0), Y1, dx, dy};
        case Control::bpause: return {C(1), Y1, dx, dy};
        case Control::bstop: return {C(2), Y1, dx, dy};
        case Control::bplay: return {C(3), Y1, dx, dy};
        case Control::bfwd: return {C(4), Y1, dx, dy};
        case Control::bjogr: return {C(0), Y4, 2 * dx, dy};
        case Control::bjogf: return {C(3), Y4, 2 * dx, dy};
        case Control::vsb: return {C(0), Y5, 5 * dx, 25};
        case Control::cuefield: return {C(0), Y3, 2 * dx, dy};
        case Control::endfield: return {C(3), Y3, 2 * dx, dy};
    }
    return {};
}

QRect LocalGUI::fieldRect(Field f) {
    switch (f) {
        case Field::tcfield: return {C(3), Y0, 2 * dx, dy};
        case Field::cuefield: return controlRect(Control::cuefield);
        case Field::endfield: return controlRect(Control::endfield);
        case Field::titlefield: return {C(1), Y6, 35, dy};
        case Field::chapterfield: return {C(4) - 6, Y6, 35, dy};
        case Field::statusfield: return {C(0) + dx / 2, Y7, 5 * dx - dx / 2, dy};
        case Field::osfield:
        case Field::prfield:
        case Field::ipfield: return {};
    }
    return {};
}

// --- highlight layer ---

void LocalGUI::fill(const QRect& r, QRgb colour) {
    {
        std::lock_guard g(modelLock_);
        const QRect area = r.intersected(layer_.rect());
        bool changed = false;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(layer_.scanLine(y));
            for (int x = area.left(); x <= area.right(); ++x) {
                if (line[x] != colour) {
                    line[x] = colour;
                    changed = true;
                }
            }
        }
        // The link indicator and the status marks are refilled many times a
        // second with what they already show; only real changes repaint, and
        // only the strip that changed, so the window's widgets are not redrawn
        // at the polling rate.
        if (!changed) return;
        layerDirty_ += area;
        if (repaintPending_) return;
        repaintPending_ = true;
    }
    queue_->post([this] { repaintLayer(); });
}

// Repaints only the pixels that differ from what was last painted. A status
// refresh clears the marks and sets the same ones again: no net change, so
// nothing under the marks (the buttons between them) is redrawn.
void LocalGUI::repaintLayer() {
    QRegion changed;
    {
        std::lock_guard g(modelLock_);
        repaintPending_ = false;
        for (const QRect& r : layerDirty_) {
            for (int y = r.top(); y <= r.bottom(); ++y) {
                const auto* now = reinterpret_cast<const QRgb*>(layer_.constScanLine(y));
                auto* shown = reinterpret_cast<QRgb*>(painted_.scanLine(y));
                int first = -1, last = -1;
                for (int x = r.left(); x <= r.right(); ++x) {
                    if (now[x] == shown[x]) continue;
                    shown[x] = now[x];
                    if (first < 0) first = x;
                    last = x;
                }
                if (first >= 0) changed += QRect(first, y, last - first + 1, 1);
            }
        }
        layerDirty_ = QRegion();
    }
    if (!changed.isEmpty()) update(changed);
}

QImage LocalGUI::paintLayer() const {
    std::lock_guard g(modelLock_);
    return layer_.copy();
}

void LocalGUI::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    std::lock_guard g(modelLock_);
    p.drawImage(event->rect(), layer_, event->rect());
}

void LocalGUI::TCIndicate(bool ok) {
    const QRect tc = fieldRect(Field::tcfield);
    fill(QRect(tc.left(), tc.top() - 3, 8, 2), ok ? backgroundcol : red);
}

void LocalGUI::hilightinout(bool in, bool out) {
    fill(QRect(0, controlRect(Control::cuefield).top() - 2, width_ + 5, 2), backgroundcol);
    if (in) hilight(Control::cuefield);
    if (out) hilight(Control::endfield);
}

void LocalGUI::hilight(Control c) {
    const QRect r = controlRect(c);
    fill(QRect(r.left(), r.top() - 2, r.width(), 2), red);
}

void LocalGUI::clearbuttons() {
    for (Control c : {Control::brew, Control::bjogr, Control::vsb})
        fill(QRect(0, controlRect(c).top() - 2, width_ + 5, 2), backgroundcol);
}

// --- texts ---

void LocalGUI::settcfield(const std::string& text, Field f) {
    const int i = index(f);
    bool post = false;
    std::shared_ptr<const std::function<void(Field, const std::string&)>> observer;
    {
        std::lock_guard g(modelLock_);
        texts_[i] = text;
        post = !dirty_[i];  // otherwise an update of this field is already on its way
        dirty_[i] = true;
        observer = observer_;
    }
    if (observer) (*observer)(f, text);
    if (post) queue_->post([this, i] { refreshField(i); });
}

void LocalGUI::observeTexts(std::function<void(Field, const std::string&)> fn) {
    std::lock_guard g(modelLock_);
    observer_ = fn ? std::make_shared<const std::function<void(Field, const std::string&)>>(std::move(fn)) : nullptr;
}

void LocalGUI::refreshField(int i) {
    QString text;
    {
        std::lock_guard g(modelLock_);
        dirty_[i] = false;
        text = QString::fromStdString(texts_[i]);
    }
    if (fields_[i]->text() != text) fields_[i]->setText(text);
}

std::string LocalGUI::gettext(Field f) const {
    std::lock_guard g(modelLock_);
    return texts_[index(f)];
}

void LocalGUI::ShowIP(const std::string& address) { settcfield(address, Field::ipfield); }
void LocalGUI::ShowTC(const std::string& tc) { settcfield(tc, Field::tcfield); }
void LocalGUI::ShowStatus(const std::string& s) { settcfield(s, Field::statusfield); }
void LocalGUI::ShowPlay(bool) {}

// --- enabling and colours ---

void LocalGUI::EnableConnect(bool on) {
    queue_->post([this, on] {
        bconnect->setEnabled(on);
        setRole(bconnect, QPalette::Button, shadeColour(on ? Shade::lightgrey : Shade::darkgrey));
    });
}

void LocalGUI::EnableLogger(bool on) {
    loggerEnabled_.store(on);
    queue_->post([this, on] {
        blogger->setEnabled(on);
        setRole(blogger, QPalette::Button, shadeColour(on ? Shade::lightgrey : Shade::darkgrey));
    });
}

void LocalGUI::setFieldBackground(Field f, Shade shade) {
    const int i = index(f);
    queue_->post([this, i, shade] { setRole(fields_[i], QPalette::Base, shadeColour(shade)); });
}

void LocalGUI::setClipboard(const std::string& text) {
    queue_->post([text] {
        if (auto* cb = QGuiApplication::clipboard()) cb->setText(QString::fromStdString(text));
    });
}

void LocalGUI::applyPending() { queue_->flush(); }

// --- the window's own point setting ---

void LocalGUI::setcue() {
    settcfield(gettext(Field::tcfield), Field::cuefield);
    if (auto* v = controller()) v->setdirectin();
}

void LocalGUI::setreview() {
    settcfield(gettext(Field::tcfield), Field::endfield);
    if (auto* v = controller()) v->setdirectin();
}

// --- listeners (action thread) ---

const std::vector<std::string>& LocalGUI::actionCommands() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const auto& row : commandTable) out.emplace_back(row.command);
        return out;
    }();
    return names;
}

void LocalGUI::actionPerformed(const std::string& command) {
    actions_.requireOnWorker("a window listener runs on the action thread");
    LocalVCR* v = controller();
    if (!v) return;  // start-up has not built the controller yet
    ShowStatus(command);
    if (Quenta::getverbose()) Utils::OutLine(command);
    for (const auto& row : commandTable) {
        if (command != row.command) continue;
        if (row.call) {
            row.call(*this, *v);
        } else {
            runScript(*v);
        }
        return;
    }
}

void LocalGUI::runScript(LocalVCR& vcr) {
    try {
        script(vcr);
    } catch (const LineArgumentError& e) {
        // The run has ended with its closing lines; the window goes on.
        vcr.ShowStat("Script stopped: " + e.problem() + " in \"" + e.line() + "\"");
    }
}

void LocalGUI::inPointEntered(const std::string& text) {
    actions_.requireOnWorker("a window listener runs on the action thread");
    LocalVCR* v = controller();
    if (!v) return;
    v->setCueString(text);
    v->setdirectin();
}

void LocalGUI::outPointEntered(const std::string& text) {
    actions_.requireOnWorker("a window listener runs on the action thread");
    LocalVCR* v = controller();
    if (!v) return;
    v->setEndString(text);
    v->setdirectin();
}

void LocalGUI::titleEntered(const std::string& text) {
    actions_.requireOnWorker("a window listener runs on the action thread");
    LocalVCR* v = controller();
    int n = 0;
    if (!v || !parseNumber(text, n)) return;
    v->setcurtitle(n);
    v->settitle();
}

void LocalGUI::chapterEntered(const std::string& text) {
    actions_.requireOnWorker("a window listener runs on the action thread");
    LocalVCR* v = controller();
    int n = 0;
    if (!v || !parseNumber(text, n)) return;
    v->setcurchapter(n);
    v->setchapter();
}

void LocalGUI::shuttleChanged(int value) {
    actions_.requireOnWorker("a window listener runs on the action thread");
    LocalVCR* v = controller();
    if (!v) return;
    if (value >= 48) {
        v->shutfwd(2 * (value - 48));
    } else {
        v->shutrev(2 * (48 - value));
    }
}

void LocalGUI::loggerPressed() {
    actions_.requireOnWorker("a window listener runs on the action thread");
    if (LocalVCR* v = controller()) v->CommandBLogger();
}

void LocalGUI::windowClosing() {
    if (LocalVCR* v = controller()) v->windowClosing();
    Utils::Exit(0);
}

void LocalGUI::closeEvent(QCloseEvent* event) {
    // The window stays until the process ends; the close runs on the action
    // thread after whatever the operator asked for before.
    // The stop request goes ahead of it, so that a running repeat or script
    // ends early and the close does not wait for the rest of it.
    event->ignore();
    if (closing_.exchange(true)) return;
    if (LocalVCR* v = controller()) v->closeRequested();
    actions_.post([this] { windowClosing(); });
}

void LocalGUI::press(const std::string& command) {
    require(queue_->onGuiThread(), "LocalGUI", "press() clicks a widget: Qt thread only");
    for (auto* b : findChildren<QPushButton*>()) {
        if (b->property("actionCommand").toString().toStdString() == command) {
            b->click();
            return;
        }
    }
    if (command == "Connect") bconnect->click();
}

// --- lookup ---

QWidget* LocalGUI::component(const QString& name) const {
    if (auto* w = findChild<QWidget*>(name)) return w;
    for (const auto& w : notAdded_)
        if (w->objectName() == name) return w.get();
    return nullptr;
}

}  // namespace morvia
