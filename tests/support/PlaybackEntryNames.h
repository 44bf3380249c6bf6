// The class MidiPlaybackZel by the names a host binds its members under: the
// eight member declarations byte for byte, and the program's entry names.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace chimewick_test {

// The eight member declarations, in the order of the class's method table.
inline constexpr std::array<const char*, 8> kPlaybackDeclarations = {
    "Callback as integer",
    "Init as boolean",
    "SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, OffsetSampleFrame as integer)",
    "InstrumentCount as integer",
    "InstrumentID(index as integer) as integer",
    "InstrumentName(index as integer) as string",
    "CPULoad as single",
    "InstrumentIDOnChannel(Channel as integer) as integer",
};

// The ten entry names the program binds, in the order of its table: the
// destructor, the eight members, the setter of the last one.
inline std::vector<std::string> PlaybackEntryNames() {
  std::vector<std::string> names = {"MidiPlaybackZel.__exit"};
  for (const char* declaration : kPlaybackDeclarations)
    names.push_back(std::string("MidiPlaybackZel.") + declaration);
  names.push_back(names.back() + ".Set");
  return names;
}

}  // namespace chimewick_test
