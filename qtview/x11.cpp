#include "qtview/x11.h"

#include <QGuiApplication>
#include <QWidget>
#include <xcb/xcb.h>

#include <cstdlib>

namespace {

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_window_t Root(xcb_connection_t* connection) {
  return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

}  // namespace

bool CompositorRuns() {
  xcb_connection_t* connection = Connection();
  if (connection == nullptr) return false;
  const char name[] = "_NET_WM_CM_S0";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
  if (atom == nullptr) return false;
  bool owned = false;
  if (atom->atom != XCB_ATOM_NONE) {
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    owned = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
  }
  std::free(atom);
  return owned;
}

QPoint RootPosition(QWidget* widget) {
  xcb_connection_t* connection = Connection();
  if (connection == nullptr) return widget->pos();
  xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
      connection,
      xcb_translate_coordinates(connection, static_cast<xcb_window_t>(widget->winId()),
                                Root(connection), 0, 0),
      nullptr);
  if (reply == nullptr) return widget->pos();
  const QPoint position(reply->dst_x, reply->dst_y);
  std::free(reply);
  return position;
}
