// Counts the repaints of a Qt application for benchmarks: every paint event
// any widget receives (with the area it covers) and every time a window's
// backing store is flushed to the screen, written once a second to a file as
// "paints <n> area <pixels> flushes <n> seconds <s>".
//
// Thread-safety: Qt thread only. Off unless a benchmark asks for it (one
// timer wake-up a second while on).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <string>

namespace morvia {

class PaintStats : public QObject {
public:
    // Installs itself on the application; writes to `path` every second.
    explicit PaintStats(std::string path, QObject* parent = nullptr);
    ~PaintStats() override;

    // Installs a counter when the environment variable MORVIA_PAINT_STATS
    // names a file; otherwise does nothing. The counter lives as long as the
    // application.
    static void installFromEnvironment();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void write() const;

    std::string path_;
    QTimer timer_;
    QElapsedTimer clock_;
    long paints_ = 0;
    long long area_ = 0;
    long flushes_ = 0;
};

}  // namespace morvia
