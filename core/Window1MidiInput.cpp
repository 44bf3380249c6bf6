// The main window's MIDI input: the client, the input port and the scan that
// connects every MIDI source.
#include "CFStringZel.h"
#include "DebugMessage.h"
#include "MidiClientZel.h"
#include "MidiEndpointZel.h"
#include "MidiStatusText.h"
#include "MyMidiPort.h"
#include "Window1.h"
#include "rb/Dialogs.h"
#include "rb/Runtime.h"
#include "rb/Text.h"

void Window1::openMidiClient() {
  Client->Init(NewCFStringZel("Chimewick"));
  if (Client->Lasterror() != 0) {
    // The status, and then in words what it means on this system.
    rb::MsgBox("Chimewick initialization failed: " + rb::Str(Client->Lasterror()) + " (" +
               MidiStatusText(Client->Lasterror()) + ")");
    // The application began to quit while the message showed.
    if (rb::IsQuitting()) return;
  }

  rb::Ref<CFStringZel> portName = NewCFStringZel("ChimewickPort");
  port = MyMidiPort::New();
  if (!port) {
    rb::MsgBox("Cannot open port");
    return;
  }
  Client->CreateInputPort(portName, port);
  if (port->Handle() != 0) {
    if (DebugMessagesEnabled()) DebugMessageZel("port.handle: " + rb::Hex(port->Handle()));
    GetSources();
  } else {
    // The client holds the service's status; the port has none of its own.
    rb::MsgBox("There was an error: " + rb::Str(Client->Lasterror()));
  }
}

void Window1::closeMidiClient() {
  // Nothing to do: the port and the client end when the window releases them.
}

void Window1::Log(const rb::String& message) { Warnings()->SetText(" " + message); }

void Window1::GetSources() {
  const int32_t n = Client->NumberOfSources();
  if (n <= 0) {
    Log("No keyboard found");
    return;
  }
  for (int32_t i = 0; i < n; ++i) {
    rb::Ref<MidiEndpointZel> src = Client->GetSource(i);
    // The count was read once; a source that went since has nothing to connect.
    if (!src) continue;
    rb::Ref<CFStringZel> name = src->StringProperty(src->kMIDIPropertyName());
    Log(name ? name->Str() : rb::String());
    // Without a port (it could not be made) there is nothing to connect to.
    if (port) port->ConnectSource(src);
    sources.Append(src);
  }
}
