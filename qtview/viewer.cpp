#include "qtview/viewer.h"

#include <QApplication>
#include <QBitmap>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <climits>
#include <cstdarg>
#include <cstring>

#include "app/viewer_state.h"
#include "app/viewer_text.h"
#include "qtview/cp932.h"
#include "qtview/x11.h"

namespace {

// The thickness of the raised dialog frame the Windows viewer gets.
constexpr int kFrame = 3;

FILE* g_report = nullptr;
QElapsedTimer g_clock;

QString Text(const char* cp932) { return Cp932ToUnicode(cp932, std::strlen(cp932)); }

QString Rect(const QRect& r) {
  return QString("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Classic raised edges: light and white on the top and left, dark below and
// right, then a ring of the face colour.
void DrawFrame(QPainter& painter, const QRect& outer) {
  const QColor light(192, 192, 192), white(255, 255, 255), grey(128, 128, 128), dark(64, 64, 64);
  const QColor rings[3][2] = {{light, dark}, {white, grey}, {light, light}};
  for (int i = 0; i < kFrame; ++i) {
    const QRect r = outer.adjusted(i, i, -i, -i);
    painter.fillRect(r.left(), r.top(), r.width(), 1, rings[i][0]);
    painter.fillRect(r.left(), r.top(), 1, r.height(), rings[i][0]);
    painter.fillRect(r.left(), r.bottom(), r.width(), 1, rings[i][1]);
    painter.fillRect(r.right(), r.top(), 1, r.height(), rings[i][1]);
  }
}

}  // namespace

void OpenReport() {
  g_clock.start();
  const char* name = std::getenv("VELINDE_REPORT");
  if (name != nullptr && name[0] != 0) g_report = std::fopen(name, "a");
}

void Report(const char* tag, const char* format, ...) {
  if (g_report == nullptr) return;
  std::fprintf(g_report, "%s t=%.1f ", tag, static_cast<double>(g_clock.nsecsElapsed()) / 1e6);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(g_report, format, arguments);
  va_end(arguments);
  std::fputc('\n', g_report);
  std::fflush(g_report);
}

ViewerWindow::ViewerWindow(const QImage& opaque, const QImage& background, bool composited)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint), opaque_(opaque),
      composited_(composited) {
  setWindowTitle(VLD_TITLE);
  if (!background.isNull()) {
    // The mask's bits are 1 on the background, so the background is what a
    // bitmap made of them holds; the picture's pixels are the rest.
    const QRegion cut(QBitmap::fromImage(background));
    picture_region_ = QRegion(opaque.rect()).subtracted(cut);
    seethrough_ = opaque.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (const QRect& r : cut) {
      for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(seethrough_.scanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) row[x] = 0;
      }
    }
  }
  // A translucent window has to be made so; whether it shows anything
  // through is decided at each paint.
  if (composited_) setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating, g_viewer.activate_mode != 1);
  setWindowFlag(Qt::WindowStaysOnTopHint, ItemIsOn(g_viewer.topmost_item));
  close_timer_.setSingleShot(true);
  // A coarse timer may fire up to 5 % early; the timeout is a promise.
  close_timer_.setTimerType(Qt::PreciseTimer);
  connect(&close_timer_, &QTimer::timeout, this, [this] { Quit(); });
}

int ViewerWindow::FrameWidth() const { return ItemIsOn(g_viewer.frameless_item) ? 0 : kFrame; }

void ViewerWindow::Start() {
  move(g_viewer.window_x, g_viewer.window_y);
  ApplyLook();
  // The timer starts as the window appears, as the Windows viewer's does.
  if (g_viewer.timeout_ms != 0) {
    close_timer_.start(static_cast<int>(g_viewer.timeout_ms > INT_MAX ? INT_MAX
                                                                      : g_viewer.timeout_ms));
  }
  show();
  if (g_viewer.activate_mode == 1) {
    raise();
    activateWindow();
  }
}

// Size and shape for the frame and see-through switches; the top-left corner
// stays where it is.
void ViewerWindow::ApplyLook() {
  const int f = FrameWidth();
  // Qt asks for the new size at its own idea of the window's place, which
  // can lag behind a window manager's placing it; the X server's is the one
  // to keep.
  if (isVisible()) move(RootPosition(this));
  setFixedSize(opaque_.width() + 2 * f, opaque_.height() + 2 * f);
  if (!composited_ && ItemIsOn(g_viewer.seethrough_item) && !seethrough_.isNull()) {
    setMask(QRegion(rect()).subtracted(QRegion(f, f, opaque_.width(), opaque_.height()))
                .united(picture_region_.translated(f, f)));
  } else {
    clearMask();
  }
  update();
}

void ViewerWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int f = FrameWidth();
  if (f != 0) DrawFrame(painter, rect());
  const bool through = composited_ && ItemIsOn(g_viewer.seethrough_item) && !seethrough_.isNull();
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(f, f, through ? seethrough_ : opaque_);
  painter.end();
  QTimer::singleShot(0, this, [this] { ReportWindow(); });
}

void ViewerWindow::moveEvent(QMoveEvent*) {
  QTimer::singleShot(0, this, [this] { ReportWindow(); });
}

void ViewerWindow::ReportWindow() {
  if (g_report == nullptr || !isVisible()) return;
  const QPoint at = RootPosition(this);
  const int f = FrameWidth();
  const QByteArray line =
      QString("rect=%1,%2,%3,%4 client=%5,%6,%7,%8 framed=%9 topmost=%10 seethrough=%11 "
              "composited=%12 visible=1 foreground=%13")
          .arg(at.x()).arg(at.y()).arg(at.x() + width()).arg(at.y() + height())
          .arg(at.x() + f).arg(at.y() + f).arg(opaque_.width()).arg(opaque_.height())
          .arg(f != 0).arg(ItemIsOn(g_viewer.topmost_item))
          .arg(ItemIsOn(g_viewer.seethrough_item)).arg(composited_).arg(isActiveWindow())
          .toUtf8();
  if (line == last_report_) return;
  last_report_ = line;
  Report("window", "%s", line.constData());
}

void ViewerWindow::mousePressEvent(QMouseEvent* event) {
  const QPoint global = event->globalPosition().toPoint();
  if (event->button() == Qt::RightButton) {
    if (event->modifiers() & Qt::ShiftModifier) {
      Quit();
    } else {
      ShowMenu(global);
    }
  } else if (event->button() == Qt::LeftButton) {
    // The window manager moves the window when it can; without one the
    // viewer follows the pointer itself.
    if (!StartWindowManagerMove(this, global)) {
      dragging_ = true;
      drag_start_ = global;
      window_start_ = RootPosition(this);
    }
  }
}

void ViewerWindow::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_) move(window_start_ + event->globalPosition().toPoint() - drag_start_);
}

void ViewerWindow::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void ViewerWindow::ShowMenu(const QPoint& at) {
  // Once the menu has been opened, the window stays until the user closes it.
  close_timer_.stop();
  QMenu menu;
  struct Item {
    const char* text;
    uint32_t state;
    bool checkable;
  };
  const Item items[] = {{kTextComment, g_viewer.comment_item, false},
                        {kTextSeethrough, g_viewer.seethrough_item, true},
                        {kTextTopmost, g_viewer.topmost_item, true},
                        {kTextFrameless, g_viewer.frameless_item, true},
                        {kTextExit, kItemEnabled, false}};
  QAction* actions[5];
  for (int i = 0; i < 5; ++i) {
    if (i == 1 || i == 4) menu.addSeparator();
    actions[i] = menu.addAction(Text(items[i].text));
    actions[i]->setEnabled((items[i].state & kItemGrayed) == 0);
    actions[i]->setCheckable(items[i].checkable);
    actions[i]->setChecked(ItemIsOn(items[i].state));
  }
  connect(&menu, &QMenu::aboutToShow, &menu, [&menu, &actions] {
    // Each item: its place on the screen, checked, enabled.
    QTimer::singleShot(0, &menu, [&menu, &actions] {
      QString items;
      for (int i = 0; i < 5; ++i) {
        const QRect r = menu.actionGeometry(actions[i]).translated(menu.geometry().topLeft());
        items += QString("%1%2,%3,%4").arg(i ? ";" : "").arg(Rect(r))
                     .arg(actions[i]->isChecked()).arg(actions[i]->isEnabled());
      }
      Report("menu", "rect=%s items=%s", Rect(menu.geometry()).toUtf8().constData(),
             items.toUtf8().constData());
    });
  });
  QAction* chosen = menu.exec(at);
  Report("menu", "closed=1");
  if (chosen == actions[0]) {
    ShowComment();
  } else if (chosen == actions[1]) {
    g_viewer.seethrough_item ^= kItemChecked;
    ApplyLook();
  } else if (chosen == actions[2]) {
    g_viewer.topmost_item ^= kItemChecked;
    // setWindowFlags would make the window anew; the QWindow switches the
    // window manager's state of the window as it is.
    windowHandle()->setFlag(Qt::WindowStaysOnTopHint, ItemIsOn(g_viewer.topmost_item));
    ReportWindow();
  } else if (chosen == actions[3]) {
    g_viewer.frameless_item ^= kItemChecked;
    ApplyLook();
  } else if (chosen == actions[4]) {
    Quit();
  }
}

void ViewerWindow::ShowComment() {
  const QString text = Cp932ToUnicode(g_viewer.comment, kCommentSize - 1);
  QMessageBox box(QMessageBox::NoIcon, VLD_TITLE, text, QMessageBox::Ok, this);
  // As a Windows message box does, wide enough for its caption beside the
  // title bar's buttons, which a window manager would otherwise cut short.
  auto* layout = qobject_cast<QGridLayout*>(box.layout());
  if (layout != nullptr) {
    const int caption = box.fontMetrics().horizontalAdvance(QStringLiteral(VLD_TITLE)) + 120;
    layout->addItem(new QSpacerItem(caption, 0), layout->rowCount(), 0, 1,
                    layout->columnCount());
  }
  QTimer::singleShot(0, &box, [&box, &text] {
    Report("comment", "rect=%s title=%s text=%s", Rect(box.geometry()).toUtf8().constData(),
           box.windowTitle().toUtf8().constData(), text.toUtf8().constData());
  });
  box.exec();
  Report("comment", "closed=1");
}

// A tool window's closing does not end the program by itself.
void ViewerWindow::Quit() {
  close_timer_.stop();
  hide();
  QApplication::exit(0);
}
