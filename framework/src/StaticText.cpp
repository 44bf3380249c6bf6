// StaticText on a QLabel. A label with an InitialParent lies on that control
// (above it in the stacking order) and keeps window coordinates.
#include <QLabel>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"
#include "rb/Window.h"

namespace rb {
namespace {

QLabel& Label(const RectControl& control) { return WidgetOf<QLabel>(control); }

Qt::Alignment AlignmentOf(int textAlign) {
  switch (textAlign) {
    case 1:
      return Qt::AlignHCenter | Qt::AlignTop;
    case 2:
      return Qt::AlignRight | Qt::AlignTop;
    default:
      return Qt::AlignLeft | Qt::AlignTop;
  }
}

}  // namespace

StaticText::StaticText() {
  auto* label = new QLabel;
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(AlignmentOf(0));
  SetWidget(label);
  StartFromDefaults(kBoxDefaults | kTextDefaults | kDataBindingDefaults);
}

String StaticText::Text() const { return FromQString(Label(*this).text()); }
void StaticText::SetText(const String& v) { Label(*this).setText(ToQString(v)); }

Color StaticText::TextColor() const {
  const QColor c = Label(*this).palette().color(QPalette::WindowText);
  return Color{uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())};
}
void StaticText::SetTextColor(Color c) {
  QLabel& label = Label(*this);
  QPalette palette = label.palette();
  palette.setColor(QPalette::WindowText, QColor(c.Red, c.Green, c.Blue));
  label.setPalette(palette);
}

bool StaticText::Underline() const { return Label(*this).font().underline(); }
void StaticText::SetUnderline(bool v) { ApplyFontProperty(Label(*this), "Underline", v); }
bool StaticText::Bold() const { return Label(*this).font().bold(); }
void StaticText::SetBold(bool v) { ApplyFontProperty(Label(*this), "Bold", v); }

int StaticText::TextSize() const {
  const Variant stored = StoredProperty("TextSize");
  return stored.IsNil() ? 0 : stored.IntegerValue();
}
void StaticText::SetTextSize(int points) {
  StoreProperty("TextSize", points);
  ApplyFontProperty(Label(*this), "TextSize", points);
}

int StaticText::TextAlign() const {
  const Qt::Alignment a = Label(*this).alignment();
  if (a & Qt::AlignHCenter) return 1;
  if (a & Qt::AlignRight) return 2;
  return 0;
}
void StaticText::SetTextAlign(int v) { Label(*this).setAlignment(AlignmentOf(v)); }

void StaticText::SetProperty(const String& name, const Variant& value) {
  QLabel& label = Label(*this);
  if (name == "Text")
    SetText(value.StringValue());
  else if (name == "TextColor") {
    const QColor c = ColorFromVariant(value);
    SetTextColor(Color{uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())});
  } else if (name == "TextAlign")
    SetTextAlign(value.IntegerValue());
  else if (name == "Multiline")
    label.setWordWrap(value.BooleanValue());
  else if (name == "TextSize")
    SetTextSize(value.IntegerValue());
  else if (name == "InitialParent") {
    StoreProperty(name, value);
    if (window_ != nullptr && !value.StringValue().empty()) {
      if (Ref<Control> parent = window_->FindControl(value.StringValue())) label.raise();
    }
    return;
  } else {
    RectControl::SetProperty(name, value);
    return;
  }
  StoreProperty(name, value);
}

Variant StaticText::Property(const String& name) const {
  if (name == "Text") return Text();
  if (name == "TextAlign") return TextAlign();
  if (name == "Bold") return Bold();
  if (name == "Underline") return Underline();
  if (name == "TextSize") return TextSize();
  if (name == "Multiline") return Label(*this).wordWrap();
  return RectControl::Property(name);
}

}  // namespace rb
