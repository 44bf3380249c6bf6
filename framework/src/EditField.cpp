// EditField on a QTextEdit holding plain text.
#include <QTextEdit>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"

namespace rb {
namespace {
QTextEdit& Editor(const RectControl& control) { return WidgetOf<QTextEdit>(control); }

void SetPaletteColor(QWidget& widget, QPalette::ColorRole role, const QColor& color) {
  QPalette palette = widget.palette();
  palette.setColor(role, color);
  widget.setPalette(palette);
}
}  // namespace

EditField::EditField() {
  auto* editor = new QTextEdit;
  editor->setAcceptRichText(false);
  editor->setLineWrapMode(QTextEdit::NoWrap);
  editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  SetWidget(editor);
  StartFromDefaults(kBoxDefaults | kTextDefaults);
}

String EditField::Text() const { return FromQString(Editor(*this).toPlainText()); }
void EditField::SetText(const String& v) { Editor(*this).setPlainText(ToQString(v)); }

bool EditField::ReadOnly() const { return Editor(*this).isReadOnly(); }
void EditField::SetReadOnly(bool v) { Editor(*this).setReadOnly(v); }

void EditField::SetProperty(const String& name, const Variant& value) {
  QTextEdit& editor = Editor(*this);
  const auto policy = value.BooleanValue() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
  if (name == "Text")
    SetText(value.StringValue());
  else if (name == "ReadOnly")
    SetReadOnly(value.BooleanValue());
  else if (name == "Multiline")
    editor.setLineWrapMode(value.BooleanValue() ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
  else if (name == "ScrollbarVertical")
    editor.setVerticalScrollBarPolicy(policy);
  else if (name == "ScrollbarHorizontal")
    editor.setHorizontalScrollBarPolicy(policy);
  else if (name == "Border")
    editor.setFrameShape(value.BooleanValue() ? QFrame::StyledPanel : QFrame::NoFrame);
  else if (name == "TextColor")
    SetPaletteColor(editor, QPalette::Text, ColorFromVariant(value));
  else if (name == "BackColor")
    SetPaletteColor(editor, QPalette::Base, ColorFromVariant(value));
  else if (name == "AcceptTabs")
    editor.setTabChangesFocus(!value.BooleanValue());
  else if (name == "Alignment") {
    const int a = value.IntegerValue();
    editor.setAlignment(a == 2 ? Qt::AlignHCenter : a == 3 ? Qt::AlignRight : Qt::AlignLeft);
  } else {
    RectControl::SetProperty(name, value);
    return;
  }
  StoreProperty(name, value);
}

Variant EditField::Property(const String& name) const {
  if (name == "Text") return Text();
  if (name == "ReadOnly") return ReadOnly();
  return RectControl::Property(name);
}

}  // namespace rb
