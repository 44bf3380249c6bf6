// The main window: its events, its design-time properties, its nineteen
// controls with their handler bindings, its release, and the accessor.
#include "Window1.h"

#include <utility>

#include "ProjectPictures.h"
#include "Window1Preset.h"
#include "rb/Runtime.h"

// The MIDI classes are complete here so that releasing the window can
// release them.
#include "MidiClientZel.h"
#include "MidiEndpointZel.h"
#include "MyMidiPort.h"

namespace {

std::atomic<Window1*>& PublishedWindow() {
  static std::atomic<Window1*> window{nullptr};
  return window;
}

Window1::MenuSupport& MenuSupportHooks() {
  static Window1::MenuSupport support;
  return support;
}

// The window's design-time properties that differ from a new window's, in
// the order applied.
const rb::PropertyList& WindowProperties() {
  static const rb::PropertyList properties = {
      {"Width", 266},
      {"Height", 308},
      {"HasBackColor", true},
      {"BackColor", "000000"},
      {"Title", "Chimewick Home Edition"},
      {"Resizeable", false},
      {"LiveResize", false},
      {"MaximizeButton", false},
  };
  return properties;
}

using rb::Placed;

rb::PropertyList LabelProperties(int left, int top, int width, int height, const char* text, int align,
                                 const char* color) {
  return Placed(left, top, width, height,
                {{"Text", text}, {"TextAlign", align}, {"TextColor", color}, {"Multiline", false}});
}

rb::PropertyList SliderProperties(int left, int top, int width, int height, int minimum, int maximum) {
  return Placed(left, top, width, height,
                {{"Minimum", minimum},
                 {"Value", 0},
                 {"Maximum", maximum},
                 {"LineStep", 1},
                 {"PageStep", 1},
                 {"LiveScroll", false}});
}

rb::PropertyList LineProperties(int x1, int y1, int x2, int y2) {
  return {{"X1", x1}, {"Y1", y1}, {"X2", x2}, {"Y2", y2}, {"BorderWidth", 1}, {"LineColor", "AAAAAA"}};
}

}  // namespace

Window1::Window1() {
  SetHandler<void()>("Layout", [this] { Layout(); });
  SetHandler<void()>("CreateControls", [this] { CreateControls(); });
  SetHandler<void()>("AddMenuHandlers", [this] { AddMenuHandlers(); });
  SetHandler<void()>("Open", [this] { Event_Open(); });
  SetHandler<void()>("Close", [this] { Event_Close(); });
  SetHandler<bool(bool)>("CancelClose", [this](bool appQuitting) { return Event_CancelClose(appQuitting); });
  SetHandler<bool(rb::String)>("KeyDown", [this](rb::String key) { return Event_KeyDown(key); });
  SetHandler<bool(int, int, int, int)>("MouseWheel", [this](int x, int y, int deltaX, int deltaY) {
    return Event_MouseWheel(x, y, deltaX, deltaY);
  });
  // Published before the window is built: its Open handler starts MIDI
  // input, whose thread looks the window up.
  PublishedWindow().store(this, std::memory_order_release);
}

Window1::~Window1() {
  Window1* self = this;
  PublishedWindow().compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
  // The MIDI objects go before the synthesizer: releasing the port stops its
  // input thread, which forwards to the player.
  Client.reset();
  port.reset();
  sources = {};
  SetPlayer(nullptr);
  PresetValues = {};
  PresetInstrument = {};
  DefaultInstrumentName = rb::String();
}

void Window1::SetPlayer(rb::Ref<MidiPlaybackZel> newPlayer) {
  // Withdrawn first, so the input thread never sees an object on its way out.
  inputPlayer_.store(nullptr, std::memory_order_release);
  player = std::move(newPlayer);
  inputPlayer_.store(player.get(), std::memory_order_release);
}

void Window1::Layout() {
  if (const auto& menuBar = MenuSupportHooks().menuBar) SetMenuBar(menuBar());
  ApplyProperties(WindowProperties());
}

void Window1::CreateControls() { _CreateControls0(); }

void Window1::AddMenuHandlers() {
  if (const auto& addMenuHandlers = MenuSupportHooks().addMenuHandlers) addMenuHandlers(*this);
}

void Window1::SetMenuSupport(MenuSupport support) { MenuSupportHooks() = std::move(support); }

void Window1::_CreateControls0() {
  // Each control is complete, properties and handlers, before the next.
  auto instruments = AddControl(rb::New<rb::PopupMenu>(), "InstrumentsList");
  instruments->ApplyProperties(Placed(103, 24, 135, 20, {{"InitialValue", ""}, {"ListIndex", 0}}));
  instruments->SetHandler<void()>("Change", [this] { InstrumentsList_Change(); });
  instruments->SetHandler<bool(int, int, int, int)>("MouseWheel", [this](int x, int y, int dx, int dy) {
    return InstrumentsList_MouseWheel(x, y, dx, dy);
  });

  AddControl(rb::New<rb::StaticText>(), "Warnings")
      ->ApplyProperties(LabelProperties(103, 52, 135, 20, "Initializing...", 0, "E8E8E8"));

  auto canvas = AddControl(rb::New<rb::Canvas>(), "Canvas1");
  canvas->SetBackdrop(ambersolid48kb());
  canvas->ApplyProperties(Placed(
      28, 20, 48, 48,
      {{"AcceptFocus", false}, {"AcceptTabs", false}, {"UseFocusRing", true}, {"EraseBackground", true}}));

  auto pitch = AddControl(rb::New<rb::Slider>(), "PitchSlider");
  pitch->ApplyProperties(SliderProperties(28, 104, 84, 85, -64, 64));
  pitch->SetHandler<void()>("ValueChanged", [this] { PitchSlider_ValueChanged(); });

  auto transpose = AddControl(rb::New<rb::Slider>(), "TransposeSlider");
  transpose->ApplyProperties(SliderProperties(98, 104, 73, 85, -11, 11));
  transpose->SetHandler<void()>("ValueChanged", [this] { TransposeSlider_ValueChanged(); });
  transpose->SetHandler<bool(int, int)>("MouseDown",
                                        [this](int x, int y) { return TransposeSlider_MouseDown(x, y); });

  auto transposeCaption = AddControl(rb::New<rb::StaticText>(), "StaticText1");
  transposeCaption->ApplyProperties(LabelProperties(98, 200, 64, 16, "Transpose", 0, "FFFFFF"));
  transposeCaption->SetHandler<bool(int, int)>("MouseDown",
                                               [this](int x, int y) { return StaticText1_MouseDown(x, y); });

  auto pitchCaption = AddControl(rb::New<rb::StaticText>(), "StaticText2");
  pitchCaption->ApplyProperties(LabelProperties(28, 200, 41, 16, "Pitch", 0, "FFFFFF"));
  pitchCaption->SetHandler<bool(int, int)>("MouseDown",
                                           [this](int x, int y) { return StaticText2_MouseDown(x, y); });

  AddControl(rb::New<rb::StaticText>(), "Key")
      ->ApplyProperties(LabelProperties(150, 136, 64, 21, "C", 0, "E8E8E8"));

  // Each value label lies on its slider.
  auto pitchValue = AddControl(rb::New<rb::StaticText>(), "PitchSliderValue");
  rb::PropertyList pitchValueProperties = LabelProperties(56, 136, 35, 20, "0", 0, "FFFFFF");
  pitchValueProperties.push_back({"InitialParent", "PitchSlider"});
  pitchValue->ApplyProperties(pitchValueProperties);
  pitchValue->SetHandler<bool(int, int)>("MouseDown",
                                         [this](int x, int y) { return PitchSliderValue_MouseDown(x, y); });

  auto transposeValue = AddControl(rb::New<rb::StaticText>(), "TransposeSliderValue");
  rb::PropertyList transposeValueProperties = LabelProperties(125, 136, 35, 20, "0", 0, "FFFFFF");
  transposeValueProperties.push_back({"InitialParent", "TransposeSlider"});
  transposeValue->ApplyProperties(transposeValueProperties);
  transposeValue->SetHandler<bool(int, int)>(
      "MouseDown", [this](int x, int y) { return TransposeSliderValue_MouseDown(x, y); });

  for (int32_t k = 1; k <= kPresetCount; ++k) {
    auto button = AddControl(rb::New<Window1Preset>(k), "Preset", k);
    button->ApplyProperties(Window1Preset::DesignProperties(k));
    // The handlers get their button; the window owns both, so a plain
    // pointer does.
    rb::BevelButton* raw = button.get();
    button->SetHandler<void()>("Open", [this, raw] { Preset_Open(*raw); });
    button->SetHandler<void()>("Action", [this, raw] { Preset_Action(*raw); });
  }

  AddControl(rb::New<rb::Line>(), "Line1")->ApplyProperties(LineProperties(26, 228, 238, 228));
  AddControl(rb::New<rb::Line>(), "Line2")->ApplyProperties(LineProperties(26, 80, 238, 80));
  AddControl(rb::New<rb::StaticText>(), "StaticText3")
      ->ApplyProperties(LabelProperties(23, 284, 223, 20, "Presets", 1, "FFFFFF"));
}

rb::Ref<Window1> Window1Accessor() {
  // Once the application quits, the window it is closing stays the one main
  // window, and when that is gone there is none: a new one would open MIDI
  // and a synthesizer on the way out.
  if (rb::IsQuitting()) return rb::Ref<Window1>(OpenWindow1());
  return rb::ImplicitInstance<Window1>("Window1.Window1");
}

Window1* OpenWindow1() noexcept { return PublishedWindow().load(std::memory_order_acquire); }
