// Slider on a QSlider. Upright when taller than wide; Qt puts the Minimum of
// an upright slider at the bottom.
//
// Assigning Value from code clamps it to Minimum..Maximum and raises
// ValueChanged before it returns when the value changes; assigning the value
// it already has raises nothing. A change by the player (drag, click, key,
// wheel) raises ValueChanged once; with LiveScroll false a drag raises it on
// release.
#include <QSlider>
#include <algorithm>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"

namespace rb {
namespace {
QSlider& Bar(const RectControl& control) { return WidgetOf<QSlider>(control); }
}  // namespace

Slider::Slider() {
  auto* slider = new QSlider(Qt::Horizontal);
  slider->setTracking(true);
  // No keyboard focus, as on the original platform: keys belong to the
  // window's KeyDown (AcceptFocus true gives it focus).
  slider->setFocusPolicy(Qt::NoFocus);
  SetWidget(slider);
  QObject::connect(slider, &QSlider::valueChanged, slider,
                   [this](int) { RaiseForQt(*this, "ValueChanged"); });
}

int Slider::Minimum() const { return Bar(*this).minimum(); }
int Slider::Maximum() const { return Bar(*this).maximum(); }
int Slider::Value() const { return Bar(*this).value(); }
bool Slider::IsVertical() const { return IsVerticalGeometry(Width(), Height()); }

// Qt keeps the value in range as the range moves; such a change is a change
// of Value and is raised like one.
void Slider::SetMinimum(int v) {
  QSlider& bar = Bar(*this);
  const int before = bar.value();
  {
    const QSignalBlocker quiet(&bar);
    bar.setMinimum(v);
  }
  if (bar.value() != before) RaiseEvent<void>("ValueChanged");
}

void Slider::SetMaximum(int v) {
  QSlider& bar = Bar(*this);
  const int before = bar.value();
  {
    const QSignalBlocker quiet(&bar);
    bar.setMaximum(v);
  }
  if (bar.value() != before) RaiseEvent<void>("ValueChanged");
}

void Slider::SetValue(int v) {
  QSlider& bar = Bar(*this);
  const int clamped = std::clamp(v, bar.minimum(), bar.maximum());
  if (clamped == bar.value()) return;
  {
    const QSignalBlocker quiet(&bar);
    bar.setValue(clamped);
  }
  RaiseEvent<void>("ValueChanged");
}

void Slider::SetProperty(const String& name, const Variant& value) {
  QSlider& bar = Bar(*this);
  if (name == "Minimum")
    SetMinimum(value.IntegerValue());
  else if (name == "Maximum")
    SetMaximum(value.IntegerValue());
  else if (name == "Value")
    SetValue(value.IntegerValue());
  else if (name == "LineStep")
    bar.setSingleStep(value.IntegerValue());
  else if (name == "PageStep")
    bar.setPageStep(value.IntegerValue());
  else if (name == "LiveScroll")
    bar.setTracking(value.BooleanValue());
  else {
    RectControl::SetProperty(name, value);
    return;
  }
  StoreProperty(name, value);
}

Variant Slider::Property(const String& name) const {
  const QSlider& bar = Bar(*this);
  if (name == "Minimum") return bar.minimum();
  if (name == "Maximum") return bar.maximum();
  if (name == "Value") return bar.value();
  if (name == "LineStep") return bar.singleStep();
  if (name == "PageStep") return bar.pageStep();
  if (name == "LiveScroll") return bar.hasTracking();
  return RectControl::Property(name);
}

}  // namespace rb
