// Menus: a MenuBar holds menus, a menu holds items; every item has a Name by
// which window handlers are bound (Window::AddMenuHandler). All members: main
// thread.
#pragma once

#include "rb/Containers.h"
#include "rb/Object.h"
#include "rb/String.h"

namespace rb {

class MenuItem : public Object {
 public:
  std::string ClassName() const override { return "MenuItem"; }
  String Name;
  // "-" makes a separator.
  String Text;
  // "Cmd+Q" and the like; Cmd is the platform's command key (Ctrl here).
  String KeyboardShortcut;
  bool AutoEnable = true;

  void Append(Ref<MenuItem> child) { children_.Append(std::move(child)); }
  int Count() const noexcept { return children_.Count(); }
  Ref<MenuItem> Item(int index) const;
  // The direct child with this name, or nil.
  Ref<MenuItem> Child(const String& name) const;

 private:
  Array<Ref<MenuItem>> children_;
};

// The application's Quit item: without a handler of its own it quits.
class QuitMenuItem : public MenuItem {
 public:
  std::string ClassName() const override { return "QuitMenuItem"; }
};

// An item the platform may show in the application menu.
class AppleMenuItem : public MenuItem {
 public:
  std::string ClassName() const override { return "AppleMenuItem"; }
};

class MenuBar : public MenuItem {
 public:
  std::string ClassName() const override { return "MenuBar"; }
};

}  // namespace rb
