// The quick-start help: a text field with the quick-start text and an "OK"
// button that closes the window. One instance at a time. UI thread.
#pragma once

#include "rb/Controls.h"
#include "rb/Window.h"

class HelpWindow : public rb::Window {
 public:
  HelpWindow();
  std::string ClassName() const override { return "HelpWindow"; }

  void Layout();
  void CreateControls();
  void _CreateControls0();
  void PushButton1_Action(rb::PushButton& button);
  void AddMenuHandlers();
};

// The open help window, or a new one (the accessor `HelpWindow`).
rb::Ref<HelpWindow> HelpWindowAccessor();
