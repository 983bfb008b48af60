#include "ui/HighlightLayer.h"

#include <QPainter>

namespace morvia {

HighlightLayer::HighlightLayer(int width, int height, QRgb background)
    : layer_(width, height, QImage::Format_RGB32) {
    layer_.fill(background);
    painted_ = layer_.copy();
}

bool HighlightLayer::fill(const QRect& r, QRgb colour) {
    std::lock_guard g(lock_);
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
    if (!changed) return false;
    dirty_ += area;
    if (repaintPending_) return false;
    repaintPending_ = true;
    return true;
}

// Only the pixels that differ from what was last painted count. A status
// refresh clears the marks and sets the same ones again: no net change, so
// nothing under the marks (the buttons between them) is redrawn.
QRegion HighlightLayer::takeChanged() {
    QRegion changed;
    std::lock_guard g(lock_);
    repaintPending_ = false;
    for (const QRect& r : dirty_) {
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
    dirty_ = QRegion();
    return changed;
}

void HighlightLayer::paint(QPainter& p, const QRect& area) const {
    std::lock_guard g(lock_);
    p.drawImage(area, layer_, area);
}

QImage HighlightLayer::copy() const {
    std::lock_guard g(lock_);
    return layer_.copy();
}

}  // namespace morvia
