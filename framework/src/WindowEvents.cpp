// Keys and the mouse wheel, routed to windows and controls before Qt's own
// handling.
//
// KeyDown gets the key's text (QKeyEvent::text(); "" for keys without text,
// such as the arrows, which handlers read from Keyboard). Only keys typed to
// the window itself reach it: not those typed while a menu or a list's
// drop-down is open (an open menu hands the keys it does not use to its menu
// bar, a child of the window), nor those typed to the menu bar. A key the KeyDown
// handler doesn't take goes on: Return presses the window's Default push
// button and Escape its Cancel button, then the focused widget has it.
//
// The wheel goes to the control under it ("MouseWheel"), then to the window.
// dy counts wheel steps (120 units of Qt's angle delta make one); positive
// when the wheel turns toward the user (scrolling down), as rows go. Over a
// PopupMenu with a MouseWheel handler Qt's own wheel handling is skipped even
// when the handler returns false, since the handler moves the selection
// itself and the list would move twice.
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QWheelEvent>
#include <QWidget>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"
#include "rb/Window.h"

namespace rb {
namespace {

bool PressButtonFor(Window& window, const char* property) {
  for (int i = 0; i < window.ControlCount(); ++i) {
    Ref<PushButton> button = Cast<PushButton>(window.ControlAt(i));
    if (button && button->Property(property).BooleanValue() && button->Enabled() && button->Visible()) {
      button->Push();
      return true;
    }
  }
  return false;
}

// Whether the key belongs to a menu: one is open, or the menu bar has the
// keyboard.
bool TypedToAMenu(const QObject* receiver) {
  if (QApplication::activePopupWidget() != nullptr) return true;
  for (; receiver != nullptr; receiver = receiver->parent()) {
    if (qobject_cast<const QMenuBar*>(receiver) != nullptr || qobject_cast<const QMenu*>(receiver) != nullptr)
      return true;
  }
  return false;
}

bool DispatchKey(Window& window, QObject* receiver, QKeyEvent& event) {
  if (event.type() != QEvent::KeyPress) return false;
  if (TypedToAMenu(receiver)) return false;
  // Shortcuts with Ctrl or Alt belong to the menus.
  if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  if (window.RaiseEvent<bool, String>("KeyDown", FromQString(event.text()))) return true;
  if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) return PressButtonFor(window, "Default");
  if (event.key() == Qt::Key_Escape) return PressButtonFor(window, "Cancel");
  return false;
}

bool DispatchWheel(Window& window, QObject* receiver, QWheelEvent& event) {
  // Partial steps (high-resolution wheels) add up on the window's widget.
  QWidget* top = window.Widget();
  int restX = top->property("rbWheelRestX").toInt() + event.angleDelta().x();
  int restY = top->property("rbWheelRestY").toInt() - event.angleDelta().y();  // Qt: + is away from the user
  const int dx = restX / 120, dy = restY / 120;
  top->setProperty("rbWheelRestX", restX % 120);
  top->setProperty("rbWheelRestY", restY % 120);
  RectControl* control = ControlOfWidget(receiver);
  const bool popup =
      control != nullptr && dynamic_cast<PopupMenu*>(control) != nullptr && control->HasHandler("MouseWheel");
  if (dx == 0 && dy == 0) return popup;  // a partial step: wait for the rest
  const QPointF global = event.globalPosition();
  if (control != nullptr && control->Widget() != nullptr) {
    const QPoint at = control->Widget()->mapFromGlobal(global).toPoint();
    if (control->RaiseEvent<bool, int, int, int, int>("MouseWheel", at.x(), at.y(), dx, dy)) return true;
  }
  const QPoint at = ContentWidgetOf(window)->mapFromGlobal(global).toPoint();
  if (window.RaiseEvent<bool, int, int, int, int>("MouseWheel", at.x(), at.y(), dx, dy)) return true;
  return popup;
}

}  // namespace

bool DispatchWindowEvent(QObject* receiver, QEvent* event) {
  Window* found = WindowOfWidget(receiver);
  if (found == nullptr) return false;
  Ref<Window> window(found);
  if (event->type() == QEvent::Wheel)
    return DispatchWheel(*window, receiver, static_cast<QWheelEvent&>(*event));
  return DispatchKey(*window, receiver, static_cast<QKeyEvent&>(*event));
}

}  // namespace rb
