// The window manager's view of our windows on X11, where Qt leaves a gap.
#include "NativeWindow.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "FrameworkInternal.h"
#include "rb/Window.h"

namespace rb {
namespace {

xcb_connection_t* X11Connection() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
  const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

}  // namespace

void ClearEmptyNativeTitle(QWidget& top) {
  if (!top.windowTitle().isEmpty() || !top.testAttribute(Qt::WA_WState_Created)) return;
  xcb_connection_t* connection = X11Connection();
  if (connection == nullptr) return;
  const auto window = xcb_window_t(top.winId());
  // Empty, not absent: a window manager that finds no name at all may make
  // one up ("Unnamed Window").
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, "");
  const xcb_atom_t netName = Atom(connection, "_NET_WM_NAME");
  const xcb_atom_t utf8 = Atom(connection, "UTF8_STRING");
  if (netName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, netName, utf8, 8, 0, "");
  xcb_flush(connection);
}

void MakeTransientFor(QWidget& dialog, QWidget& blocked) {
  dialog.winId();
  blocked.winId();
  QWindow* handle = dialog.windowHandle();
  if (handle == nullptr) return;
  handle->setTransientParent(blocked.windowHandle());
  // A native window made before the widget is shown has not been told yet.
  handle->setModality(dialog.windowModality());
}

QWidget* WindowBlockedBy(const QWidget* dialog) {
  QWidget* active = QApplication::activeWindow();
  if (active != nullptr && active != dialog && active->isVisible()) return active;
  const Array<Ref<Window>> open = OpenWindows();
  for (int i = open.LastIndex(); i >= 0; --i) {
    QWidget* top = open[i]->Widget();
    if (top != nullptr && top != dialog && top->isVisible()) return top;
  }
  return nullptr;
}

}  // namespace rb
