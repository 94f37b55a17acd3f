#include "ui/native_title.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef KU_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

namespace ku::ui {

#ifdef KU_HAVE_XCB
namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
  if (!reply) return XCB_ATOM_NONE;
  const xcb_atom_t a = reply->atom;
  std::free(reply);
  return a;
}

}  // namespace
#endif

void clearNativeTitle(QWidget* window) {
#ifdef KU_HAVE_XCB
  if (!window || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return;
  xcb_connection_t* c = x11->connection();
  const auto id = static_cast<xcb_window_t>(window->winId());
  const xcb_atom_t netName = atom(c, "_NET_WM_NAME");
  const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
  if (netName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, netName, utf8, 8, 0, "");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, "");
  xcb_flush(c);
#else
  (void)window;
#endif
}

}  // namespace ku::ui
