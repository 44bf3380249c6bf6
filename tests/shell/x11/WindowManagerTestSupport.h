// What the window-manager tests share: why they skip, and the X properties
// of a window as the window manager sees them.
#pragma once

#include <QWidget>
#include <string>

#include "PrivateXServer.h"

// Empty when the private X server runs.
std::string& XServerSkipReason();

namespace x11test {

inline std::string Hex(WId id) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(id));
  return text;
}

// xprop's account of one property of a window ("" when it has none).
inline std::string Property(WId window, const std::string& name) {
  return chimewick_test::CommandOutput("xprop -id " + Hex(window) + " " + name);
}

}  // namespace x11test
