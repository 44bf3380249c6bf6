#include "HelpWindow.h"

#include "ResourceText.h"

namespace {

// What differs from a new window: its title and a fixed size without a zoom
// box.
const rb::PropertyList kWindowProperties = {
    {"Title", "Chimewick Help"}, {"Width", 300},        {"Height", 300},
    {"MaximizeButton", false},   {"Resizeable", false},
};

}  // namespace

HelpWindow::HelpWindow() {
  SetHandler<void()>("Layout", [this] { Layout(); });
  SetHandler<void()>("CreateControls", [this] { CreateControls(); });
  SetHandler<void()>("AddMenuHandlers", [this] { AddMenuHandlers(); });
}

void HelpWindow::Layout() { ApplyProperties(kWindowProperties); }

void HelpWindow::CreateControls() { _CreateControls0(); }

void HelpWindow::_CreateControls0() {
  const rb::PropertyList text = rb::Placed(20, 23, 260, 225,
                                           {{"Border", true},
                                            {"Multiline", true},
                                            {"ScrollbarVertical", true},
                                            {"ScrollbarHorizontal", false},
                                            {"ReadOnly", false},
                                            {"Styled", false},
                                            {"TextColor", "000000"},
                                            {"BackColor", "FFFFFF"},
                                            {"UseFocusRing", true},
                                            {"LimitText", 0},
                                            {"AcceptTabs", false},
                                            {"Alignment", 0},
                                            {"Password", false},
                                            {"Mask", ""},
                                            {"Format", ""},
                                            {"Text", rb::String(chimewick::ResourceText("QuickStart.txt"))}});
  AddControl(rb::New<rb::EditField>(), "EditField1")->ApplyProperties(text);

  auto ok = AddControl(rb::New<rb::PushButton>(), "PushButton1");
  ok->ApplyProperties(
      rb::Placed(200, 260, 80, 20, {{"Caption", "OK"}, {"Default", false}, {"Cancel", false}}));
  rb::PushButton* okButton = ok.get();
  ok->SetHandler<void()>("Action", [this, okButton] { PushButton1_Action(*okButton); });
}

void HelpWindow::PushButton1_Action(rb::PushButton&) { Close(); }

void HelpWindow::AddMenuHandlers() {}

rb::Ref<HelpWindow> HelpWindowAccessor() { return rb::ImplicitInstance<HelpWindow>("HelpWindow"); }
