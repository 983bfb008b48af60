// Both windows on scaled screens (QT_SCALE_FACTOR): the same layout, scaled,
// with every label, button caption and field text drawn whole.
//
// The scale factor is read when the QApplication is made, so each scale runs
// this program again with one disabled test enabled.
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "UiSupport.h"
#include "loggerwindow/LoggerGUI.h"
#include "loggerwindow/LoggerWindow.h"
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

namespace morvia::test {
namespace {

// The bounding box of the pixels that differ between two pictures of one size.
QRect differing(const QImage& a, const QImage& b) {
    QRect box;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) box |= QRect(x, y, 1, 1);
    return box;
}

// The ink of `text` in `font` drawn with nothing in its way, in device pixels.
QRect freeInk(const QString& text, const QFont& font, qreal dpr) {
    const QSize logical(1200, 200);
    QImage blank(logical * dpr, QImage::Format_RGB32);
    blank.setDevicePixelRatio(dpr);
    blank.fill(Qt::white);
    QImage drawn = blank;
    QPainter p(&drawn);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QPoint(50, 100), text);
    p.end();
    return differing(drawn, blank);
}

QString textOf(QWidget* w) {
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* f = qobject_cast<QLineEdit*>(w)) return f->text();
    return {};
}
void setTextOf(QWidget* w, const QString& t) {
    if (auto* b = qobject_cast<QPushButton*>(w)) b->setText(t);
    if (auto* l = qobject_cast<QLabel*>(w)) l->setText(t);
    if (auto* f = qobject_cast<QLineEdit*>(w)) f->setText(t);
}

// Every visible label, button and field of `window` with a text: its place
// is the logical one whatever the scale, and its text, as the window draws
// it, is as wide and as tall as the same text drawn freely (a clipped text
// loses part of a glyph). Returns one line per fault.
std::vector<std::string> clippedTexts(QWidget* window, qreal scale) {
    std::vector<std::string> faults;
    const QImage shot = window->grab().toImage();
    const QSize expected(static_cast<int>(std::lround(window->width() * scale)),
                         static_cast<int>(std::lround(window->height() * scale)));
    if (shot.size() != expected) faults.push_back("window picture " + std::to_string(shot.width()) + "x" +
                                                  std::to_string(shot.height()) + " at scale " + std::to_string(scale));
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const QString text = textOf(w);
        if (!w->isVisible() || text.trimmed().isEmpty()) continue;
        const QImage with = w->grab().toImage();
        setTextOf(w, QString());
        const QImage without = w->grab().toImage();
        setTextOf(w, text);
        const QRect shown = differing(with, without);
        const QRect free = freeInk(text, w->font(), scale);
        // One device pixel either way for where antialiasing falls.
        if (shown.width() < free.width() - 1 || shown.height() < free.height() - 1) {
            std::ostringstream line;
            line << window->windowTitle().toStdString() << ": \"" << text.toStdString() << "\" at ("
                 << w->x() << "," << w->y() << " " << w->width() << "x" << w->height() << ") shows " << shown.width()
                 << "x" << shown.height() << " of " << free.width() << "x" << free.height() << " device pixels";
            faults.push_back(line.str());
        }
    }
    return faults;
}

using Scaled = WindowFixture;

// Run by ScaledWindows.EveryTextWholeAtEachScale with QT_SCALE_FACTOR set.
TEST_F(Scaled, DISABLED_BothWindowsAtThisScale) {
    const qreal scale = qtApp().devicePixelRatio();
    gui->setIdentity("Morvia", "Morvia");
    gui->show();
    field("titlefield")->setText("99");
    field("chapterfield")->setText("99");
    field("statusfield")->setText("Play ");
    settle();
    auto logger = makeLoggerWindow(gui->guiQueue(), *gui, [] {}, [] {}, {});
    LoggerGUI* lw = logger->widget();
    lw->TFArray[0][1]->setText("Clip Name 12");
    lw->TFArray[0][2]->setText("00:00:00:00");
    lw->TFArray[0][3]->setText("00:00:10:00");
    QApplication::processEvents();
    ASSERT_EQ(lw->size(), QSize(480, 525));
    ASSERT_EQ(gui->size(), QSize(320, 263));
    std::vector<std::string> faults = clippedTexts(gui.get(), scale);
    for (auto& f : clippedTexts(lw, scale)) faults.push_back(f);
    for (const auto& f : faults) ADD_FAILURE() << f;
    std::cout << "scale " << scale << ": every text whole in both windows\n";
}

TEST(ScaledWindows, EveryTextWholeAtEachScale) {
    TempDir dir("scaled");
    for (const char* scale : {"1", "1.25", "1.5", "2"}) {
        SCOPED_TRACE(scale);
        const auto out = dir.path() / (std::string("scale-") + scale + ".out");
        ChildProcess child({"/proc/self/exe", "--gtest_also_run_disabled_tests",
                            "--gtest_filter=Scaled.DISABLED_BothWindowsAtThisScale"},
                           dir.path(), out, {std::string("QT_SCALE_FACTOR=") + scale, "QT_QPA_PLATFORM=offscreen"},
                           ChildProcess::Errors::Merged);
        const auto status = child.wait(std::chrono::seconds(120));
        std::ifstream in(out);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(status, std::optional<int>(0)) << text.str();
        EXPECT_NE(text.str().find("every text whole in both windows"), std::string::npos) << text.str();
    }
}

}  // namespace
}  // namespace morvia::test
