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

const rb::PropertyList& WindowProperties() {
  static const rb::PropertyList properties = {
      {"Placement", 0},          {"Width", 266},
      {"Height", 308},           {"MinWidth", 64},
      {"MinHeight", 64},         {"MaxWidth", 32000},
      {"MaxHeight", 32000},      {"Frame", 0},
      {"Composite", false},      {"HasBackColor", true},
      {"BackColor", "000000"},   {"Title", "Chimewick Home Edition"},
      {"Visible", true},         {"FullScreen", false},
      {"MenuBarVisible", true},  {"CloseButton", true},
      {"Resizeable", false},     {"LiveResize", false},
      {"MaximizeButton", false}, {"MinimizeButton", true},
      {"BalloonHelp", ""},       {"MacProcID", 0},
  };
  return properties;
}

// Position and the properties every rectangular control shares.
rb::PropertyList RectProperties(int left, int top, int width, int height, const char* initialParent = "") {
  return {
      {"Left", left},       {"Top", top},
      {"Width", width},     {"Height", height},
      {"LockLeft", false},  {"LockTop", false},
      {"LockRight", false}, {"LockBottom", false},
      {"TabPanelIndex", 0}, {"InitialParent", initialParent},
      {"Enabled", true},    {"Visible", true},
      {"HelpTag", ""},      {"AutoDeactivate", true},
  };
}

rb::PropertyList& operator+=(rb::PropertyList& list, const rb::PropertyList& more) {
  list.insert(list.end(), more.begin(), more.end());
  return list;
}

const rb::PropertyList& TextProperties() {
  static const rb::PropertyList properties = {
      {"TextFont", "System"}, {"TextSize", 0}, {"Bold", false}, {"Italic", false}, {"Underline", false},
  };
  return properties;
}

const rb::PropertyList& NoDataBinding() {
  static const rb::PropertyList properties = {{"DataSource", ""}, {"DataField", ""}};
  return properties;
}

rb::PropertyList LabelProperties(int left, int top, int width, int height, const char* text, int align,
                                 const char* color, const char* initialParent = "") {
  rb::PropertyList list = RectProperties(left, top, width, height, initialParent);
  list += {{"Text", text}, {"TextAlign", align}, {"TextColor", color}, {"Multiline", false}};
  list += TextProperties();
  list += NoDataBinding();
  return list;
}

rb::PropertyList SliderProperties(int left, int top, int width, int height, int minimum, int maximum) {
  rb::PropertyList list = RectProperties(left, top, width, height);
  list += {{"Minimum", minimum}, {"Value", 0},    {"Maximum", maximum},
           {"LineStep", 1},      {"PageStep", 1}, {"LiveScroll", false}};
  return list;
}

rb::PropertyList LineProperties(int x1, int y1, int x2, int y2) {
  return {
      {"X1", x1},           {"Y1", y1},         {"X2", x2},
      {"Y2", y2},           {"BorderWidth", 1}, {"LineColor", "AAAAAA"},
      {"TabPanelIndex", 0}, {"Visible", true},  {"InitialParent", ""},
  };
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
  {
    AddControl(rb::New<rb::PopupMenu>(), "InstrumentsList");
    rb::PropertyList list = RectProperties(103, 24, 135, 20);
    list += {{"InitialValue", ""}, {"ListIndex", 0}};
    list += TextProperties();
    list += NoDataBinding();
    FindControl("InstrumentsList")->ApplyProperties(list);
    FindControl("InstrumentsList")->SetHandler<void()>("Change", [this] { InstrumentsList_Change(); });
    FindControl("InstrumentsList")
        ->SetHandler<bool(int, int, int, int)>("MouseWheel", [this](int x, int y, int deltaX, int deltaY) {
          return InstrumentsList_MouseWheel(x, y, deltaX, deltaY);
        });
  }
  {
    AddControl(rb::New<rb::StaticText>(), "Warnings");
    FindControl("Warnings")
        ->ApplyProperties(LabelProperties(103, 52, 135, 20, "Initializing...", 0, "E8E8E8"));
  }
  {
    AddControl(rb::New<rb::Canvas>(), "Canvas1");
    Find<rb::Canvas>("Canvas1")->SetBackdrop(ambersolid48kb());
    rb::PropertyList list = RectProperties(28, 20, 48, 48);
    list +=
        {{"AcceptFocus", false}, {"AcceptTabs", false}, {"UseFocusRing", true}, {"EraseBackground", true}};
    FindControl("Canvas1")->ApplyProperties(list);
  }
  {
    AddControl(rb::New<rb::Slider>(), "PitchSlider");
    FindControl("PitchSlider")->ApplyProperties(SliderProperties(28, 104, 84, 85, -64, 64));
    FindControl("PitchSlider")->SetHandler<void()>("ValueChanged", [this] { PitchSlider_ValueChanged(); });
  }
  {
    AddControl(rb::New<rb::Slider>(), "TransposeSlider");
    FindControl("TransposeSlider")->ApplyProperties(SliderProperties(98, 104, 73, 85, -11, 11));
    FindControl("TransposeSlider")->SetHandler<void()>("ValueChanged", [this] {
      TransposeSlider_ValueChanged();
    });
    FindControl("TransposeSlider")->SetHandler<bool(int, int)>("MouseDown", [this](int x, int y) {
      return TransposeSlider_MouseDown(x, y);
    });
  }
  {
    AddControl(rb::New<rb::StaticText>(), "StaticText1");
    FindControl("StaticText1")->ApplyProperties(LabelProperties(98, 200, 64, 16, "Transpose", 0, "FFFFFF"));
    FindControl("StaticText1")->SetHandler<bool(int, int)>("MouseDown", [this](int x, int y) {
      return StaticText1_MouseDown(x, y);
    });
  }
  {
    AddControl(rb::New<rb::StaticText>(), "StaticText2");
    FindControl("StaticText2")->ApplyProperties(LabelProperties(28, 200, 41, 16, "Pitch", 0, "FFFFFF"));
    FindControl("StaticText2")->SetHandler<bool(int, int)>("MouseDown", [this](int x, int y) {
      return StaticText2_MouseDown(x, y);
    });
  }
  {
    AddControl(rb::New<rb::StaticText>(), "Key");
    FindControl("Key")->ApplyProperties(LabelProperties(150, 136, 64, 21, "C", 0, "E8E8E8"));
  }
  {
    AddControl(rb::New<rb::StaticText>(), "PitchSliderValue");
    FindControl("PitchSliderValue")
        ->ApplyProperties(LabelProperties(56, 136, 35, 20, "0", 0, "FFFFFF", "PitchSlider"));
    FindControl("PitchSliderValue")->SetHandler<bool(int, int)>("MouseDown", [this](int x, int y) {
      return PitchSliderValue_MouseDown(x, y);
    });
  }
  {
    AddControl(rb::New<rb::StaticText>(), "TransposeSliderValue");
    FindControl("TransposeSliderValue")
        ->ApplyProperties(LabelProperties(125, 136, 35, 20, "0", 0, "FFFFFF", "TransposeSlider"));
    FindControl("TransposeSliderValue")->SetHandler<bool(int, int)>("MouseDown", [this](int x, int y) {
      return TransposeSliderValue_MouseDown(x, y);
    });
  }
  for (int32_t k = 1; k <= 6; ++k) {
    AddControl(rb::New<Window1Preset>(k), "Preset", k);
    FindControl("Preset", k)->ApplyProperties(Window1Preset::DesignProperties(k));
    // The handlers get their button; the window owns both, so plain
    // pointers do.
    rb::BevelButton* button = Find<rb::BevelButton>("Preset", k).get();
    FindControl("Preset", k)->SetHandler<void()>("Open", [this, button] { Preset_Open(*button); });
    FindControl("Preset", k)->SetHandler<void()>("Action", [this, button] { Preset_Action(*button); });
  }
  {
    AddControl(rb::New<rb::Line>(), "Line1");
    FindControl("Line1")->ApplyProperties(LineProperties(26, 228, 238, 228));
  }
  {
    AddControl(rb::New<rb::Line>(), "Line2");
    FindControl("Line2")->ApplyProperties(LineProperties(26, 80, 238, 80));
  }
  {
    AddControl(rb::New<rb::StaticText>(), "StaticText3");
    FindControl("StaticText3")->ApplyProperties(LabelProperties(23, 284, 223, 20, "Presets", 1, "FFFFFF"));
  }
}

rb::Ref<Window1> Window1Accessor() {
  // Once the application quits, the window it is closing stays the one main
  // window: a new one would open MIDI and a synthesizer on the way out.
  if (rb::IsQuitting()) {
    if (Window1* closing = OpenWindow1()) return rb::Ref<Window1>(closing);
  }
  return rb::ImplicitInstance<Window1>("Window1.Window1");
}

Window1* OpenWindow1() noexcept { return PublishedWindow().load(std::memory_order_acquire); }
