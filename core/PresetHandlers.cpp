// The six presets: a click recalls the instrument a button holds, a click
// with Shift stores the selected one into it. Afterwards exactly that
// button shows pressed.
#include "Window1.h"
#include "rb/Keyboard.h"
#include "rb/Text.h"

void Window1::Preset_Open(rb::BevelButton& button) { button.SetCaption(rb::Str(button.Index())); }

void Window1::Preset_Action(rb::BevelButton& button) { ActivatePreset(button.Index()); }

void Window1::SetPreset(int32_t k, int32_t rowIndex, const rb::String& name) {
  Preset(k)->SetHelpTag(name);
  PresetValues(k) = rowIndex;
  Preset(k)->SetBold(true);
}

void Window1::ActivatePreset(int32_t k) {
  // Shift as it is now: a digit key's event carries no modifiers we trust.
  if (rb::Keyboard::AsyncShiftKey()) {
    const int32_t row = InstrumentsList()->ListIndex();
    SetPreset(k, row, InstrumentsList()->Text());
  } else {
    // The list's Change runs inside the assignment; the flag tells it that
    // this change is a recall, which keeps the preset buttons.
    ExternalFlag = true;
    InstrumentsList()->SetListIndex(PresetValues(k));
  }
  // Whatever the click did to the buttons, exactly button k shows pressed.
  for (int32_t i = 1; i <= kPresetCount; ++i) Preset(i)->SetValue(i == k);
}
