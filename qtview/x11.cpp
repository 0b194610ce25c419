#include "qtview/x11.h"

#include <QGuiApplication>
#include <QWidget>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_window_t Root(xcb_connection_t* connection) {
  return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name, bool only_if_exists) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, only_if_exists, static_cast<uint16_t>(std::strlen(name)), name),
      nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

}  // namespace

bool CompositorRuns() {
  xcb_connection_t* connection = Connection();
  if (connection == nullptr) return false;
  const xcb_atom_t selection = Atom(connection, "_NET_WM_CM_S0", true);
  if (selection == XCB_ATOM_NONE) return false;
  xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
      connection, xcb_get_selection_owner(connection, selection), nullptr);
  const bool owned = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
  std::free(owner);
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

bool StartWindowManagerMove(QWidget* widget, QPoint pointer) {
  xcb_connection_t* connection = Connection();
  if (connection == nullptr) return false;
  const xcb_window_t root = Root(connection);
  const xcb_atom_t move_resize = Atom(connection, "_NET_WM_MOVERESIZE", true);
  if (move_resize == XCB_ATOM_NONE) return false;
  // What the running window manager offers, in at most 64 KiB of atoms.
  xcb_get_property_reply_t* supported = xcb_get_property_reply(
      connection,
      xcb_get_property(connection, 0, root, Atom(connection, "_NET_SUPPORTED", false),
                       XCB_ATOM_ATOM, 0, 16384),
      nullptr);
  bool offered = false;
  if (supported != nullptr && supported->format == 32) {
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(supported));
    const int count = xcb_get_property_value_length(supported) / 4;
    for (int i = 0; i < count && !offered; ++i) offered = atoms[i] == move_resize;
  }
  std::free(supported);
  if (!offered) return false;

  xcb_client_message_event_t message = {};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = static_cast<xcb_window_t>(widget->winId());
  message.type = move_resize;
  message.data.data32[0] = static_cast<uint32_t>(pointer.x());
  message.data.data32[1] = static_cast<uint32_t>(pointer.y());
  message.data.data32[2] = 8;  // _NET_WM_MOVERESIZE_MOVE
  message.data.data32[3] = XCB_BUTTON_INDEX_1;
  message.data.data32[4] = 1;  // the request comes from an application
  // The window manager takes the pointer only once our press grab is gone.
  xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
  xcb_send_event(connection, 0, root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection);
  return true;
}
