// Windows on a top-level QWidget: properties, construction, showing, closing.
//
// The top-level widget holds the menu bar (when the window has one) above a
// content widget of Width x Height that holds the controls. A window that is
// not Resizeable has its size fixed for the window manager too (minimum =
// maximum in its size hints); a window shown modally is a dialog kept with
// the window it blocks.
#include "rb/Window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QScreen>
#include <QVBoxLayout>

#include "FrameworkInternal.h"
#include "NativeWindow.h"
#include "RectControlImpl.h"
#include "WindowImpl.h"

namespace rb {
namespace {

// Holds the controls; asks for the window's Width x Height.
class ContentWidget : public QWidget {
 public:
  using QWidget::QWidget;
  QSize hint{300, 300};
  QSize sizeHint() const override { return hint; }
};

// The close box asks the window; the window itself decides and hides.
class TopWidget : public QWidget {
 public:
  using QWidget::QWidget;

  // Hides the window and lets its native window go; the next showing makes
  // a new one. Unmapping a window and mapping it again at once races with
  // the window manager, which may still be withdrawing the old mapping (and
  // erase the new one's state) when the new one arrives.
  void DropNativeWindow() {
    hide();
    if (windowHandle() != nullptr) destroy(true, true);
  }

 protected:
  // Qt writes a title (the application's name) whenever it makes the native
  // window or sets its title; an untitled window has it taken out again
  // before the window manager sees the window.
  bool event(QEvent* event) override {
    const bool result = QWidget::event(event);
    switch (event->type()) {
      case QEvent::WinIdChange:
      case QEvent::Show:
      case QEvent::WindowTitleChange:
        ClearEmptyNativeTitle(*this);
        break;
      default:
        break;
    }
    return result;
  }

  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    // Looked up, not kept: the window may be gone while this waits to be
    // deleted. Held, since a Close handler may drop the last reference.
    Ref<Window> window(WindowOfWidget(this));
    if (window) RunGuarded([&] { window->Close(); });
  }
};

}  // namespace

QWidget* ContentWidgetOf(const Window& window) {
  QWidget* top = window.Widget();
  return top != nullptr ? top->findChild<QWidget*>(QStringLiteral("rbContent"), Qt::FindDirectChildrenOnly)
                        : nullptr;
}

Window::Window() : impl_(std::make_unique<Impl>()) {
  auto* top = new TopWidget;
  impl_->top = top;
  top->setProperty("rbWindow", QVariant::fromValue<void*>(this));
  impl_->layout = new QVBoxLayout(top);
  impl_->layout->setContentsMargins(0, 0, 0, 0);
  impl_->layout->setSpacing(0);
  impl_->content = new ContentWidget(top);
  impl_->content->setObjectName(QStringLiteral("rbContent"));
  impl_->layout->addWidget(impl_->content);
  impl_->content->resize(impl_->width, impl_->height);
  // What the window already is; Title, Width, Height and Visible read back
  // from the window itself.
  static const PropertyList defaults = {
      {"MinWidth", 64},        {"MinHeight", 64},        {"MaxWidth", 32000},
      {"MaxHeight", 32000},    {"Placement", 0},         {"Frame", 0},
      {"CloseButton", true},   {"MinimizeButton", true}, {"MaximizeButton", true},
      {"Resizeable", true},    {"LiveResize", true},     {"HasBackColor", false},
      {"BackColor", "FFFFFF"}, {"MenuBarVisible", true}, {"Composite", false},
      {"FullScreen", false},   {"BalloonHelp", ""},      {"MacProcID", 0},
  };
  for (const auto& [name, value] : defaults) StoreProperty(name, value);
}

Window::~Window() {
  for (const Ref<Control>& control : impl_->controls) control->window_ = nullptr;
  impl_->controls.clear();
  if (QWidget* top = impl_->top) {
    top->setProperty("rbWindow", QVariant());
    top->hide();
    // Later, not now: the window may be freed from inside one of the widget's
    // own event handlers (its close box).
    top->deleteLater();
  }
}

QWidget* Window::Widget() const noexcept { return impl_->top.data(); }

void Window::Impl::ApplySize() {
  Impl& impl = *this;
  QWidget* content = impl.content;
  // The layout passes the content's limits on to the top-level widget,
  // whose size hints the window manager follows.
  if (impl.resizeable) {
    content->setMinimumSize(impl.minWidth, impl.minHeight);
    content->setMaximumSize(std::max(impl.minWidth, impl.maxWidth), std::max(impl.minHeight, impl.maxHeight));
    impl.layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
  } else {
    content->setFixedSize(impl.width, impl.height);
    impl.layout->setSizeConstraint(QLayout::SetFixedSize);
  }
  static_cast<ContentWidget*>(content)->hint = QSize(impl.width, impl.height);
  content->updateGeometry();
  content->resize(impl.width, impl.height);
  if (impl.top) impl.top->adjustSize();
}

void Window::Impl::ApplyFlags(bool reshow) {
  Impl& impl = *this;
  QWidget* top = impl.top;
  if (top == nullptr) return;
  Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  switch (impl.frame) {
    case 1:
    case 2:
    case 8:
      flags |= Qt::Dialog;
      break;
    case 3:
    case 7:
      flags |= Qt::Tool;
      break;
    case 4:
    case 5:
    case 6:
      flags |= Qt::Window | Qt::FramelessWindowHint;
      break;
    default:
      flags |= Qt::Window;
      break;
  }
  if (impl.modal) flags = (flags & ~Qt::WindowType_Mask) | Qt::Dialog;
  if (impl.closeButton) flags |= Qt::WindowCloseButtonHint;
  if (impl.minimizeButton) flags |= Qt::WindowMinimizeButtonHint;
  if (impl.maximizeButton && impl.resizeable) flags |= Qt::WindowMaximizeButtonHint;
  if (top->windowFlags() == flags) return;
  const bool shown = top->isVisible();
  top->setWindowFlags(flags);  // hides the widget
  if (shown && reshow) top->show();
}

void Window::Impl::PlaceOnScreen() {
  Impl& impl = *this;
  if (impl.placed || !impl.top) return;
  impl.placed = true;
  if (impl.placement != 2 && impl.placement != 3 && impl.placement != 1) return;
  // 1 (over the parent), 2 and 3 (centred on the main screen) all centre here.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    const QSize size = impl.top->sizeHint().expandedTo(impl.top->size());
    impl.top->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
  }
}

void Window::Impl::FinishClose(Window& window) {
  closing = true;
  closed = true;
  window.RaiseEvent<void>("Close");
  if (top) top->hide();
  open = false;
  visible = false;
  if (modalLoop != nullptr) modalLoop->quit();
  // Menu handlers are bound to this window; a closed window takes no choices.
  menuHandlers.clear();
  UnregisterWindow(&window);
  closing = false;
  RefreshMenuEnabling();
}

void Window::SetProperty(const String& name, const Variant& value) {
  StoreProperty(name, value);
  Impl& impl = *impl_;
  if (name == "Title") {
    impl.title = value.StringValue();
    impl.top->setWindowTitle(ToQString(impl.title));
  } else if (name == "Width")
    SetWidth(value.IntegerValue());
  else if (name == "Height")
    SetHeight(value.IntegerValue());
  else if (name == "MinWidth") {
    impl.minWidth = value.IntegerValue();
    impl.ApplySize();
  } else if (name == "MinHeight") {
    impl.minHeight = value.IntegerValue();
    impl.ApplySize();
  } else if (name == "MaxWidth") {
    impl.maxWidth = value.IntegerValue();
    impl.ApplySize();
  } else if (name == "MaxHeight") {
    impl.maxHeight = value.IntegerValue();
    impl.ApplySize();
  } else if (name == "Resizeable") {
    impl.resizeable = value.BooleanValue();
    impl.ApplySize();
    impl.ApplyFlags();
  } else if (name == "Placement")
    impl.placement = value.IntegerValue();
  else if (name == "Frame") {
    impl.frame = value.IntegerValue();
    impl.ApplyFlags();
  } else if (name == "CloseButton") {
    impl.closeButton = value.BooleanValue();
    impl.ApplyFlags();
  } else if (name == "MinimizeButton") {
    impl.minimizeButton = value.BooleanValue();
    impl.ApplyFlags();
  } else if (name == "MaximizeButton") {
    impl.maximizeButton = value.BooleanValue();
    impl.ApplyFlags();
  } else if (name == "Visible")
    SetVisible(value.BooleanValue());
  else if (name == "HasBackColor" || name == "BackColor") {
    const bool has = StoredProperty("HasBackColor").BooleanValue();
    QPalette palette = impl.content->palette();
    palette.setColor(QPalette::Window, has ? ColorFromVariant(StoredProperty("BackColor"))
                                           : QApplication::palette().color(QPalette::Window));
    impl.content->setPalette(palette);
    impl.content->setAutoFillBackground(has);
  }
}

Variant Window::Property(const String& name) const {
  if (name == "Title") return Title();
  if (name == "Width") return Width();
  if (name == "Height") return Height();
  if (name == "Visible") return Visible();
  return StoredProperty(name);
}

String Window::Title() const { return impl_->title; }
int Window::Width() const { return impl_->width; }
void Window::SetWidth(int v) {
  impl_->width = std::max(0, v);
  impl_->ApplySize();
}
int Window::Height() const { return impl_->height; }
void Window::SetHeight(int v) {
  impl_->height = std::max(0, v);
  impl_->ApplySize();
}

bool Window::Visible() const { return impl_->visible; }

void Window::SetVisible(bool v) {
  impl_->visible = v;
  if (!impl_->constructed) return;  // Construct shows it at the end
  if (v)
    Show();
  else if (impl_->top)
    impl_->top->hide();
}

bool Window::IsOpen() const noexcept { return impl_->open; }

void Window::Construct() {
  Ref<Window> keep(this);
  impl_->ApplyFlags();
  impl_->ApplySize();
  RegisterOpenWindow(this);
  impl_->open = true;
  RaiseEvent<void>("Layout");
  RaiseEvent<void>("CreateControls");
  RaiseEvent<void>("AddMenuHandlers");
  // A control's Open may add or remove controls: walk a copy.
  const std::vector<Ref<Control>> controls = impl_->controls;
  for (const Ref<Control>& control : controls) control->RaiseOpen();
  RaiseEvent<void>("Open");
  impl_->constructed = true;
  if (impl_->visible && impl_->open) Show();
}

void Window::Show() {
  if (impl_->closed) return;
  impl_->visible = true;
  impl_->constructed = true;
  if (!impl_->open && !impl_->closing) {
    RegisterOpenWindow(this);
    impl_->open = true;
  }
  QWidget* top = impl_->top;
  if (top == nullptr) return;
  impl_->ApplyFlags(false);
  if (impl_->modal) {
    if (QWidget* blocked = WindowBlockedBy(top)) {
      // The window manager reads what a window is for when it is mapped: a
      // window already shown is shown anew as the dialog it has become.
      static_cast<TopWidget*>(top)->DropNativeWindow();
      MakeTransientFor(*top, *blocked);
    }
  }
  top->adjustSize();
  impl_->PlaceOnScreen();
  top->show();
  // The offscreen platform has no stacking (and says so on every raise).
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) top->raise();
  top->activateWindow();
  RefreshMenuEnabling();
}

void Window::ShowModal() {
  Ref<Window> keep(this);
  QWidget* top = impl_->top;
  if (top == nullptr) return;
  top->setWindowModality(Qt::ApplicationModal);
  impl_->modal = true;
  Show();
  if (impl_->open) {
    QEventLoop loop;
    impl_->modalLoop = &loop;
    EventLoopScope running;
    loop.exec();
    impl_->modalLoop = nullptr;
  }
  impl_->modal = false;
  if (impl_->top) impl_->top->setWindowModality(Qt::NonModal);
  RethrowPendingException();
}

bool Window::Close() {
  Ref<Window> keep(this);  // the lists may hold the last reference
  if (!impl_->open || impl_->closing) return false;
  if (RaiseEvent<bool, bool>("CancelClose", false)) return false;
  if (!impl_->open || impl_->closing) return false;  // closed from the handler
  impl_->FinishClose(*this);
  return true;
}

bool Window::CloseForQuit() {
  Ref<Window> keep(this);
  if (!impl_->open || impl_->closing) return true;
  if (RaiseEvent<bool, bool>("CancelClose", true)) return false;
  if (!impl_->open || impl_->closing) return true;
  impl_->FinishClose(*this);
  return true;
}

void Window::Attach(const Ref<Control>& control, const String& name, int index) {
  if (!control) ThrowNilObject();
  impl_->controls.push_back(control);
  control->AttachTo(*this, name, index);
}

int Window::ControlCount() const { return int(impl_->controls.size()); }

Ref<Control> Window::ControlAt(int i) const {
  if (i < 0 || i >= ControlCount()) return nullptr;
  return impl_->controls[size_t(i)];
}

Ref<Control> Window::FindControl(const String& name, int index) const {
  for (const Ref<Control>& control : impl_->controls) {
    if (control->Name() == name && control->Index() == index) return control;
  }
  return nullptr;
}

bool Window::SaveScreenshot(const String& pngPath) const {
  QWidget* top = impl_->top;
  if (top == nullptr) return false;
  top->ensurePolished();
  top->adjustSize();
  // The content only (Width x Height), without the menu bar above it.
  return impl_->content->grab().save(ToQString(pngPath), "PNG");
}

}  // namespace rb
