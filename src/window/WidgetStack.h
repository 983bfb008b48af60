// Stacking of a window's components where their bounds overlap.
#pragma once

#include <QWidget>

namespace morvia {

// Puts each direct child below the ones added before it, so that where
// bounds overlap the first-added component is on top and takes the clicks:
// the stacking our window layouts were drawn for (Qt's own default is the
// reverse, the last-added on top).
inline void stackFirstAddedOnTop(QWidget& parent) {
    const auto children = parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (auto it = children.rbegin(); it != children.rend(); ++it) (*it)->raise();
}

}  // namespace morvia
