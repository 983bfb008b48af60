// What the main window paints under its widgets: the background with the
// highlight bars (status marks, in/out marks, the link indicator). Any thread
// fills rectangles; the Qt thread takes the pixels that changed since the
// last repaint and paints from the layer.
//
// Thread-safety: every member may be called from any thread; paint and
// takeChanged are meant for the Qt thread. The lock is a leaf.
#pragma once

#include <QImage>
#include <QRect>
#include <QRegion>

#include <mutex>

class QPainter;

namespace morvia {

class HighlightLayer {
public:
    HighlightLayer(int width, int height, QRgb background);

    // Fills `r` (clipped to the layer) with `colour`. True when a repaint
    // needs posting: the pixels changed and no repaint is on its way yet.
    bool fill(const QRect& r, QRgb colour);
    // The pixels that differ from what was last taken; they count as
    // painted from now on. A repaint may be posted again after this.
    QRegion takeChanged();
    // Draws the layer's `area` with `p`.
    void paint(QPainter& p, const QRect& area) const;
    QImage copy() const;

private:
    mutable std::mutex lock_;
    QImage layer_;
    QImage painted_;      // the layer as last taken for a repaint
    QRegion dirty_;       // the strips changed since then
    bool repaintPending_ = false;
};

}  // namespace morvia
