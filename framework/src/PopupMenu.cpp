// PopupMenu on a QComboBox.
//
// Assigning ListIndex from code raises Change before it returns, every time
// the index names a row (also the row already selected); an index outside
// the rows leaves the list without a selection and raises nothing. The
// player's own choice raises Change once, when the selection changes.
#include <QComboBox>
#include <vector>

#include "FrameworkInternal.h"
#include "RectControlImpl.h"

namespace rb {
namespace {

class PopupWidget : public QComboBox {
 public:
  std::vector<Variant> rowTags;
};

PopupWidget& Combo(const RectControl& control) { return WidgetOf<PopupWidget>(control); }

}  // namespace

PopupMenu::PopupMenu() {
  auto* combo = new PopupWidget;
  // Like the pop-up menus of the original platform, it takes no keyboard
  // focus: arrow keys go to the window's KeyDown, which moves the list
  // itself, and must not move it a second time here.
  combo->setFocusPolicy(Qt::NoFocus);
  SetWidget(combo);
  StartFromDefaults(kBoxDefaults | kTextDefaults | kDataBindingDefaults);
  QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [this](int index) {
    if (index >= 0) RaiseForQt(*this, "Change");
  });
}

void PopupMenu::AddRow(const String& text) {
  PopupWidget& combo = Combo(*this);
  const QSignalBlocker quiet(&combo);
  const int selected = combo.currentIndex();
  combo.addItem(ToQString(text));
  combo.setCurrentIndex(selected);  // adding to an empty list selects nothing
  combo.rowTags.emplace_back();
}

int PopupMenu::ListCount() const { return Combo(*this).count(); }

int PopupMenu::ListIndex() const { return Combo(*this).currentIndex(); }

void PopupMenu::SetListIndex(int index) {
  PopupWidget& combo = Combo(*this);
  {
    const QSignalBlocker quiet(&combo);
    combo.setCurrentIndex(index >= 0 && index < combo.count() ? index : -1);
  }
  if (index >= 0 && index < combo.count()) RaiseEvent<void>("Change");
}

Variant PopupMenu::RowTag(int row) const {
  const PopupWidget& combo = Combo(*this);
  if (row < 0 || row >= int(combo.rowTags.size())) throw OutOfBoundsException();
  return combo.rowTags[size_t(row)];
}

void PopupMenu::SetRowTag(int row, const Variant& tag) {
  PopupWidget& combo = Combo(*this);
  if (row < 0 || row >= int(combo.rowTags.size())) throw OutOfBoundsException();
  combo.rowTags[size_t(row)] = tag;
}

String PopupMenu::List(int row) const {
  const PopupWidget& combo = Combo(*this);
  if (row < 0 || row >= combo.count()) throw OutOfBoundsException();
  return FromQString(combo.itemText(row));
}

String PopupMenu::Text() const { return FromQString(Combo(*this).currentText()); }

void PopupMenu::SetProperty(const String& name, const Variant& value) {
  if (name == "ListIndex") {
    StoreProperty(name, value);
    SetListIndex(value.IntegerValue());
  } else if (name == "InitialValue") {
    StoreProperty(name, value);
    // Rows at design time, one per line.
    std::string rows = value.StringValue().Bytes();
    size_t start = 0;
    while (start < rows.size()) {
      size_t end = rows.find_first_of("\r\n", start);
      if (end == std::string::npos) end = rows.size();
      if (end > start) AddRow(String(rows.substr(start, end - start)));
      start = end + 1;
    }
  } else {
    RectControl::SetProperty(name, value);
  }
}

Variant PopupMenu::Property(const String& name) const {
  if (name == "ListIndex") return ListIndex();
  if (name == "ListCount") return ListCount();
  if (name == "Text") return Text();
  return RectControl::Property(name);
}

}  // namespace rb
