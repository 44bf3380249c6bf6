// Runtime start, the event loop, quitting and exit on a QApplication.
#include "rb/Runtime.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QThread>
#include <cstdio>
#include <memory>

#include "FrameworkInternal.h"
#include "chimewick/Log.h"
#include "rb/Dialogs.h"
#include "rb/Window.h"

namespace rb {
namespace {

// Every key and wheel event passes here once, with its first receiver, before
// Qt hands it up the widget chain: the one place to track keys and route
// them to the window.
class RbApplication : public QApplication {
 public:
  RbApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  bool notify(QObject* receiver, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        TrackKeyEvent(static_cast<const QKeyEvent&>(*event));
        [[fallthrough]];
      case QEvent::Wheel: {
        bool consumed = false;
        RunGuarded([&] { consumed = DispatchWindowEvent(receiver, event); });
        if (consumed) return true;
        break;
      }
      case QEvent::ApplicationDeactivate:
        ForgetAllKeys();  // key releases go elsewhere while inactive
        break;
      case QEvent::ApplicationStateChange:
        // Hidden or suspended may follow Active with no Deactivate between.
        if (static_cast<const QApplicationStateChangeEvent&>(*event).applicationState() !=
            Qt::ApplicationActive)
          ForgetAllKeys();
        break;
      default:
        break;
    }
    return QApplication::notify(receiver, event);
  }
};

struct RuntimeState {
  std::unique_ptr<RbApplication> app;
  int exitCode = 0;
  bool quitting = false;  // Quit ran; RuntimeRun returns (or won't start)
  bool running = false;   // inside RuntimeRun
  bool appOpened = false;
  std::exception_ptr pending;  // escaped from a handler that Qt called
};

// Never destroyed: the QApplication must not go down with the other statics
// at exit (RuntimeExit takes it down in order).
RuntimeState& State() {
  static RuntimeState& state = *new RuntimeState;
  return state;
}

int loopsRunning = 0;

std::string DescribeException(const std::exception& e) {
  if (const auto* rte = dynamic_cast<const RuntimeException*>(&e))
    return rte->ClassName() + (rte->Message.empty() ? "" : ": " + rte->Message);
  return e.what();
}

void RaiseAppEvent(const char* name) {
  if (Ref<Application> app = RuntimeApp()) app->RaiseEvent<void>(name);
}

}  // namespace

EventLoopScope::EventLoopScope() { ++loopsRunning; }
EventLoopScope::~EventLoopScope() { --loopsRunning; }
bool EventLoopScope::AnyRunning() noexcept { return loopsRunning > 0; }

void RunGuarded(const std::function<void()>& fn) noexcept {
  try {
    fn();
  } catch (...) {
    RuntimeState& s = State();
    if (!s.pending) s.pending = std::current_exception();
    // Ends every running loop (modal ones too) so the exception reaches the
    // owner of the outermost loop.
    if (EventLoopScope::AnyRunning()) QCoreApplication::exit(s.exitCode);
  }
}

void RethrowPendingException() {
  if (auto e = std::exchange(State().pending, nullptr)) std::rethrow_exception(e);
}

void RuntimeInit(int& argc, char** argv) {
  RuntimeState& s = State();
  if (s.app) return;
  s.app = std::make_unique<RbApplication>(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);  // only Quit ends the loop
  QObject::connect(s.app.get(), &QGuiApplication::applicationStateChanged, s.app.get(),
                   [](Qt::ApplicationState state) {
                     if (state == Qt::ApplicationActive && State().running && !State().quitting)
                       RunGuarded([] { RaiseAppEvent("Activate"); });
                   });
}

bool RuntimeIsInitialised() noexcept { return State().app != nullptr; }

void RuntimeRun() {
  RuntimeState& s = State();
  if (!s.app) throw RuntimeException("RuntimeRun before RuntimeInit");
  struct Running {
    RuntimeState& s;
    explicit Running(RuntimeState& st) : s(st) { s.running = true; }
    ~Running() {
      s.running = false;
      s.quitting = false;
    }
  } running(s);
  RethrowPendingException();
  if (!s.quitting) {
    if (!s.appOpened && RuntimeApp()) {
      s.appOpened = true;  // once in the process's life
      RaiseAppEvent("Open");
    }
    // Starting counts as becoming active, so a hidden main window shows.
    if (!s.quitting) RaiseAppEvent("Activate");
    if (!s.quitting) {
      EventLoopScope loop;
      QApplication::exec();
    }
  }
  RethrowPendingException();
}

void RuntimeUnhandledException(const std::exception& e) {
  const std::string message = DescribeException(e);
  chimewick::frameworkLog.line("unhandled exception: %s", message.c_str());
  if (!State().app) return;
  // Handlers still run while the box shows (queued calls, timers). The
  // program is ending: a further fault is told, never thrown past here.
  try {
    MsgBox(String(message));
  } catch (const std::exception& further) {
    chimewick::frameworkLog.line("unhandled exception: %s", DescribeException(further).c_str());
  } catch (...) {
    chimewick::frameworkLog.line("unhandled exception of an unknown kind");
  }
}

int RuntimeExit() {
  RuntimeState& s = State();
  RuntimeRegisterAppObject(nullptr);
  if (s.app) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Windows still alive own widgets; the application must outlive them.
    if (QApplication::topLevelWidgets().isEmpty()) s.app.reset();
  }
  return s.exitCode;
}

void Quit(int code) {
  RuntimeState& s = State();
  s.exitCode = code;
  if (s.quitting) return;  // a Close handler quitting again changes nothing more
  s.quitting = true;
  for (const Ref<Window>& window : OpenWindows()) {
    if (!window->CloseForQuit()) {
      s.quitting = false;  // a window refused: the application goes on
      RefreshMenuEnabling();
      return;
    }
  }
  if (EventLoopScope::AnyRunning()) QCoreApplication::exit(code);
}

bool IsQuitting() noexcept { return State().quitting; }

void PostToEventLoop(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || !fn) return;
  QMetaObject::invokeMethod(
      app, [fn = std::move(fn)] { RunGuarded(fn); }, Qt::QueuedConnection);
}

void ProcessEvents(int maxMilliseconds) {
  if (QCoreApplication::instance() == nullptr) return;
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (maxMilliseconds > 0) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < maxMilliseconds) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, int(maxMilliseconds - timer.elapsed()));
      QThread::msleep(1);
    }
  }
  RethrowPendingException();
}

}  // namespace rb
