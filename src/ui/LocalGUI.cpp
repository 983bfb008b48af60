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

#include <optional>

#include "player/LocalVCR.h"
#include "sessionlog/SessionLog.h"
#include "startup/Decimal.h"
#include "startup/Quenta.h"
#include "startup/Utils.h"
#include "startup/Require.h"
#include "ui/WindowControls.h"
#include "window/ActionQueue.h"
#include "window/GuiQueue.h"
#include "window/QtThread.h"
#include "window/WidgetStack.h"
#include "window/WindowKeys.h"

namespace morvia {
namespace {

using Row = ControlRow;

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

// The tooltip of a button: the keys that run it, its own and those whose
// alternate it is; empty when none does.
QString keyTip(const Row& button) {
    QStringList keys;
    for (const Row& row : windowControls()) {
        for (const ControlKey& k : row.keys) {
            if (k.key == 0) continue;
            const QString name = WindowKeys::name(k.key, k.modifiers);
            if (&row == &button) keys << name;
            if (k.alternate && button.command && std::string_view(k.alternate) == button.command)
                keys << name + QLatin1Char(' ') + QString::fromUtf8(k.when);
        }
    }
    if (keys.isEmpty()) return {};
    return (keys.size() == 1 ? QStringLiteral("Key: ") : QStringLiteral("Keys: ")) + keys.join(QStringLiteral(", "));
}

}  // namespace

LocalGUI::LocalGUI(ActionQueue& actions, QWidget* parent)
    : QWidget(parent),
      actions_(actions),
      width_(Quenta::getwidth()),
      texts_(TCString, CueString, EndString),
      layer_(width_, height, backgroundcol) {
    queue_ = new GuiQueue(this);
    build();
    installShortcuts();
}

LocalGUI::~LocalGUI() = default;

// --- construction from the table ---

void LocalGUI::build() {
    setObjectName(QStringLiteral("LocalGUI"));
    setWindowTitle(QString::fromStdString(Quenta::name));
    setFont(helvetica(Quenta::getfontheight()));
    QPalette pal = palette();
    const QColor bg = QColor::fromRgb(backgroundcol);
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button}) pal.setColor(role, bg);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) pal.setColor(role, Qt::black);
    setPalette(pal);

    std::vector<std::pair<const Row*, QWidget*>> onWindow;
    for (const Row& row : windowControls()) {
        QWidget* w = make(row);
        if (row.place != Row::Place::unplaced) onWindow.emplace_back(&row, w);
    }
    vcrlabel = qobject_cast<QLabel*>(component(QStringLiteral("vcrlabel")));
    blogger = qobject_cast<QPushButton*>(component(QStringLiteral("blogger")));
    bconnect = qobject_cast<QPushButton*>(component(QStringLiteral("bconnect")));
    vcrlabel->setText(vcrlabel->text() + QString::fromStdString(Quenta::settings().note));
    for (auto [row, w] : onWindow)
        if (row->place == Row::Place::shown) w->setGeometry(row->rect);

    // Where bounds overlap ("Chapter" covers the left edge of the chapter
    // "-" button) the component added first is on top.
    stackFirstAddedOnTop(*this);

    // On the window, wired, but without a size: never seen.
    for (auto [row, w] : onWindow) {
        if (row->place != Row::Place::hidden) continue;
        w->setGeometry(0, 0, 0, 0);
        w->hide();
    }
    setFixedSize(width_, height);
}

QWidget* LocalGUI::make(const Row& row) {
    // Unplaced components have no parent; the window keeps them.
    QWidget* parent = row.place == Row::Place::unplaced ? nullptr : this;
    QWidget* w = nullptr;
    switch (row.kind) {
        case Row::Kind::button: w = makeButton(row, parent); break;
        case Row::Kind::field: w = makeField(row, parent); break;
        case Row::Kind::shuttle: w = makeShuttle(parent); break;
        case Row::Kind::label: w = new QLabel(QString::fromUtf8(row.label), parent); break;
    }
    w->setObjectName(QString::fromUtf8(row.name));
    if (!parent) notAdded_.emplace_back(w);
    return w;
}

QWidget* LocalGUI::makeButton(const Row& row, QWidget* parent) {
    auto* b = new QPushButton(QString::fromUtf8(row.label), parent);
    if (parent) b->setFocusPolicy(Qt::NoFocus);
    if (row.command) {
        b->setProperty("actionCommand", QString::fromUtf8(row.command));
        const std::string cmd = row.command;
        connect(b, &QPushButton::clicked, this, [this, cmd] {
            requestStopAhead(cmd);
            actions_.post([this, cmd] {
                const sessionlog::Scope source("button");
                actionPerformed(cmd);
            });
        });
    } else if (row.clicked) {
        const auto listener = row.clicked;
        connect(b, &QPushButton::clicked, this,
                [this, listener] { actions_.post([this, listener] {
                    const sessionlog::Scope source("button");
                    (this->*listener)();
                }); });
    }
    return b;
}

QWidget* LocalGUI::makeField(const Row& row, QWidget* parent) {
    auto* w = new QLineEdit(QString::fromUtf8(row.label), parent);
    if (row.columns > 0) w->setProperty("columns", row.columns);
    if (row.field) fields_[static_cast<std::size_t>(*row.field)] = w;
    if (!parent) return w;
    switch (row.look) {
        case Row::Look::clock:
            w->setReadOnly(true);
            w->setFont(helvetica(TCfontheight));
            setRole(w, QPalette::Text, QColor::fromRgb(tccolor));
            setRole(w, QPalette::Base, Qt::black);
            break;
        case Row::Look::timecode: w->setFont(helvetica(TCfontheight)); break;
        case Row::Look::readout: w->setReadOnly(true); break;
        case Row::Look::plain: break;
    }
    if (row.place == Row::Place::shown) w->setTextMargins(0, 0, 0, 0);
    if (row.field) {
        // The operator's typing becomes the field's text for every reader.
        const Field f = *row.field;
        connect(w, &QLineEdit::textEdited, this, [this, f](const QString& t) { texts_.typed(f, t.toStdString()); });
    }
    if (row.entered) {
        const auto listener = row.entered;
        connect(w, &QLineEdit::returnPressed, this, [this, w, listener] {
            std::string t = w->text().toStdString();
            actions_.post([this, t, listener] {
                const sessionlog::Scope source("key");  // Enter in the field
                (this->*listener)(t);
            });
        });
    }
    return w;
}

QWidget* LocalGUI::makeShuttle(QWidget* parent) {
    // Values 0..95 (maximum 115 less the visible amount 20), centre 48.
    auto* vsb = new QScrollBar(Qt::Horizontal, parent);
    vsb->setRange(0, 95);
    vsb->setPageStep(20);
    vsb->setSingleStep(1);
    vsb->setValue(48);
    connect(vsb, &QScrollBar::valueChanged, this, [this](int v) {
        vsbval_.store(v);
        actions_.post([this, v] {
            const sessionlog::Scope source("button");
            shuttleChanged(v);
        });
    });
    return vsb;
}

// --- keyboard ---

void LocalGUI::installShortcuts() {
    auto* keys = new WindowKeys(this);  // child of this window
    for (const Row& row : windowControls()) {
        for (const ControlKey& k : row.keys) {
            if (k.key == 0) continue;
            const Row* target = &row;
            const ControlKey* key = &k;
            keys->bind(k.key, k.modifiers, k.repeats, [this, target, key] {
                if (target->command == nullptr) {
                    // A button with a listener of its own (the logger
                    // button): clicked, which does nothing while it is
                    // disabled.
                    static_cast<QPushButton*>(component(QString::fromUtf8(target->name)))->click();
                    return;
                }
                requestStopAhead(target->command);
                actions_.post([this, target, key] {
                    const sessionlog::Scope source("key");
                    const LocalVCR* v = controller();
                    const bool alternate = key->alternate && v && v->getStatus() == key->whenStatus;
                    actionPerformed(alternate ? key->alternate : target->command);
                });
            });
        }
    }
    for (const Row& row : windowControls()) {
        if (row.kind != Row::Kind::button || row.place == Row::Place::unplaced) continue;
        const QString tip = keyTip(row);
        if (!tip.isEmpty()) component(QString::fromUtf8(row.name))->setToolTip(tip);
    }
    keys->watch();
}

void LocalGUI::requestStopAhead(const std::string& command) {
    // A Stop must reach a long operation that holds the action thread, so
    // its request goes ahead of the queued action; the action itself (its
    // "PA") waits its turn.
    if (command == "Stop")
        if (LocalVCR* v = controller()) v->requestStop();
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
    const Row* row = controlByMark(c);
    return row ? row->rect : QRect();
}

QRect LocalGUI::fieldRect(Field f) {
    const Row* row = controlByField(f);
    return row ? row->rect : QRect();
}

// --- highlight layer ---

void LocalGUI::fill(const QRect& r, QRgb colour) {
    if (layer_.fill(r, colour)) queue_->post([this] { repaintLayer(); });
}

void LocalGUI::repaintLayer() {
    const QRegion changed = layer_.takeChanged();
    if (!changed.isEmpty()) update(changed);
}

QImage LocalGUI::paintLayer() const { return layer_.copy(); }

void LocalGUI::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    layer_.paint(p, event->rect());
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
    if (texts_.show(f, text)) queue_->post([this, f] { refreshField(f); });
}

void LocalGUI::observeTexts(std::function<void(Field, const std::string&)> fn) { texts_.watch(std::move(fn)); }

void LocalGUI::refreshField(Field f) {
    const QString text = QString::fromStdString(texts_.takeForWidget(f));
    QLineEdit* w = fields_[static_cast<std::size_t>(f)];
    if (w->text() != text) w->setText(text);
}

std::string LocalGUI::gettext(Field f) const { return texts_.get(f); }

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
    queue_->post([this, f, shade] { setRole(fields_[static_cast<std::size_t>(f)], QPalette::Base, shadeColour(shade)); });
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

template <class Body>
void LocalGUI::listen(Body&& body) {
    actions_.requireOnWorker("a window listener runs on the action thread");
    if (LocalVCR* v = controller()) body(*v);  // null: start-up has not built it yet
}

const std::vector<std::string>& LocalGUI::actionCommands() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const Row& row : windowControls())
            if (row.command) out.emplace_back(row.command);
        return out;
    }();
    return names;
}

void LocalGUI::actionPerformed(const std::string& command) {
    listen([&](LocalVCR& v) {
        ShowStatus(command);
        if (Quenta::getverbose()) Utils::OutLine(command);
        if (const Row* row = controlByCommand(command)) row->call(*this, v);
    });
}

void LocalGUI::inPointEntered(const std::string& text) {
    listen([&](LocalVCR& v) {
        v.setCueString(text);
        v.setdirectin();
    });
}

void LocalGUI::outPointEntered(const std::string& text) {
    listen([&](LocalVCR& v) {
        v.setEndString(text);
        v.setdirectin();
    });
}

void LocalGUI::titleEntered(const std::string& text) {
    listen([&](LocalVCR& v) {
        int n = 0;
        if (!parseNumber(text, n)) return;
        v.setcurtitle(n);
        v.settitle();
    });
}

void LocalGUI::chapterEntered(const std::string& text) {
    listen([&](LocalVCR& v) {
        int n = 0;
        if (!parseNumber(text, n)) return;
        v.setcurchapter(n);
        v.setchapter();
    });
}

void LocalGUI::shuttleChanged(int value) {
    listen([&](LocalVCR& v) {
        if (value >= 48) {
            v.shutfwd(2 * (value - 48));
        } else {
            v.shutrev(2 * (48 - value));
        }
    });
}

void LocalGUI::loggerPressed() {
    listen([](LocalVCR& v) { v.CommandBLogger(); });
}

void LocalGUI::windowClosing() {
    if (beforeClosing_) beforeClosing_();
    if (LocalVCR* v = controller()) v->windowClosing();
    if (closedHook_) closedHook_();
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
    requireQtThread("LocalGUI", "press() clicks a widget: Qt thread only");
    if (const Row* row = controlByCommand(command))
        if (auto* b = qobject_cast<QPushButton*>(component(QString::fromUtf8(row->name)))) b->click();
}

// --- lookup ---

QWidget* LocalGUI::component(const QString& name) const {
    if (auto* w = findChild<QWidget*>(name)) return w;
    for (const auto& w : notAdded_)
        if (w->objectName() == name) return w.get();
    return nullptr;
}

}  // namespace morvia
