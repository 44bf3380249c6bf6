// Design-time properties kept by name, and the conversions the GUI shares.
#include "rb/Properties.h"

#include "FrameworkInternal.h"

namespace rb {

PropertyList Placed(int left, int top, int width, int height, const PropertyList& more) {
  PropertyList list = {{"Left", left}, {"Top", top}, {"Width", width}, {"Height", height}};
  list.insert(list.end(), more.begin(), more.end());
  return list;
}

void PropertyBag::ApplyProperties(const PropertyList& list) {
  for (const auto& [name, value] : list) SetProperty(name, value);
}

void PropertyBag::SetProperty(const String& name, const Variant& value) { StoreProperty(name, value); }

Variant PropertyBag::Property(const String& name) const { return StoredProperty(name); }

void PropertyBag::StoreProperty(const String& name, const Variant& value) {
  for (auto& [key, stored] : stored_) {
    if (key == name) {
      stored = value;
      return;
    }
  }
  stored_.emplace_back(name, value);
}

Variant PropertyBag::StoredProperty(const String& name) const {
  for (const auto& [key, stored] : stored_) {
    if (key == name) return stored;
  }
  return Variant();
}

QString ToQString(const String& s) { return QString::fromUtf8(s.Bytes().data(), qsizetype(s.size())); }

String FromQString(const QString& s) { return String(s.toStdString()); }

QColor ColorFromVariant(const Variant& v) {
  switch (v.GetType()) {
    case Variant::Type::Integer:
    case Variant::Type::Double: {
      const auto rgb = uint32_t(v.Int64Value()) & 0xFFFFFFu;
      return QColor(int(rgb >> 16), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
    }
    case Variant::Type::String: {
      std::string text = v.StringValue().Bytes();
      if (!text.empty() && text[0] == '#') text.erase(0, 1);
      if (text.size() > 2 && text[0] == '&' && (text[1] == 'h' || text[1] == 'H')) text.erase(0, 2);
      uint32_t rgb = 0;
      for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
          digit = c - '0';
        else if (c >= 'a' && c <= 'f')
          digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
          digit = c - 'A' + 10;
        else
          return QColor(0, 0, 0);
        rgb = ((rgb << 4) | uint32_t(digit)) & 0xFFFFFFu;
      }
      return QColor(int(rgb >> 16), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
    }
    default:
      return QColor(0, 0, 0);
  }
}

}  // namespace rb
