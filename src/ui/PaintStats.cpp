#include "ui/PaintStats.h"

#include <QApplication>
#include <QPaintEvent>
#include <QThread>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

#include "startup/Require.h"
#include "window/QtThread.h"

namespace morvia {

PaintStats::PaintStats(std::string path, QObject* parent) : QObject(parent), path_(std::move(path)) {
    requireQtThread("PaintStats", "counts the Qt thread's paints: Qt thread only");
    qApp->installEventFilter(this);
    clock_.start();
    connect(&timer_, &QTimer::timeout, this, [this] { write(); });
    timer_.start(1000);
}

PaintStats::~PaintStats() {
    if (qApp) qApp->removeEventFilter(this);
}

void PaintStats::installFromEnvironment() {
    const char* path = std::getenv("MORVIA_PAINT_STATS");
    if (path == nullptr || *path == '\0') return;
    new PaintStats(path, qApp);  // owned by the application object
}

bool PaintStats::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint) {
        ++paints_;
        for (const QRect& r : static_cast<QPaintEvent*>(event)->region())
            area_ += static_cast<long long>(r.width()) * r.height();
    } else if (event->type() == QEvent::UpdateRequest && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->isWindow()) {
        ++flushes_;
    }
    return false;
}

void PaintStats::write() const {
    const std::string tmp = path_ + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "we");
    if (!f) return;
    std::fprintf(f, "paints %ld area %lld flushes %ld seconds %.3f\n", paints_, area_, flushes_,
                 static_cast<double>(clock_.elapsed()) / 1000.0);
    std::fclose(f);
    std::rename(tmp.c_str(), path_.c_str());
}

}  // namespace morvia
