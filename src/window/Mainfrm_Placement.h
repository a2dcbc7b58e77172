#pragma once
// Where the main window goes at start-up, worked out without any widget so that the rule can be
// checked for any set of screens. Positions are those of the window's frame, sizes those of its
// inside, as FormSize keeps them.

#include <QMargins>
#include <QPoint>
#include <QRect>

#include <vector>

// The stored window kept inside the available area of the screen that shows most of it: shrunk
// where it is larger than that area (frame included), then moved in where it sticks out. A
// window of which no screen shows enough to grab it takes the design position on the screen
// that holds that position.
QRect FitWindowIntoScreens(const QRect& stored, const QMargins& frame,
                           const std::vector<QRect>& availableAreas, const QPoint& designPosition);

// The frame position that goes with a window's inside, for storing the normal place of a
// maximised window, whose own frame position is that of the maximised frame.
inline QPoint FramePosition(const QRect& inside, const QMargins& frame) {
    return inside.topLeft() - QPoint(frame.left(), frame.top());
}
