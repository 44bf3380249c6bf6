// PushButton on a QPushButton. Return presses the Default button and Escape
// the Cancel button of the window (Window routes the keys); neither presses a
// button without that property.
#include <QPushButton>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"

namespace rb {
namespace {
QPushButton& Button(const RectControl& control) { return WidgetOf<QPushButton>(control); }
}  // namespace

PushButton::PushButton() {
  auto* button = new QPushButton;
  button->setAutoDefault(false);
  SetWidget(button);
  StartFromDefaults(kBoxDefaults | kTextDefaults);
  QObject::connect(button, &QPushButton::clicked, button, [this] { RaiseForQt(*this, "Action"); });
}

String PushButton::Caption() const { return FromQString(Button(*this).text()); }
void PushButton::SetCaption(const String& v) { Button(*this).setText(ToQString(v)); }

void PushButton::Push() { RaiseEvent<void>("Action"); }

void PushButton::SetProperty(const String& name, const Variant& value) {
  if (name == "Caption")
    SetCaption(value.StringValue());
  else if (name == "Default")
    Button(*this).setDefault(value.BooleanValue());
  else {
    RectControl::SetProperty(name, value);
    return;
  }
  StoreProperty(name, value);
}

Variant PushButton::Property(const String& name) const {
  if (name == "Caption") return Caption();
  if (name == "Default") return Button(*this).isDefault();
  return RectControl::Property(name);
}

}  // namespace rb
