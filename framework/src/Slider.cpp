// Slider on a QSlider. Upright when taller than wide; an upright slider holds
// its Minimum at the top, as on the original platform, and the wheel turned
// away from the player moves its thumb up (toward the Minimum).
//
// The groove and thumb are drawn in the widest strip of the slider's
// rectangle that no label of the window covers (labels often lie on a
// slider to show its value): an upright slider keeps its full height in the
// widest free column, a horizontal one its full width in the widest free
// row. Where no strip is wide enough for a thumb, the whole rectangle is used.
// Clicks outside the strip reach the control (MouseDown) but move nothing.
//
// Assigning Value from code clamps it to Minimum..Maximum and raises
// ValueChanged before it returns when the value changes; assigning the value
// it already has raises nothing. A change by the player (drag, click, key,
// wheel) raises ValueChanged once; with LiveScroll false a drag raises it on
// release.
#include <QSlider>
#include <QStyleOptionSlider>
#include <algorithm>
#include <utility>
#include <vector>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"
#include "rb/Window.h"

namespace rb {
namespace {

// The narrowest strip a thumb fits in.
constexpr int kMinimumTrack = 16;

// The free parts of [0, length) once the covered intervals are taken out;
// the widest one (the first of equals), or an empty pair when none.
std::pair<int, int> WidestFreeInterval(int length, std::vector<std::pair<int, int>> covered) {
  std::sort(covered.begin(), covered.end());
  std::pair<int, int> best{0, 0};
  int from = 0;
  auto consider = [&best](int begin, int end) {
    if (end - begin > best.second - best.first) best = {begin, end};
  };
  for (const auto& [begin, end] : covered) {
    if (begin > from) consider(from, begin);
    from = std::max(from, end);
  }
  if (length > from) consider(from, length);
  return best;
}

class SliderBar : public QSlider {
 public:
  SliderBar() : QSlider(Qt::Horizontal) {}

 protected:
  // Every drawing and hit test of QSlider starts here: narrowing the
  // option's rectangle moves groove, thumb and mouse handling together.
  void initStyleOption(QStyleOptionSlider* option) const override {
    QSlider::initStyleOption(option);
    option->rect = Track();
  }

 private:
  // The strip of the widget that no label of the window covers.
  QRect Track() const {
    const RectControl* self = ControlOfWidget(this);
    const Window* window = self != nullptr ? self->GetWindow() : nullptr;
    if (window == nullptr) return rect();
    const QRect own = geometry();
    const bool upright = orientation() == Qt::Vertical;
    std::vector<std::pair<int, int>> covered;
    for (int i = 0; i < window->ControlCount(); ++i) {
      const Ref<StaticText> label = Cast<StaticText>(window->ControlAt(i));
      if (!label || !label->Visible()) continue;
      const QRect over = QRect(label->Left(), label->Top(), label->Width(), label->Height()).intersected(own);
      if (over.isEmpty()) continue;
      const QRect local = over.translated(-own.topLeft());
      covered.push_back(upright ? std::pair{local.left(), local.right() + 1}
                                : std::pair{local.top(), local.bottom() + 1});
    }
    const auto [begin, end] = WidestFreeInterval(upright ? width() : height(), std::move(covered));
    if (end - begin < kMinimumTrack) return rect();
    return upright ? QRect(begin, 0, end - begin, height()) : QRect(0, begin, width(), end - begin);
  }
};

QSlider& Bar(const RectControl& control) { return WidgetOf<QSlider>(control); }

}  // namespace

void OrientSlider(QSlider& bar, bool upright) {
  bar.setOrientation(upright ? Qt::Vertical : Qt::Horizontal);
  bar.setInvertedAppearance(upright);
  bar.setInvertedControls(upright);
}

Slider::Slider() {
  auto* slider = new SliderBar;
  slider->setTracking(true);
  // No keyboard focus, as on the original platform: keys belong to the
  // window's KeyDown (AcceptFocus true gives it focus).
  slider->setFocusPolicy(Qt::NoFocus);
  SetWidget(slider);
  StartFromDefaults(kBoxDefaults);
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
