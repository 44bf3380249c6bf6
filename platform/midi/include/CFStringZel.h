// The MIDI service's string object: immutable text that names objects and
// property keys.
#pragma once

#include "rb/Object.h"
#include "rb/String.h"

class CFStringZel : public rb::Object {
 public:
  explicit CFStringZel(rb::String text = {}) : text_(std::move(text)) {}

  // The text. Any thread.
  rb::String Str() const { return text_; }

  std::string ClassName() const override { return "CFStringZel"; }

 private:
  const rb::String text_;
};

// Makes a string object holding s. Any thread.
rb::Ref<CFStringZel> NewCFStringZel(const rb::String& s);
