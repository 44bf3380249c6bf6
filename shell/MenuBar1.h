// The program's one menubar: File (Quit) and Help (About, Quick Start, Check
// for Updates, the web site, Support). UI thread.
#pragma once

#include "rb/Menu.h"

class MenuBar1 : public rb::MenuBar {
 public:
  // Builds the File menu, then the Help menu.
  MenuBar1();
  std::string ClassName() const override { return "MenuBar1"; }
  void Untitled1();
  void Untitled4();
};

// The one instance, made on first call (the accessor `MenuBar1`).
rb::Ref<MenuBar1> MenuBar1Accessor();
// Drops the instance at exit.
void ReleaseMenuBar1();
