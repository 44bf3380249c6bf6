// The main window: the instrument list, the pitch and transpose sliders with
// their labels, the key name, six preset buttons, the status label and the
// icon. One instance, reached through the accessor Window1().
//
// Everything here runs on the UI thread, except what the MIDI input thread
// touches: Volume (atomic) and the playback object through InputPlayer().
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "MidiPlaybackZel.h"
#include "rb/Containers.h"
#include "rb/Controls.h"
#include "rb/Menu.h"
#include "rb/Variant.h"
#include "rb/Window.h"

class MidiClientZel;
class MidiEndpointZel;
class MyMidiPort;

class Window1 : public rb::Window {
 public:
  Window1();
  ~Window1() override;
  std::string ClassName() const override { return "Window1.Window1"; }

  // The preset buttons: Preset(1) to Preset(kPresetCount).
  static constexpr int32_t kPresetCount = 6;

  // ---- Fields, in declaration order --------------------------------------
  rb::Ref<MidiClientZel> Client;
  rb::Ref<MyMidiPort> port;
  rb::Array<rb::Ref<MidiEndpointZel>> sources;
  rb::Ref<MidiPlaybackZel> player;
  int32_t DefaultInstrument = 16;
  // Index 0 belongs to no button.
  rb::Array<int32_t> PresetValues = rb::Array<int32_t>(kPresetCount);
  bool ExternalFlag = false;
  int32_t DefaultInstrumentIndex = 0;
  rb::Array<rb::String> PresetInstrument = rb::Array<rb::String>(kPresetCount);
  rb::String DefaultInstrumentName = "Organ 1";
  // Written by the MIDI input thread, read at quit.
  std::atomic<int32_t> Volume{64};

  // The playback object as the MIDI input thread sees it: published when
  // `player` is set, withdrawn before it goes. Any thread.
  MidiPlaybackZel* InputPlayer() const noexcept { return inputPlayer_.load(std::memory_order_acquire); }
  // Sets `player` and publishes it to the MIDI input thread. UI thread.
  void SetPlayer(rb::Ref<MidiPlaybackZel> newPlayer);

  // ---- Window events --------------------------------------------------------
  void Layout();
  void CreateControls();
  void _CreateControls0();
  void AddMenuHandlers();
  void Event_Open();
  void Event_Close();
  bool Event_CancelClose(bool appQuitting);
  bool Event_KeyDown(const rb::String& key);
  bool Event_MouseWheel(int32_t x, int32_t y, int32_t deltaX, int32_t deltaY);

  // ---- Instrument selection and tuning -----------------------------------
  void InstrumentsList_Change();
  bool InstrumentsList_MouseWheel(int32_t x, int32_t y, int32_t deltaX, int32_t deltaY);
  void PitchSlider_ValueChanged();
  void TransposeSlider_ValueChanged();
  bool TransposeSlider_MouseDown(int32_t x, int32_t y);
  bool StaticText1_MouseDown(int32_t x, int32_t y);
  bool StaticText2_MouseDown(int32_t x, int32_t y);
  bool PitchSliderValue_MouseDown(int32_t x, int32_t y);
  bool TransposeSliderValue_MouseDown(int32_t x, int32_t y);
  void SetCoarseTuning(int32_t value);
  void SetFineTuning(int32_t value);

  // ---- Presets --------------------------------------------------------------
  void Preset_Open(rb::BevelButton& button);
  void Preset_Action(rb::BevelButton& button);
  void SetPreset(int32_t k, int32_t rowIndex, const rb::String& name);
  void ActivatePreset(int32_t k);

  // ---- MIDI input -------------------------------------------------------------
  void openMidiClient();
  void closeMidiClient();
  void Log(const rb::String& message);
  void GetSources();

  // ---- Preferences ------------------------------------------------------------
  void ReadPreferences();
  rb::Variant IniGet(const rb::String& key, const rb::String& text);
  void SavePreferences();
  rb::Variant IniPut(const rb::String& key, const rb::Variant& value);

  // ---- Controls, found by name ------------------------------------------------
  rb::Ref<rb::PopupMenu> InstrumentsList() const { return Find<rb::PopupMenu>("InstrumentsList"); }
  rb::Ref<rb::StaticText> Warnings() const { return Find<rb::StaticText>("Warnings"); }
  rb::Ref<rb::Slider> PitchSlider() const { return Find<rb::Slider>("PitchSlider"); }
  rb::Ref<rb::Slider> TransposeSlider() const { return Find<rb::Slider>("TransposeSlider"); }
  rb::Ref<rb::StaticText> Key() const { return Find<rb::StaticText>("Key"); }
  rb::Ref<rb::StaticText> PitchSliderValue() const { return Find<rb::StaticText>("PitchSliderValue"); }
  rb::Ref<rb::StaticText> TransposeSliderValue() const {
    return Find<rb::StaticText>("TransposeSliderValue");
  }
  rb::Ref<rb::BevelButton> Preset(int32_t k) const { return Find<rb::BevelButton>("Preset", k); }

  // ---- The shell's part ---------------------------------------------------------
  // The application shell supplies the menubar and binds the menu commands;
  // the core reaches them only through these hooks, so it depends on
  // nothing above it. Set once at start-up, before the window is made.
  struct MenuSupport {
    std::function<rb::Ref<rb::MenuBar>()> menuBar;
    std::function<void(Window1&)> addMenuHandlers;
  };
  static void SetMenuSupport(MenuSupport support);

 private:
  std::atomic<MidiPlaybackZel*> inputPlayer_{nullptr};
  // True once Event_Open has gone through: only then may a close write the
  // preferences (a start-up that ended at one of its messages never read them).
  bool startupFinished_ = false;
};

// The one main window: the open instance, made (and opened) on first use.
// Once the application quits it makes none: it returns the window being
// closed (nil when that is gone). UI thread.
rb::Ref<Window1> Window1Accessor();
// The open main window or nil; never makes one. Any thread may call it, the
// MIDI input thread included (it only reads the published instance).
Window1* OpenWindow1() noexcept;
