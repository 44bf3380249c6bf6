// The plug-in entry-point table of the program: one entry per plug-in member
// it knows, looked up by entry name (class name, a point and the member's
// declaration exactly as the plug-in declares it).
#pragma once

#include "rb/PluginHost.h"

enum class PlaybackEntry : size_t {
  Exit,
  Callback,
  Init,
  SendMidiEvent,
  InstrumentCount,
  InstrumentID,
  InstrumentName,
  CPULoad,
  InstrumentIDOnChannel,
  InstrumentIDOnChannelSet,
  Count
};

// The table, in that order. Filled once by _InitPluginEntrypoints.
rb::PluginEntrypointTable& PluginEntrypoints();
// Looks every entry up by name; tests nothing and reports nothing. Main
// thread, at start-up, after the plug-ins are loaded.
void _InitPluginEntrypoints();
