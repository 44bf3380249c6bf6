// Menu items and their children.
#include "rb/Menu.h"

namespace rb {

Ref<MenuItem> MenuItem::Item(int index) const {
  if (index < 0 || index >= children_.Count()) return nullptr;
  return children_[index];
}

Ref<MenuItem> MenuItem::Child(const String& name) const {
  for (const Ref<MenuItem>& child : children_) {
    if (child->Name == name) return child;
  }
  return nullptr;
}

}  // namespace rb
