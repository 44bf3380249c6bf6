// The preset buttons of the main window: the control array "Preset", one
// bevelled button per preset, indexes 1 to 6.
#pragma once

#include <cstdint>

#include "rb/Controls.h"
#include "rb/Properties.h"

class Window1Preset : public rb::BevelButton {
 public:
  // A button of the array with this index; the window adds it, applies its
  // design-time properties and binds its events. UI thread.
  explicit Window1Preset(int32_t index);
  // A further button of the open main window's array: takes the properties
  // of button 1, binds Open and Action to that window's preset handlers,
  // gets index 0 and joins the window under "Preset". Without an open main
  // window it stays a loose button. UI thread.
  Window1Preset();

  std::string ClassName() const override { return "Window1.Preset"; }

  // The design-time properties of button k (1 to 6) that differ from a new
  // button's, in the order applied.
  static rb::PropertyList DesignProperties(int32_t k);
};
