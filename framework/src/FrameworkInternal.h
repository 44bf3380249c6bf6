// Pieces shared by the framework's GUI sources; not part of the public API.
#pragma once

#include <QColor>
#include <QString>
#include <functional>

#include "rb/String.h"
#include "rb/Variant.h"

class QKeyEvent;
class QObject;
class QEvent;
class QWidget;

namespace rb {

class Window;

// Runs fn on behalf of Qt (a signal, an event, a queued call). An exception
// that escapes is kept and every running event loop is told to end; the
// loop's owner (RuntimeRun, ProcessEvents, ShowModal) raises it again.
void RunGuarded(const std::function<void()>& fn) noexcept;
// Raises the exception kept by RunGuarded, if any, and forgets it.
void RethrowPendingException();

// Marks a running event loop of ours (RuntimeRun, ShowModal, MsgBox) while
// it lives. Telling loops to end when none runs would make the next one end
// at once, so RunGuarded and Quit only do it inside one.
class EventLoopScope {
 public:
  EventLoopScope();
  ~EventLoopScope();
  EventLoopScope(const EventLoopScope&) = delete;
  EventLoopScope& operator=(const EventLoopScope&) = delete;
  static bool AnyRunning() noexcept;
};

QString ToQString(const String& s);
String FromQString(const QString& s);
// A colour given as 0xRRGGBB (number) or "RRGGBB" (text; "#" or "&h" allowed).
QColor ColorFromVariant(const Variant& v);

// Keyboard tracking; called by the application for every key event.
void TrackKeyEvent(const QKeyEvent& event);
void ForgetAllKeys();

// The widget that holds a window's controls.
QWidget* ContentWidgetOf(const Window& window);

// Window bookkeeping kept by ImplicitWindows.cpp.
void RegisterOpenWindow(Window* window);
void UnregisterWindow(Window* window);
// The window whose widget this is (or holds it); null for one nobody holds.
Window* WindowOfWidget(const QObject* object);
// Re-reads which menu items can be chosen (some open window handles them),
// and lets every window answer the menus' shortcuts. UI thread.
void RefreshMenuEnabling();

// Key and wheel routing to windows and controls; true when consumed.
bool DispatchWindowEvent(QObject* receiver, QEvent* event);

}  // namespace rb
