// The computer keyboard: arrows step through the instruments, main-row
// digits 1 to 6 recall (with Shift: store) presets, P/O and T/R step the
// pitch and transposition, 0 resets both, and the note letters transpose so
// that the keyboard's C plays as that note.
//
// Arrows and digits are asked of the keyboard by physical key, so they act
// while held whatever the event's text; the letters act on the typed text.
#include <array>

#include "Window1.h"
#include "rb/Keyboard.h"
#include "rb/Text.h"

namespace {

struct ArrowStep {
  int virtualKeyCode;
  int32_t step;
};
// Left, right, down, up.
constexpr std::array<ArrowStep, 4> kArrowSteps = {{{123, -1}, {124, +1}, {125, +1}, {126, -1}}};

// Main-row digits 1 to 6 by virtual key code (5 and 6 are 23 and 22).
constexpr std::array<int, Window1::kPresetCount> kDigitKeyCodes = {18, 19, 20, 21, 23, 22};

struct NoteLetter {
  const char* text;
  int32_t transposeValue;
};
constexpr std::array<NoteLetter, 7> kNoteLetters = {{
    {"C", 0},
    {"D", -2},
    {"E", -4},
    {"F", -5},
    {"G", -7},
    {"A", -9},
    {"B", -11},
}};

}  // namespace

bool Window1::Event_KeyDown(const rb::String& key) {
  for (const ArrowStep& arrow : kArrowSteps) {
    if (!rb::Keyboard::AsyncKeyDown(arrow.virtualKeyCode)) continue;
    rb::Ref<rb::PopupMenu> list = InstrumentsList();
    const double row = double(list->ListIndex()) + double(arrow.step);
    list->SetListIndex(rb::ToInt32(rb::Max(rb::Min(row, double(list->ListCount() - 1)), 0.0)));
  }

  for (size_t i = 0; i < kDigitKeyCodes.size(); ++i) {
    if (rb::Keyboard::AsyncKeyDown(kDigitKeyCodes[i])) {
      ActivatePreset(int32_t(i) + 1);
      break;
    }
  }

  const rb::String text = rb::Uppercase(key);
  if (text == "P") {
    PitchSlider()->SetValue(PitchSlider()->Value() - 1);
  } else if (text == "O") {
    PitchSlider()->SetValue(PitchSlider()->Value() + 1);
  } else if (text == "T") {
    TransposeSlider()->SetValue(TransposeSlider()->Value() - 1);
  } else if (text == "R") {
    TransposeSlider()->SetValue(TransposeSlider()->Value() + 1);
  } else if (text == "0") {
    PitchSlider()->SetValue(0);
    TransposeSlider()->SetValue(0);
  }

  for (const NoteLetter& letter : kNoteLetters) {
    if (text == letter.text) {
      TransposeSlider()->SetValue(letter.transposeValue);
      break;
    }
  }
  return false;
}
