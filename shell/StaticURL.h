// A text label that acts as a web link: blue and underlined at rest, magenta
// under the pointer, red while pressed; a click released inside it opens URL
// (or the label's own text when URL is empty) in the browser. UI thread.
#pragma once

#include "rb/Controls.h"

class StaticURL : public rb::StaticText {
 public:
  StaticURL();
  std::string ClassName() const override { return "StaticURL"; }

  // The address a click opens; "" means the label's text.
  rb::String URL;

  void SetProperty(const rb::String& name, const rb::Variant& value) override;
  rb::Variant Property(const rb::String& name) const override;
  // The framework's Open: our own handling first, then the owner's Open.
  void RaiseOpen() override;

  void Event_MouseUp(int32_t x, int32_t y);
  bool Event_MouseDown(int32_t x, int32_t y);
  void Event_MouseExit();
  void Event_MouseEnter();
  void Event_Open();

  static constexpr rb::Color kAtRest{0, 0, 255};
  static constexpr rb::Color kPointerOver{255, 0, 255};
  static constexpr rb::Color kPressed{255, 0, 0};
};
