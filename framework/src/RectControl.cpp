// Controls with a rectangle on a window: geometry, visibility, tool tip,
// mouse events, and the text properties shared by the controls that show
// text.
#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QSlider>
#include <QVariant>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"
#include "rb/Window.h"

namespace rb {
namespace {

constexpr const char* kControlProperty = "rbControl";

const PropertyList& PlacementDefaults() {
  static const PropertyList defaults = {{"InitialParent", ""}, {"TabPanelIndex", 0}, {"Visible", true}};
  return defaults;
}
const PropertyList& BoxDefaults() {
  static const PropertyList defaults = {
      {"LockLeft", false}, {"LockTop", false}, {"LockRight", false},     {"LockBottom", false},
      {"Enabled", true},   {"HelpTag", ""},    {"AutoDeactivate", true},
  };
  return defaults;
}
const PropertyList& TextDefaults() {
  static const PropertyList defaults = {
      {"TextFont", "System"}, {"TextSize", 0}, {"Bold", false}, {"Italic", false}, {"Underline", false},
  };
  return defaults;
}
const PropertyList& DataBindingDefaults() {
  static const PropertyList defaults = {{"DataSource", ""}, {"DataField", ""}};
  return defaults;
}

// Raises the control's mouse events before the widget sees the mouse: a
// MouseDown handler that returns true takes the click from the widget.
class MouseEventFilter : public QObject {
 public:
  explicit MouseEventFilter(QWidget* widget) : QObject(widget) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != parent()) return false;
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseMove:
      case QEvent::Enter:
      case QEvent::Leave:
        break;
      default:
        return false;
    }
    // Looked up each time: the control may be gone while its widget waits to
    // be deleted. Held while a handler runs, which may close the window; an
    // object nobody holds yet (or any more) is left alone.
    auto* raw = static_cast<RectControl*>(watched->property(kControlProperty).value<void*>());
    if (raw == nullptr || raw->RefCount() == 0) return false;
    Ref<RectControl> control(raw);
    bool consumed = false;
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) break;
        const QPoint p = mouse->position().toPoint();
        RunGuarded([&] { mouseTaken_ = control->RaiseEvent<bool, int, int>("MouseDown", p.x(), p.y()); });
        consumed = mouseTaken_;
        break;
      }
      case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !mouseTaken_) break;
        mouseTaken_ = false;
        const QPoint p = mouse->position().toPoint();
        RunGuarded([&] { control->RaiseEvent<void, int, int>("MouseUp", p.x(), p.y()); });
        consumed = true;
        break;
      }
      case QEvent::MouseMove:
        consumed = mouseTaken_;  // the widget never saw the press
        break;
      case QEvent::Enter:
        RunGuarded([&] { control->RaiseEvent<void>("MouseEnter"); });
        break;
      case QEvent::Leave:
        RunGuarded([&] { control->RaiseEvent<void>("MouseExit"); });
        break;
      default:
        break;
    }
    return consumed;
  }

 private:
  bool mouseTaken_ = false;  // a MouseDown handler took the press
};

}  // namespace

RectControl* ControlOfWidget(const QObject* object) {
  for (; object != nullptr; object = object->parent()) {
    const QVariant v = object->property(kControlProperty);
    if (v.isValid()) return static_cast<RectControl*>(v.value<void*>());
    if (object->isWidgetType() && static_cast<const QWidget*>(object)->isWindow()) break;
  }
  return nullptr;
}

void RaiseForQt(RectControl& control, std::string_view event) {
  if (control.RefCount() == 0) return;
  Ref<RectControl> keep(&control);
  RunGuarded([&] { control.RaiseEvent<void>(event); });
}

bool ApplyFontProperty(QWidget& widget, const String& name, const Variant& value) {
  QFont font = widget.font();
  if (name == "Bold")
    font.setBold(value.BooleanValue());
  else if (name == "Italic")
    font.setItalic(value.BooleanValue());
  else if (name == "Underline")
    font.setUnderline(value.BooleanValue());
  else if (name == "TextSize") {
    // Sizes are points of a 72-dpi screen, that is pixels: a 12-pixel-high
    // label holds 10-point text. 0 stands for the standard size of the font.
    const int size = value.IntegerValue();
    const QFont standard = QApplication::font();
    if (size > 0)
      font.setPixelSize(size);
    else if (standard.pixelSize() > 0)
      font.setPixelSize(standard.pixelSize());
    else
      font.setPointSizeF(standard.pointSizeF());
  } else if (name == "TextFont") {
    const String family = value.StringValue();
    const bool standard = family.empty() || family == "System" || family == "SmallSystem";
    font.setFamily(standard ? QApplication::font().family() : ToQString(family));
  } else {
    return false;
  }
  widget.setFont(font);
  return true;
}

RectControl::RectControl() : impl_(std::make_unique<Impl>()) {}

RectControl::~RectControl() {
  QWidget* widget = impl_->widget;
  if (widget == nullptr) return;  // its window already took it down
  // The control may go from inside one of its widget's own signals or
  // events (a button whose Action closes the window): cut the widget off
  // from the control now and delete it once Qt is done with it.
  widget->setProperty(kControlProperty, QVariant());
  QObject::disconnect(widget, nullptr, nullptr, nullptr);
  widget->hide();
  if (QCoreApplication::instance() != nullptr)
    widget->deleteLater();
  else
    delete widget;
}

QWidget* RectControl::Widget() const noexcept { return impl_->widget.data(); }

void RectControl::SetWidget(QWidget* widget) {
  impl_->widget = widget;
  widget->setProperty(kControlProperty, QVariant::fromValue<void*>(this));
  widget->setAttribute(Qt::WA_Hover, true);
  widget->installEventFilter(new MouseEventFilter(widget));
  widget->hide();  // shown once it lies on a window
}

void RectControl::StartFromDefaults(unsigned sets) {
  ApplyProperties(PlacementDefaults());
  if (sets & kBoxDefaults) ApplyProperties(BoxDefaults());
  if (sets & kTextDefaults) ApplyProperties(TextDefaults());
  if (sets & kDataBindingDefaults) ApplyProperties(DataBindingDefaults());
}

void RectControl::AttachTo(Window& window, const String& name, int index) {
  Control::AttachTo(window, name, index);
  if (QWidget* widget = impl_->widget) {
    widget->setParent(ContentWidgetOf(window));
    ApplyGeometry();
    widget->setVisible(impl_->visible);
  }
}

void RectControl::ApplyGeometry() {
  QWidget* widget = impl_->widget;
  if (widget == nullptr) return;
  const int w = impl_->width + impl_->penExtent;
  const int h = impl_->height + impl_->penExtent;
  widget->setGeometry(impl_->left, impl_->top, w, h);
  if (auto* slider = qobject_cast<QSlider*>(widget))
    OrientSlider(*slider, IsVerticalGeometry(impl_->width, impl_->height));
}

int RectControl::Left() const { return impl_->left; }
void RectControl::SetLeft(int v) {
  impl_->left = v;
  ApplyGeometry();
}
int RectControl::Top() const { return impl_->top; }
void RectControl::SetTop(int v) {
  impl_->top = v;
  ApplyGeometry();
}
int RectControl::Width() const { return impl_->width; }
void RectControl::SetWidth(int v) {
  impl_->width = std::max(0, v);
  ApplyGeometry();
}
int RectControl::Height() const { return impl_->height; }
void RectControl::SetHeight(int v) {
  impl_->height = std::max(0, v);
  ApplyGeometry();
}

bool RectControl::Visible() const { return impl_->visible; }
void RectControl::SetVisible(bool v) {
  impl_->visible = v;
  if (impl_->widget && window_ != nullptr) impl_->widget->setVisible(v);
}

bool RectControl::Enabled() const { return impl_->enabled; }
void RectControl::SetEnabled(bool v) {
  impl_->enabled = v;
  if (impl_->widget) impl_->widget->setEnabled(v);
}

String RectControl::HelpTag() const { return impl_->helpTag; }
void RectControl::SetHelpTag(const String& v) {
  impl_->helpTag = v;
  if (impl_->widget) impl_->widget->setToolTip(ToQString(v));
}

void RectControl::SetProperty(const String& name, const Variant& value) {
  StoreProperty(name, value);
  if (name == "Left")
    SetLeft(value.IntegerValue());
  else if (name == "Top")
    SetTop(value.IntegerValue());
  else if (name == "Width")
    SetWidth(value.IntegerValue());
  else if (name == "Height")
    SetHeight(value.IntegerValue());
  else if (name == "Visible")
    SetVisible(value.BooleanValue());
  else if (name == "Enabled")
    SetEnabled(value.BooleanValue());
  else if (name == "HelpTag")
    SetHelpTag(value.StringValue());
  else if (name == "AcceptFocus" && impl_->widget) {
    // A control that takes no focus leaves the keys where they were.
    impl_->widget->setFocusPolicy(value.BooleanValue() ? Qt::StrongFocus : Qt::NoFocus);
  } else if (impl_->widget)
    ApplyFontProperty(*impl_->widget, name, value);
}

Variant RectControl::Property(const String& name) const {
  if (name == "Left") return Left();
  if (name == "Top") return Top();
  if (name == "Width") return Width();
  if (name == "Height") return Height();
  if (name == "Visible") return Visible();
  if (name == "Enabled") return Enabled();
  if (name == "HelpTag") return HelpTag();
  return StoredProperty(name);
}

}  // namespace rb
