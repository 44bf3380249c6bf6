#include "HelpWindow.h"

#include "ResourceText.h"

namespace {

const rb::PropertyList kWindowProperties = {
    {"Title", "Chimewick Help"},
    {"Width", 300},
    {"Height", 300},
    {"Placement", 0},
    {"Frame", 0},
    {"CloseButton", true},
    {"MinimizeButton", true},
    {"MaximizeButton", false},
    {"Resizeable", false},
    {"LiveResize", true},
    {"Visible", true},
    {"MenuBarVisible", true},
    {"FullScreen", false},
    {"Composite", false},
    {"HasBackColor", false},
    {"BackColor", "FFFFFF"},
    {"MinWidth", 64},
    {"MinHeight", 64},
    {"MaxWidth", 32000},
    {"MaxHeight", 32000},
};

rb::PropertyList Common(int left, int top, int width, int height) {
  return {{"Left", left},         {"Top", top},       {"Width", width},     {"Height", height},
          {"LockLeft", false},    {"LockTop", false}, {"LockRight", false}, {"LockBottom", false},
          {"Visible", true},      {"Enabled", true},  {"HelpTag", ""},      {"AutoDeactivate", true},
          {"TextFont", "System"}, {"TextSize", 0},    {"Bold", false},      {"Italic", false},
          {"Underline", false}};
}

}  // namespace

HelpWindow::HelpWindow() {
  SetHandler<void()>("Layout", [this] { Layout(); });
  SetHandler<void()>("CreateControls", [this] { CreateControls(); });
  SetHandler<void()>("AddMenuHandlers", [this] { AddMenuHandlers(); });
}

void HelpWindow::Layout() { ApplyProperties(kWindowProperties); }

void HelpWindow::CreateControls() { _CreateControls0(); }

void HelpWindow::_CreateControls0() {
  AddControl(rb::New<rb::EditField>(), "EditField1");
  rb::PropertyList text = Common(20, 23, 260, 225);
  text.insert(text.end(), {{"Border", true},
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
  FindControl("EditField1")->ApplyProperties(text);

  AddControl(rb::New<rb::PushButton>(), "PushButton1");
  rb::PropertyList button = Common(200, 260, 80, 20);
  button.insert(button.end(), {{"Caption", "OK"}, {"Default", false}, {"Cancel", false}});
  auto ok = Find<rb::PushButton>("PushButton1");
  ok->ApplyProperties(button);
  rb::PushButton* okButton = ok.get();
  ok->SetHandler<void()>("Action", [this, okButton] { PushButton1_Action(*okButton); });
}

void HelpWindow::PushButton1_Action(rb::PushButton&) { Close(); }

void HelpWindow::AddMenuHandlers() {}

rb::Ref<HelpWindow> HelpWindowAccessor() { return rb::ImplicitInstance<HelpWindow>("HelpWindow"); }
