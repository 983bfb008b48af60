// The main window's components, looks and display operations.
#include <QClipboard>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QRegion>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "UiSupport.h"
#include "startup/Quenta.h"

namespace morvia::test {
namespace {

using Window = WindowFixture;

constexpr QRgb kBackground = LocalGUI::backgroundcol;
constexpr QRgb kRed = LocalGUI::red;

struct Placed {
    const char* name;
    int x, y, w, h;
    const char* caption;  // button or label text; nullptr: not checked
    const char* command;  // action command; nullptr: none
};

const Placed kPlaced[] = {
    {"vcrlabel", 5, 5, 180, 24, "DVD Controls Morvia", nullptr},
    {"tcfield", 185, 5, 120, 24, "00:00:00:00", nullptr},
    {"brew", 5, 33, 60, 24, "<< Rew", "Rewind"},
    {"bpause", 65, 33, 60, 24, "Pause ||", "Pause"},
    {"bstop", 125, 33, 60, 24, "Stop *", "Stop"},
    {"bplay", 185, 33, 60, 24, "Play >", "Play"},
    {"bfwd", 245, 33, 60, 24, "Fwd >>", "Forward"},
    {"bsetcue", 5, 61, 60, 24, "Set In", "SetCue"},
    {"bcuein", 65, 61, 60, 24, "Cue", "CueIn"},
    {"breview", 125, 61, 60, 24, "Review", "Review"},
    {"bsetreview", 185, 61, 60, 24, "Set Out", "SetRev"},
    {"bcueout", 245, 61, 60, 24, "Cue", "CueOut"},
    {"cuefield", 5, 89, 120, 24, "00:00:00:00", nullptr},
    {"bscript", 125, 89, 60, 24, "Script", "Script"},
    {"endfield", 185, 89, 120, 24, "00:00:10:00", nullptr},
    {"bjogr", 5, 119, 120, 24, "< Jog", "Jogr"},
    {"bjogf", 185, 119, 120, 24, "Jog >", "Jogf"},
    {"vsb", 5, 147, 300, 25, nullptr, nullptr},
    {"blogger", 5, 176, 300, 24, "Open Logger Window", nullptr},
    {"titlelabel", 5, 203, 30, 24, "Title ", nullptr},
    {"bprevtitle", 35, 203, 30, 24, "-", "PrevTitle"},
    {"titlefield", 65, 203, 35, 24, "", nullptr},
    {"bnexttitle", 100, 203, 30, 24, "+", "NextTitle"},
    {"chapterlabel", 155, 203, 60, 24, "Chapter", nullptr},
    {"bprevchapter", 209, 203, 30, 24, "-", "PrevChapter"},
    {"chapterfield", 239, 203, 35, 24, "", nullptr},
    {"bnextchapter", 274, 203, 30, 24, "+", "NextChapter"},
    {"statuslabel", 5, 231, 30, 24, "Info", nullptr},
    {"statusfield", 35, 231, 270, 24, "", nullptr},
};

QString textOf(QWidget* w) {
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* f = qobject_cast<QLineEdit*>(w)) return f->text();
    return {};
}

TEST_F(Window, PlacesEveryComponentOnTheGrid) {
    gui->setIdentity("Morvia", "Morvia");
    gui->show();
    settle();
    EXPECT_EQ(gui->windowTitle(), "Morvia");
    EXPECT_EQ(gui->size(), QSize(320, 263));
    for (const auto& p : kPlaced) {
        SCOPED_TRACE(p.name);
        QWidget* w = gui->component(p.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget(), gui.get());
        EXPECT_EQ(w->geometry(), QRect(p.x, p.y, p.w, p.h));
        EXPECT_TRUE(w->isVisible());
        if (p.caption) {
            EXPECT_EQ(textOf(w), QString::fromUtf8(p.caption));
        }
        EXPECT_EQ(w->property("actionCommand").toString(), QString::fromUtf8(p.command ? p.command : ""));
    }
    // The grid spans x 5 to 305 whatever the window's width.
    EXPECT_EQ(gui->component("bnextchapter")->geometry().right() + 1, 304);
    EXPECT_EQ(gui->component("bfwd")->geometry().right() + 1, 305);
}

TEST_F(Window, EveryPlacedButtonTakesClicksAtItsLeftEdge) {
    // Where bounds overlap the first-added component is on top: the buttons
    // were added before the labels ("Chapter" reaches x 214, over the chapter
    // "-" button from x 209).
    gui->show();
    settle();
    int buttons = 0;
    for (const auto& p : kPlaced) {
        QWidget* w = gui->component(p.name);
        if (!qobject_cast<QPushButton*>(w)) continue;
        SCOPED_TRACE(p.name);
        ++buttons;
        for (int y : {p.y + 1, p.y + p.h / 2, p.y + p.h - 2}) EXPECT_EQ(gui->childAt(p.x, y), w) << "y " << y;
    }
    EXPECT_EQ(buttons, 18);
}

TEST_F(Window, KeepsUnplacedComponentsOutOfSight) {
    gui->show();
    settle();
    struct Hidden {
        const char* name;
        const char* caption;
        const char* command;
    };
    // On the window and wired, but with no size.
    for (const Hidden& h : {Hidden{"bsbyon", "SbyON", "Sbyon"}, Hidden{"bsbyoff", "SbyOFF", "Sbyoff"},
                            Hidden{"bslowfourth", "Slow/4", "Slow4"}, Hidden{"bslowhalf", "Slow/2", "Slow2"},
                            Hidden{"bcueplay", "Cue/Play", "Cueplay"}, Hidden{"brepeat", "Repeat", "Repeat"},
                            Hidden{"osfield", "00:00:00:00", nullptr}, Hidden{"prfield", "00:00:00:00", nullptr}}) {
        SCOPED_TRACE(h.name);
        QWidget* w = gui->component(h.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget(), gui.get());
        EXPECT_FALSE(w->isVisible());
        EXPECT_TRUE(w->size().isEmpty());
        EXPECT_EQ(textOf(w), QString::fromUtf8(h.caption));
        if (h.command) {
            EXPECT_EQ(w->property("actionCommand").toString(), QString::fromUtf8(h.command));
        }
    }
    // Created, never added to the window.
    for (const Hidden& h :
         {Hidden{"tclabel", "Time", nullptr}, Hidden{"netlabel", "Local Server Network Controls", nullptr},
          Hidden{"namelabel", "Host IP/ID", nullptr}, Hidden{"addresslabel", "IP Address", nullptr},
          Hidden{"portlabel", "Socket Port", nullptr}, Hidden{"reconlabel", "RECON Controls", nullptr},
          Hidden{"bfasttwo", "FastX2", nullptr}, Hidden{"bfastfive", "FastX5", nullptr},
          Hidden{"hostfield", "localhost", nullptr}, Hidden{"ipfield", "", nullptr},
          Hidden{"portfield", "2001", nullptr}, Hidden{"bconnect", "Let Client Connect", "Connect"}}) {
        SCOPED_TRACE(h.name);
        QWidget* w = gui->component(h.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget(), nullptr);
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(textOf(w), QString::fromUtf8(h.caption));
        if (h.command) {
            EXPECT_EQ(w->property("actionCommand").toString(), QString::fromUtf8(h.command));
        }
    }
    EXPECT_EQ(gui->component("nosuchthing"), nullptr);
}

TEST_F(Window, FontsColoursAndEditing) {
    EXPECT_EQ(gui->font().pixelSize(), 13);
    EXPECT_EQ(gui->font().family(), "Helvetica");
    EXPECT_FALSE(gui->font().bold());
    EXPECT_FALSE(gui->font().italic());
    for (const char* name : {"tcfield", "cuefield", "endfield"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(field(name)->font().pixelSize(), 18);
        EXPECT_EQ(field(name)->font().family(), "Helvetica");
    }
    EXPECT_EQ(field("statusfield")->font().pixelSize(), 13);
    EXPECT_EQ(gui->palette().color(QPalette::Window).rgb(), kBackground);
    EXPECT_EQ(field("tcfield")->palette().color(QPalette::Text).rgb(), qRgb(250, 80, 80));
    EXPECT_EQ(field("tcfield")->palette().color(QPalette::Base).rgb(), qRgb(0, 0, 0));
    EXPECT_EQ(field("endfield")->palette().color(QPalette::Base).rgb(), kBackground);

    EXPECT_TRUE(field("tcfield")->isReadOnly());
    EXPECT_TRUE(field("statusfield")->isReadOnly());
    for (const char* name : {"cuefield", "endfield", "titlefield", "chapterfield", "osfield", "prfield"})
        EXPECT_FALSE(field(name)->isReadOnly()) << name;
    EXPECT_EQ(field("tcfield")->property("columns").toInt(), 11);
    EXPECT_EQ(field("titlefield")->property("columns").toInt(), 2);
    EXPECT_EQ(field("statusfield")->property("columns").toInt(), 40);

    // "00:00:00:00" fits its 120-pixel field at 18 pixels.
    QFontMetrics fm(field("tcfield")->font());
    EXPECT_LT(fm.horizontalAdvance("00:00:00:00"), 110);

    auto* vsb = widget<QScrollBar>("vsb");
    EXPECT_EQ(vsb->orientation(), Qt::Horizontal);
    EXPECT_EQ(vsb->minimum(), 0);
    EXPECT_EQ(vsb->maximum(), 95);
    EXPECT_EQ(vsb->pageStep(), 20);
    EXPECT_EQ(vsb->value(), 48);

    EXPECT_EQ(gui->gettext(Field::tcfield), "00:00:00:00");
    EXPECT_EQ(gui->gettext(Field::cuefield), "00:00:00:00");
    EXPECT_EQ(gui->gettext(Field::endfield), "00:00:10:00");
    EXPECT_EQ(gui->gettext(Field::statusfield), "");
}

// The pixel at (x, y) of the highlight layer and of a picture of the window.
QRgb layerAt(LocalGUI& g, int x, int y) { return g.paintLayer().pixel(x, y); }
QRgb shownAt(LocalGUI& g, int x, int y) { return g.grab().toImage().pixel(x, y); }

// True when exactly the rectangle r of the layer is red within the band.
bool onlyRedIn(const QImage& img, const QRect& band, const QRegion& r) {
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x)
            if ((img.pixel(x, y) == kRed) != r.contains(QPoint(x, y))) return false;
    return true;
}

TEST_F(Window, LinkIndicatorPaintsAndErasesOneBar) {
    gui->show();
    gui->TCIndicate(false);
    gui->TCIndicate(false);
    settle();
    const QRect bar(185, 2, 8, 2);
    const QImage img = gui->paintLayer();
    EXPECT_TRUE(onlyRedIn(img, QRect(0, 0, 320, 5), bar));
    EXPECT_EQ(shownAt(*gui, 186, 3), kRed);  // survives a repaint of the window

    gui->TCIndicate(true);
    settle();
    EXPECT_TRUE(onlyRedIn(gui->paintLayer(), QRect(0, 0, 320, 5), QRect()));
    EXPECT_EQ(layerAt(*gui, 186, 3), kBackground);
    EXPECT_EQ(shownAt(*gui, 186, 3), kBackground);
}

TEST_F(Window, InAndOutMarksFollowTheirFlags) {
    gui->show();
    const QRect band(0, 87, 320, 2);
    const QRect inMark(5, 87, 120, 2), outMark(185, 87, 120, 2);

    gui->hilightinout(true, true);
    EXPECT_TRUE(onlyRedIn(gui->paintLayer(), band, QRegion(inMark) + outMark));
    gui->hilightinout(true, false);
    EXPECT_TRUE(onlyRedIn(gui->paintLayer(), band, inMark));
    gui->hilightinout(false, false);
    EXPECT_TRUE(onlyRedIn(gui->paintLayer(), band, QRect()));
    gui->hilightinout(false, true);
    settle();
    EXPECT_TRUE(onlyRedIn(gui->paintLayer(), band, outMark));
    EXPECT_EQ(shownAt(*gui, 200, 88), kRed);
    EXPECT_EQ(shownAt(*gui, 20, 88), kBackground);
}

TEST_F(Window, ButtonMarksAndClearing) {
    gui->hilight(Control::bplay);
    gui->hilight(Control::bjogf);
    gui->hilight(Control::vsb);
    gui->hilightinout(true, false);
    QImage img = gui->paintLayer();
    EXPECT_TRUE(onlyRedIn(img, QRect(0, 31, 320, 2), QRect(185, 31, 60, 2)));
    EXPECT_TRUE(onlyRedIn(img, QRect(0, 117, 320, 2), QRect(185, 117, 120, 2)));
    EXPECT_TRUE(onlyRedIn(img, QRect(0, 145, 320, 2), QRect(5, 145, 300, 2)));

    gui->clearbuttons();
    img = gui->paintLayer();
    for (int y : {31, 32, 117, 118, 145, 146})
        for (int x = 0; x < 320; ++x) ASSERT_EQ(img.pixel(x, y), kBackground) << x << "," << y;
    EXPECT_EQ(img.pixel(5, 87), kRed);  // the in-point mark is not a button mark
    // Nothing outside the marks was ever painted.
    EXPECT_EQ(img.pixel(100, 100), kBackground);
    EXPECT_EQ(img.pixel(0, 0), kBackground);
}

TEST_F(Window, TextsReachModelAtOnceAndWidgetsInOrder) {
    gui->settcfield("00:00:01:00", Field::cuefield);
    gui->ShowTC("00:00:02:00");
    gui->ShowStatus("Cued");
    gui->ShowIP("127.0.0.1");
    gui->settcfield("7", Field::titlefield);
    // Readers see the values before the Qt thread has applied anything.
    EXPECT_EQ(gui->gettext(Field::cuefield), "00:00:01:00");
    EXPECT_EQ(gui->gettext(Field::tcfield), "00:00:02:00");
    EXPECT_EQ(gui->gettext(Field::statusfield), "Cued");
    EXPECT_EQ(field("cuefield")->text(), "00:00:00:00");
    settle();
    EXPECT_EQ(field("cuefield")->text(), "00:00:01:00");
    EXPECT_EQ(field("tcfield")->text(), "00:00:02:00");
    EXPECT_EQ(field("statusfield")->text(), "Cued");
    EXPECT_EQ(field("ipfield")->text(), "127.0.0.1");
    EXPECT_EQ(field("titlefield")->text(), "7");

    // The operator's typing becomes the text every reader sees.
    typeInto(field("endfield"), "00:00:09:00", false);
    EXPECT_EQ(gui->gettext(Field::endfield), "00:00:09:00");
}

TEST_F(Window, DisplayCallsFromSeveralThreadsArriveInCallOrder) {
    constexpr int kThreads = 4, kCalls = 400;
    // Every text the status field shows, in order.
    std::vector<QString> shown;
    QObject::connect(field("statusfield"), &QLineEdit::textChanged, [&shown](const QString& s) { shown.push_back(s); });
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &finished] {
            for (int i = 0; i < kCalls; ++i) {
                gui->ShowStatus(std::to_string(t) + ":" + std::to_string(i));
                gui->settcfield(std::to_string(i), t % 2 ? Field::titlefield : Field::chapterfield);
                gui->hilight(Control::bplay);
                gui->clearbuttons();
            }
            gui->ShowStatus(std::to_string(t) + ":done");
            finished.fetch_add(1);
        });
    }
    // The Qt thread keeps applying while the threads call.
    while (finished.load() < kThreads) QApplication::processEvents();
    for (auto& th : threads) th.join();
    settle();

    // Each thread's texts appear in the order it set them, and the field ends
    // with the last text that was set.
    std::vector<int> last(kThreads, -1);
    for (const QString& s : shown) {
        const auto parts = s.split(':');
        ASSERT_EQ(parts.size(), 2);
        const int t = parts[0].toInt();
        const int i = parts[1] == "done" ? kCalls : parts[1].toInt();
        EXPECT_GT(i, last[t]) << s.toStdString();
        last[t] = i;
    }
    EXPECT_EQ(field("statusfield")->text().toStdString(), gui->gettext(Field::statusfield));
    EXPECT_EQ(field("titlefield")->text(), QString::number(kCalls - 1));
    EXPECT_EQ(field("chapterfield")->text(), QString::number(kCalls - 1));
    // Every thread ended with an erase: no mark is left.
    EXPECT_TRUE(onlyRedIn(gui->paintLayer(), QRect(0, 31, 320, 2), QRect()));
}

TEST_F(Window, ButtonStatesBackgroundsAndClipboard) {
    const QColor light(192, 192, 192), dark(64, 64, 64), grey(128, 128, 128);
    auto* blogger = widget<QPushButton>("blogger");
    gui->EnableLogger(false);
    EXPECT_FALSE(gui->loggerEnabled());
    settle();
    EXPECT_FALSE(blogger->isEnabled());
    EXPECT_EQ(blogger->palette().color(QPalette::Button), dark);
    gui->EnableLogger(true);
    settle();
    EXPECT_TRUE(blogger->isEnabled());
    EXPECT_EQ(blogger->palette().color(QPalette::Button), light);

    auto* bconnect = widget<QPushButton>("bconnect");
    gui->EnableConnect(false);
    settle();
    EXPECT_FALSE(bconnect->isEnabled());
    EXPECT_EQ(bconnect->palette().color(QPalette::Button), dark);

    gui->setFieldBackground(Field::endfield, Shade::grey);
    settle();
    EXPECT_EQ(field("endfield")->palette().color(QPalette::Base), grey);
    gui->setFieldBackground(Field::endfield, Shade::background);
    settle();
    EXPECT_EQ(field("endfield")->palette().color(QPalette::Base).rgb(), kBackground);

    const QImage before = gui->paintLayer();
    gui->ShowPlay(true);
    settle();
    EXPECT_EQ(gui->paintLayer(), before);

    std::thread([this] { gui->setClipboard("00:00:03:00\n"); }).join();
    settle();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "00:00:03:00\n");
}

}  // namespace
}  // namespace morvia::test
