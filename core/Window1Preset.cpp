// The preset buttons: their design-time properties and their constructors.
#include "Window1Preset.h"

#include <array>

#include "Window1.h"

namespace {

struct PresetPlace {
  int32_t left;
  int32_t buttonType;
  bool acceptFocus;
};

// Button 1 is the one that takes the keyboard focus; the window spaces the
// buttons evenly when it opens.
constexpr std::array<PresetPlace, Window1::kPresetCount> kPresetPlaces = {{
    {27, 2, true},
    {71, 1, false},
    {103, 1, false},
    {143, 1, false},
    {178, 1, false},
    {214, 1, false},
}};

}  // namespace

Window1Preset::Window1Preset(int32_t index) { SetIndex(index); }

Window1Preset::Window1Preset() {
  ApplyProperties(DesignProperties(1));
  Window1* window = OpenWindow1();
  if (window == nullptr) {
    SetIndex(0);
    return;
  }
  SetHandler<void()>("Open", [window, this] { window->Preset_Open(*this); });
  SetHandler<void()>("Action", [window, this] { window->Preset_Action(*this); });
  SetIndex(0);
  window->AddControl(rb::Ref<rb::Control>(this), "Preset", 0);
}

rb::PropertyList Window1Preset::DesignProperties(int32_t k) {
  const PresetPlace& place = kPresetPlaces.at(size_t(k - 1));
  return rb::Placed(place.left, 251, 32, 22,
                    {{"AcceptFocus", place.acceptFocus},
                     {"ButtonType", place.buttonType},
                     {"Bevel", 6},
                     {"Caption", "1"},
                     {"CaptionAlign", 3},
                     {"CaptionPlacement", 1},
                     {"CaptionDelta", 0},
                     {"IconAlign", 0},
                     {"IconDX", 0},
                     {"IconDY", 0},
                     {"HasMenu", 0},
                     {"Value", false},
                     {"MenuValue", 0}});
}
