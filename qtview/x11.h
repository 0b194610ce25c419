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
