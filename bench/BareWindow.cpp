// The reference for the window CPU benchmark: a bare Qt window of the main
// window's shape and colour that updates the same two fields at the rates the
// controller does (a new timecode per link poll, about 14 a second; the
// status text every 330 ms, unchanged while the player plays), and nothing
// else: no link, no threads of its own. bench/window_bench.sh runs it beside
// morvia on one virtual display.
#include <QApplication>
#include <QLineEdit>
#include <QPalette>
#include <QTimer>
#include <QWidget>

#include "player/Timecode.h"
#include "ui/LocalGUI.h"
#include "ui/PaintStats.h"

using morvia::Field;
using morvia::LocalGUI;

namespace {

QLineEdit* field(QWidget& window, Field f, int pixels, const char* text) {
    auto* e = new QLineEdit(QString::fromLatin1(text), &window);
    QFont font(QStringLiteral("Helvetica"));
    font.setStyleHint(QFont::Helvetica);
    font.setPixelSize(pixels);
    e->setFont(font);
    e->setGeometry(LocalGUI::fieldRect(f));
    return e;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    morvia::PaintStats::installFromEnvironment();
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.setFixedSize(320, LocalGUI::height);
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, QColor::fromRgb(LocalGUI::backgroundcol));
    window.setPalette(pal);
    window.setAutoFillBackground(true);
    QLineEdit* tc = field(window, Field::tcfield, LocalGUI::TCfontheight, "00:00:00:00");
    QLineEdit* status = field(window, Field::statusfield, 13, "Play ");

    long long frame = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        frame += 2;  // 30 frames/s seen at about 14 polls/s
        tc->setText(QString::fromStdString(morvia::timecode::FramesToTC(frame)));
    });
    poll.start(70);  // one poll per 30 ms cycle + 30 ms wait + 10 ms
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        const QString text = QStringLiteral("Play ");
        if (status->text() != text) status->setText(text);
    });
    refresh.start(330);
    window.show();
    return QApplication::exec();
}
