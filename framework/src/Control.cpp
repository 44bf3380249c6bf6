// The base of every control: name, control-array index and window.
#include "rb/Controls.h"

namespace rb {

Control::~Control() = default;

void Control::AttachTo(Window& window, const String& name, int index) {
  window_ = &window;
  name_ = name;
  if (index >= 0) index_ = index;
}

}  // namespace rb
