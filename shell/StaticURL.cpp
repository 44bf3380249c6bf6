#include "StaticURL.h"

#include "ExceptionContext.h"
#include "rb/Dialogs.h"

StaticURL::StaticURL() {
  SetHandler<void(int, int)>("MouseUp", [this](int x, int y) { Event_MouseUp(x, y); });
  SetHandler<bool(int, int)>("MouseDown", [this](int x, int y) { return Event_MouseDown(x, y); });
  SetHandler<void()>("MouseExit", [this] { Event_MouseExit(); });
  SetHandler<void()>("MouseEnter", [this] { Event_MouseEnter(); });
}

void StaticURL::SetProperty(const rb::String& name, const rb::Variant& value) {
  if (name == "URL") {
    URL = value.StringValue();
    return;
  }
  rb::StaticText::SetProperty(name, value);
}

rb::Variant StaticURL::Property(const rb::String& name) const {
  if (name == "URL") return URL;
  return rb::StaticText::Property(name);
}

void StaticURL::RaiseOpen() { Event_Open(); }

void StaticURL::Event_MouseUp(int32_t x, int32_t y) {
  WithExceptionContext("StaticURL.MouseUp", [&] {
    // Strictly inside: a release on an edge opens nothing.
    if (0 < x && 0 < y && x < Width() && y < Height()) {
      rb::ShowURL(URL == "" ? Text() : URL);
    }
    SetTextColor(kAtRest);
  });
}

bool StaticURL::Event_MouseDown(int32_t, int32_t) {
  return WithExceptionContext("StaticURL.MouseDown", [&] {
    SetTextColor(kPressed);
    return true;
  });
}

void StaticURL::Event_MouseExit() {
  WithExceptionContext("StaticURL.MouseExit", [&] { SetTextColor(kAtRest); });
}

void StaticURL::Event_MouseEnter() {
  WithExceptionContext("StaticURL.MouseEnter", [&] { SetTextColor(kPointerOver); });
}

void StaticURL::Event_Open() {
  WithExceptionContext("StaticURL.Open", [&] {
    SetTextColor(kAtRest);
    SetUnderline(true);
    RaiseEvent<void>("Open");
  });
}
