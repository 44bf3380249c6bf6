// The main window's life: start-up of the whole core when it opens, hiding
// on the close box, and writing the preferences when the application quits.
#include <utility>

#include "MyMidiClientZel.h"
#include "SynthesizerFailure.h"
#include "Window1.h"
#include "rb/Containers.h"
#include "rb/Dialogs.h"
#include "rb/Runtime.h"
#include "rb/Text.h"

namespace {
// The preset instruments a fresh installation starts with; index 0 belongs to
// no button.
rb::Array<rb::String> defaultPresetInstruments() {
  return {"", "Organ 1", "Piano 1", "E.Piano 1", "Banjo", "Cello", "Jazz"};
}

constexpr int32_t kPresetSpacing = 35;
}  // namespace

void Window1::Event_Open() {
  rb::Ref<rb::Dictionary> idByName = rb::New<rb::Dictionary>();
  rb::Array<rb::String> names;

  Client = MyMidiClientZel::New();
  if (!Client) {
    rb::MsgBox("Could not create input");
    rb::Quit(0);
    return;
  }
  openMidiClient();
  // A quit that came while one of its messages showed (a logout, SIGTERM)
  // has closed this window already: start-up ends here, with no synthesizer.
  if (rb::IsQuitting()) return;

  player = MidiPlaybackZel::New();
  if (!player) {
    rb::MsgBox("Cannot create player");
    rb::Quit(0);
    return;
  }
  if (!player->Init()) {
    rb::MsgBox(SynthesizerFailureMessage(player->Lasterror()));
    rb::Quit(0);
    return;
  }
  // MIDI input already runs: the input thread sees the player only once its
  // synthesizer has started.
  SetPlayer(player);

  PresetInstrument = defaultPresetInstruments();
  ReadPreferences();
  // The preferences have been read, so writing them back at quit keeps them.
  startupFinished_ = true;

  const int32_t count = player->InstrumentCount();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t id = player->InstrumentID(i);
    const rb::String name = rb::Trim(player->InstrumentName(id));
    if (!idByName->HasKey(name)) {
      idByName->SetValue(name, id);
      names.Append(name);
    }
  }
  names.Sort();

  rb::Ref<rb::PopupMenu> list = InstrumentsList();
  for (int32_t i = 0; i <= names.LastIndex(); ++i) {
    const rb::String& name = names(i);
    list->AddRow(name);
    list->SetRowTag(list->ListCount() - 1, idByName->Value(name));
    if (name == DefaultInstrumentName) list->SetListIndex(i);
    for (int32_t k = 1; k <= kPresetCount; ++k) {
      if (name == PresetInstrument(k)) {
        SetPreset(k, i, name);
        break;
      }
    }
  }

  for (int32_t k = 2; k <= kPresetCount; ++k) Preset(k)->SetLeft(Preset(k - 1)->Left() + kPresetSpacing);
}

bool Window1::Event_CancelClose(bool appQuitting) {
  if (appQuitting) return false;
  // The close box only hides the window: MIDI input and the synthesizer play on.
  SetVisible(false);
  return true;
}

void Window1::Event_Close() {
  closeMidiClient();
  // Written once, however many closes a quit raises; never after a start-up
  // that stopped before reading them.
  if (std::exchange(startupFinished_, false)) SavePreferences();
  rb::Quit(0);
}

bool Window1::Event_MouseWheel(int32_t, int32_t, int32_t, int32_t) { return false; }
