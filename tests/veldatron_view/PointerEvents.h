#pragma once

// Synthetic pointer events for a TerminalView, aimed at cells:
//
//   click(view, cell(view, 3, 2));                     // left click in column 3 of screen row 2
//   drag(view, cell(view, 5, 2));                      // the left button held
//   wheel(view, cell(view, 0, 0), 120);                // one notch up

#include "TerminalView.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWheelEvent>

namespace veldatron::testing {

// The centre of a cell of the screen (row 0 is the top visible row); fractions move within it.
inline QPointF cell(const TerminalView& view, double col, double row) {
    const QSizeF size = view.cellDimension();
    return {(col + 0.5) * size.width(), (row + 0.5) * size.height()};
}

inline void mouseEvent(TerminalView& view, QEvent::Type type, const QPointF& point,
                       Qt::MouseButton button, Qt::MouseButtons buttons,
                       Qt::KeyboardModifiers modifiers) {
    QMouseEvent event(type, point, view.mapToGlobal(point), button, buttons, modifiers);
    QCoreApplication::sendEvent(&view, &event);
}

inline void press(TerminalView& view, const QPointF& point, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    mouseEvent(view, QEvent::MouseButtonPress, point, button, button, modifiers);
}

inline void release(TerminalView& view, const QPointF& point,
                    Qt::MouseButton button = Qt::LeftButton,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    mouseEvent(view, QEvent::MouseButtonRelease, point, button, Qt::NoButton, modifiers);
}

inline void click(TerminalView& view, const QPointF& point, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    press(view, point, button, modifiers);
    release(view, point, button, modifiers);
}

// Motion with `buttons` held (none: plain pointer motion).
inline void move(TerminalView& view, const QPointF& point, Qt::MouseButtons buttons = Qt::NoButton,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    mouseEvent(view, QEvent::MouseMove, point, Qt::NoButton, buttons, modifiers);
}

inline void drag(TerminalView& view, const QPointF& point,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    move(view, point, Qt::LeftButton, modifiers);
}

// A wheel: `angle` in eighths of a degree (120 a notch), or `pixels` from a touchpad.
inline void wheel(TerminalView& view, const QPointF& point, int angle, int pixels = 0,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(point, view.mapToGlobal(point), QPoint(0, pixels), QPoint(0, angle),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&view, &event);
}

} // namespace veldatron::testing
