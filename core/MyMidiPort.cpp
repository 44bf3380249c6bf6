#include "MyMidiPort.h"

#include "DebugMessage.h"
#include "MidiEndpointZel.h"
#include "MidiPacketListZel.h"
#include "MidiPacketZel.h"
#include "Window1.h"
#include "rb/MemoryBlock.h"
#include "rb/Text.h"

namespace {
std::atomic<bool> refuseNew{false};

enum class MessageClass { NoteOn, NoteOff, Controller, PitchBend, ActiveSensing, Other };

MessageClass classify(int32_t status) {
  if (status >= 0x90 && status <= 0x9F) return MessageClass::NoteOn;
  if (status >= 0x80 && status <= 0x8F) return MessageClass::NoteOff;
  if (status >= 0xB0 && status <= 0xBF) return MessageClass::Controller;
  if (status >= 0xE0 && status <= 0xEF) return MessageClass::PitchBend;
  if (status == 0xFE) return MessageClass::ActiveSensing;
  return MessageClass::Other;
}

constexpr int32_t kVolumeController = 7;

}  // namespace

MyMidiPort::MyMidiPort() {
  // Releasing the port stops its input before this object goes (see
  // MidiPortZel), so a Read never meets it half destroyed.
  SetHandler<void(rb::Ref<MidiEndpointZel>, rb::Ref<MidiPacketListZel>)>(
      "Read", [this](rb::Ref<MidiEndpointZel> endpoint, rb::Ref<MidiPacketListZel> packets) {
        Event_Read(std::move(endpoint), std::move(packets));
      });
}

rb::Ref<MyMidiPort> MyMidiPort::New() {
  if (refuseNew.load()) return nullptr;
  return rb::New<MyMidiPort>();
}

void MyMidiPort::SetRefuseNewForTesting(bool refuse) noexcept { refuseNew.store(refuse); }

void MyMidiPort::Event_Read(rb::Ref<MidiEndpointZel> endpoint, rb::Ref<MidiPacketListZel> packets) {
  if (!endpoint || !packets) return;
  // Trace text is built only when someone reads it: this runs for every note.
  const bool tracing = DebugMessagesEnabled();
  if (tracing) DebugMessageZel("endpoint.Handle: " + rb::Hex(endpoint->Handle()));
  const int32_t n = count.fetch_add(1, std::memory_order_relaxed) + 1;
  const int32_t last = packets->Count() - 1;
  if (tracing) DebugMessageZel(rb::Str(n) + " " + rb::Str(packets->Count()) + " packets.");

  for (int32_t i = 0; i <= last; ++i) {
    if (tracing) DebugMessageZel(rb::Str(n) + " " + rb::Str(i));
    rb::Ref<MidiPacketZel> packet = packets->Item(i);
    if (!packet) continue;
    rb::Ref<rb::MemoryBlock> m = packet->DataMemory();
    if (!m) continue;
    const int32_t size = m->Size();
    const int32_t b0 = size > 0 ? m->Byte(0) : 0;
    const int32_t b1 = size > 1 ? m->Byte(1) : 0;
    const int32_t b2 = size > 2 ? m->Byte(2) : 0;

    bool forward = true;
    switch (classify(b0)) {
      case MessageClass::NoteOn:
      case MessageClass::NoteOff:
      case MessageClass::PitchBend:
        break;
      case MessageClass::Controller:
        if (b1 == kVolumeController) {
          if (Window1* window = OpenWindow1()) window->Volume.store(b2, std::memory_order_relaxed);
        }
        break;
      case MessageClass::ActiveSensing:
        forward = false;
        break;
      case MessageClass::Other:
        if (tracing) DebugMessageZel(rb::Str(n) + " something else");
        forward = size > 0;
        break;
    }
    if (!forward) continue;

    if (tracing) DebugMessageZel(rb::Str(n) + " insertrow");
    // Once per packet: the same note sent again would only stack its attack.
    if (Window1* window = OpenWindow1()) {
      if (MidiPlaybackZel* player = window->InputPlayer()) player->SendMidiEvent(b0, b1, b2, 0);
    }
  }
  if (tracing) DebugMessageZel(rb::Str(n) + " finished. ");
}
