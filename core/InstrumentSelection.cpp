// The instrument list: choosing a row gives its instrument to the first MIDI
// channel; the wheel steps through the rows.
#include "Window1.h"
#include "rb/Text.h"

void Window1::InstrumentsList_Change() {
  if (InstrumentsList()->ListIndex() < 0) return;
  const int32_t id = InstrumentsList()->RowTag(InstrumentsList()->ListIndex()).IntegerValue();
  player->SetInstrumentIDOnChannel(0, id);
  if (!ExternalFlag) {
    // A change that is no preset recall leaves no preset showing pressed.
    for (int32_t k = 1; k <= kPresetCount; ++k) Preset(k)->SetValue(false);
  } else {
    ExternalFlag = false;
  }
}

bool Window1::InstrumentsList_MouseWheel(int32_t, int32_t, int32_t, int32_t deltaY) {
  rb::Ref<rb::PopupMenu> list = InstrumentsList();
  // Wrapping int32 addition, as the row arithmetic of the list has it.
  const int32_t moved = int32_t(uint32_t(list->ListIndex()) + uint32_t(deltaY));
  const double clamped = rb::Max(rb::Min(double(moved), double(list->ListCount() - 1)), 0.0);
  list->SetListIndex(rb::ToInt32(clamped));
  return false;
}
