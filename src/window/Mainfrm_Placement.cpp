#include "Mainfrm_Placement.h"

#include <algorithm>

namespace {

// Enough of a window to see it and drag it back.
const int Grip = 48;

QRect Outline(const QRect& stored, const QMargins& frame) {
    return QRect(stored.topLeft(), stored.size().grownBy(frame));
}

qint64 VisibleArea(const QRect& outline, const QRect& area) {
    const QRect visible = outline.intersected(area);
    if (visible.width() < Grip || visible.height() < Grip)
        return 0;
    return qint64(visible.width()) * visible.height();
}

// Keeps [start, start + length) inside [low, low + room) where it fits, else at low.
int KeepInside(int start, int length, int low, int room) {
    return std::max(low, std::min(start, low + room - length));
}

} // namespace

QRect FitWindowIntoScreens(const QRect& stored, const QMargins& frame,
                           const std::vector<QRect>& availableAreas, const QPoint& designPosition) {
    if (availableAreas.empty())
        return stored;

    QRect window = stored;
    const QRect* area = nullptr;
    qint64 best = 0;
    for (const QRect& candidate : availableAreas) {
        const qint64 visible = VisibleArea(Outline(window, frame), candidate);
        if (visible > best) {
            best = visible;
            area = &candidate;
        }
    }
    if (!area) {
        // A screen that is no longer there would hide the window for good.
        window.moveTopLeft(designPosition);
        area = &availableAreas.front();
        for (const QRect& candidate : availableAreas)
            if (candidate.contains(designPosition)) {
                area = &candidate;
                break;
            }
    }

    const int frameWidth = frame.left() + frame.right();
    const int frameHeight = frame.top() + frame.bottom();
    window.setSize(QSize(std::max(1, std::min(window.width(), area->width() - frameWidth)),
                         std::max(1, std::min(window.height(), area->height() - frameHeight))));
    window.moveTopLeft(
        QPoint(KeepInside(window.x(), window.width() + frameWidth, area->x(), area->width()),
               KeepInside(window.y(), window.height() + frameHeight, area->y(), area->height())));
    return window;
}
