// The few X11 questions Qt has no answer for.
#pragma once

#include <QPoint>

class QWidget;

// Whether a compositing manager runs on the default screen: it owns the
// _NET_WM_CM_S0 selection.
bool CompositorRuns();

// Where the widget's top-left corner is on the root window, asked of the X
// server: a window manager's frame makes Qt's own idea of it lag behind.
QPoint RootPosition(QWidget* widget);

// Hands a left-button drag that started at `pointer` (root coordinates, as
// the X server reported the press) to the window manager, which then moves
// the window; false when no running window manager offers that. Qt's own
// request places the pointer through its idea of the window's place, which
// can lag behind the window manager's placing it: the window then jumps.
bool StartWindowManagerMove(QWidget* widget, QPoint pointer);
