#include "MyMidiClientZel.h"

#include <atomic>

#include "CFStringZel.h"
#include "MidiObjectZel.h"
#include "Window1.h"
#include "rb/Dialogs.h"

namespace {
std::atomic<bool> refuseNew{false};

// The set-up events run on the event loop; once the window has closed (at
// quit) a late event finds no window and must not make a new one.
void rescanOpenWindow() {
  Window1* window = OpenWindow1();
  if (window != nullptr && window->IsOpen()) window->GetSources();
}
}  // namespace

MyMidiClientZel::MyMidiClientZel() {
  using ObjectRef = rb::Ref<MidiObjectZel>;
  SetHandler<void()>("SetupChanged", [this] { Event_SetupChanged(); });
  SetHandler<void(ObjectRef, ObjectRef)>(
      "ObjectAdded", [this](ObjectRef parent, ObjectRef child) { Event_ObjectAdded(parent, child); });
  SetHandler<void(ObjectRef, ObjectRef)>(
      "ObjectRemoved", [this](ObjectRef parent, ObjectRef child) { Event_ObjectRemoved(parent, child); });
  SetHandler<void(ObjectRef, rb::Ref<CFStringZel>)>(
      "PropertyChanged",
      [this](ObjectRef object, rb::Ref<CFStringZel> name) { Event_PropertyChanged(object, name); });
  SetHandler<void()>("ThruConnectionsChanged", [this] { Event_ThruConnectionsChanged(); });
  SetHandler<void()>("SerialPortOwnerChanged", [this] { Event_SerialPortOwnerChanged(); });
}

rb::Ref<MyMidiClientZel> MyMidiClientZel::New() {
  if (refuseNew.load()) return nullptr;
  return rb::New<MyMidiClientZel>();
}

void MyMidiClientZel::SetRefuseNewForTesting(bool refuse) noexcept { refuseNew.store(refuse); }

void MyMidiClientZel::Event_SetupChanged() {}

void MyMidiClientZel::Event_ObjectAdded(rb::Ref<MidiObjectZel>, rb::Ref<MidiObjectZel>) {
  rescanOpenWindow();
}

void MyMidiClientZel::Event_ObjectRemoved(rb::Ref<MidiObjectZel>, rb::Ref<MidiObjectZel>) {
  rescanOpenWindow();
}

void MyMidiClientZel::Event_PropertyChanged(rb::Ref<MidiObjectZel>, rb::Ref<CFStringZel>) {}

void MyMidiClientZel::Event_ThruConnectionsChanged() {}

void MyMidiClientZel::Event_SerialPortOwnerChanged() {}

void MyMidiClientZel::w(const rb::String& message) { rb::MsgBox(message); }
