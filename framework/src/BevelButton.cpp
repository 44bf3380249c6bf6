// BevelButton on a checkable QPushButton: Value is its pressed (checked)
// state, drawn sunken. Assigning Value raises no Action; a click raises
// Action after the button type has had its say on the pressed state:
// ButtonType 0 stays released, 1 toggles, 2 sticks down.
#include <QPushButton>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"

namespace rb {
namespace {
QPushButton& Button(const RectControl& control) { return WidgetOf<QPushButton>(control); }
}  // namespace

BevelButton::BevelButton() {
  auto* button = new QPushButton;
  button->setCheckable(true);
  button->setAutoDefault(false);
  SetWidget(button);
  StartFromDefaults(kBoxDefaults | kTextDefaults);
  QObject::connect(button, &QPushButton::clicked, button, [this, button] {
    const int type = StoredProperty("ButtonType").IntegerValue();
    {
      const QSignalBlocker quiet(button);
      if (type == 0)
        button->setChecked(false);
      else if (type == 2)
        button->setChecked(true);
    }
    RaiseForQt(*this, "Action");
  });
}

String BevelButton::Caption() const { return FromQString(Button(*this).text()); }
void BevelButton::SetCaption(const String& v) { Button(*this).setText(ToQString(v)); }

bool BevelButton::Value() const { return Button(*this).isChecked(); }
void BevelButton::SetValue(bool v) {
  QPushButton& button = Button(*this);
  const QSignalBlocker quiet(&button);
  button.setChecked(v);
}

bool BevelButton::Bold() const { return Button(*this).font().bold(); }
void BevelButton::SetBold(bool v) { ApplyFontProperty(Button(*this), "Bold", v); }

void BevelButton::SetProperty(const String& name, const Variant& value) {
  if (name == "Caption")
    SetCaption(value.StringValue());
  else if (name == "Value")
    SetValue(value.BooleanValue());
  else {
    RectControl::SetProperty(name, value);
    return;
  }
  StoreProperty(name, value);
}

Variant BevelButton::Property(const String& name) const {
  if (name == "Caption") return Caption();
  if (name == "Value") return Value();
  if (name == "Bold") return Bold();
  return RectControl::Property(name);
}

}  // namespace rb
