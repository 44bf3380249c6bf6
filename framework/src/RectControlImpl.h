// RectControl's private state, shared by the control classes' sources.
#pragma once

#include <QPointer>
#include <QWidget>
#include <string_view>

#include "rb/Controls.h"

class QSlider;

namespace rb {

struct RectControl::Impl {
  QPointer<QWidget> widget;
  int left = 0, top = 0, width = 0, height = 0;
  bool visible = true;
  bool enabled = true;
  String helpTag;
  // A line's pen covers both end points: its widget is this much wider and
  // taller than the box between them.
  int penExtent = 0;
};

// The control's widget as the class the control made it as. Raises
// NilObjectException when the widget is gone: a control kept after its
// window was freed has nothing left to show.
template <class W>
W& WidgetOf(const RectControl& control) {
  QWidget* widget = control.Widget();
  if (widget == nullptr) ThrowNilObject();
  return *static_cast<W*>(widget);
}

// A slider stands upright when taller than wide.
inline bool IsVerticalGeometry(int width, int height) { return height > width; }

// Turns a slider's bar upright (Minimum at the top) or level (Minimum at the
// left). UI thread.
void OrientSlider(QSlider& bar, bool upright);

// The control whose widget this is (or holds it), or null.
RectControl* ControlOfWidget(const QObject* object);

// Raises a control's event for Qt (a widget's signal), through RunGuarded.
// The control is held while its handler runs, since the handler may close
// the window and drop the last reference; a control nobody holds yet (or any
// more) raises nothing. UI thread.
void RaiseForQt(RectControl& control, std::string_view event);

// Applies the text properties every text-showing control takes (Bold,
// Italic, Underline, TextSize, TextFont) to widget. True when name is one.
bool ApplyFontProperty(QWidget& widget, const String& name, const Variant& value);

}  // namespace rb
