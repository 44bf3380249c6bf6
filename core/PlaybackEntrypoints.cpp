// The program's plug-in entry-point table: the playback class's members by
// their declared names.
#include "PlaybackEntrypoints.h"

rb::PluginEntrypointTable& PluginEntrypoints() {
  static rb::PluginEntrypointTable table({
      "MidiPlaybackZel.__exit",
      "MidiPlaybackZel.Callback as integer",
      "MidiPlaybackZel.Init as boolean",
      "MidiPlaybackZel.SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, "
      "OffsetSampleFrame as integer)",
      "MidiPlaybackZel.InstrumentCount as integer",
      "MidiPlaybackZel.InstrumentID(index as integer) as integer",
      "MidiPlaybackZel.InstrumentName(index as integer) as string",
      "MidiPlaybackZel.CPULoad as single",
      "MidiPlaybackZel.InstrumentIDOnChannel(Channel as integer) as integer",
      "MidiPlaybackZel.InstrumentIDOnChannel(Channel as integer) as integer.Set",
  });
  static_assert(size_t(PlaybackEntry::Count) == 10);
  return table;
}

void _InitPluginEntrypoints() { PluginEntrypoints().Bind(); }
