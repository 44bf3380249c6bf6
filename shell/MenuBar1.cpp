#include "MenuBar1.h"

namespace {

rb::Ref<MenuBar1> theMenuBar;

// Properties go on in this order, and the item joins its menu only once
// they are all set.
template <class Item>
rb::Ref<Item> MakeItem(const char* name, bool autoEnable, const char* text, const char* shortcut) {
  auto item = rb::New<Item>();
  item->Name = name;
  item->AutoEnable = autoEnable;
  item->Text = text;
  if (shortcut != nullptr) item->KeyboardShortcut = shortcut;
  return item;
}

}  // namespace

MenuBar1::MenuBar1() {
  Untitled1();
  Untitled4();
}

void MenuBar1::Untitled1() {
  Append(MakeItem<rb::MenuItem>("FileMenu", false, "&File", ""));
  auto quit = MakeItem<rb::QuitMenuItem>("FileQuit", true, "Quit", "Cmd+Q");
  Child("FileMenu")->Append(quit);
}

void MenuBar1::Untitled4() {
  Append(MakeItem<rb::MenuItem>("HelpMenu", true, "Help", ""));
  Child("HelpMenu")->Append(MakeItem<rb::AppleMenuItem>("HelpAboutPlinkett", true, "About Chimewick", ""));
  Child("HelpMenu")->Append(MakeItem<rb::MenuItem>("HelpQuickStart", true, "Quick Start", ""));
  Child("HelpMenu")
      ->Append(MakeItem<rb::AppleMenuItem>("HelpCheckforUpdates", true, "Check for Updates", ""));
  Child("HelpMenu")->Append(MakeItem<rb::MenuItem>("UntitledSeparator", true, "-", nullptr));
  Child("HelpMenu")->Append(MakeItem<rb::MenuItem>("HelpPlinkettontheWeb", true, "Chimewick on the Web", ""));
  Child("HelpMenu")->Append(MakeItem<rb::MenuItem>("HelpSupport", true, "Support", ""));
}

rb::Ref<MenuBar1> MenuBar1Accessor() {
  if (!theMenuBar) theMenuBar = rb::New<MenuBar1>();
  return theMenuBar;
}

void ReleaseMenuBar1() { theMenuBar.reset(); }
