// The Linux viewer's window, on Qt Widgets. Everything that is not the window
// (options, choice, placement, mask, the menu's rules) comes from app/.
#pragma once

#include <QImage>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <cstdio>

// Lines for tests that watch the viewer from outside, appended to the file
// named by VELINDE_REPORT when it is set; nothing is written otherwise.
void OpenReport();
void Report(const char* tag, const char* format, ...);

class ViewerWindow : public QWidget {
 public:
  // `opaque` is the picture as shown; `background` marks its index-0 pixels
  // (the mask's bits, a 1 where the background is), empty when none may go.
  ViewerWindow(const QImage& opaque, const QImage& background, bool composited);
  void Start();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  int FrameWidth() const;
  void ApplyLook();
  void ShowMenu(const QPoint& at);
  void ShowComment();
  void Quit();
  void ReportWindow();

  QImage opaque_;
  QImage seethrough_;  // index 0 fully transparent, for a compositing screen
  QRegion picture_region_;  // the pixels that stay when cut out with a shape
  bool composited_;
  QTimer close_timer_;
  bool dragging_ = false;
  QPoint drag_start_;
  QPoint window_start_;
  QByteArray last_report_;
};
