// The installed bundle under the program's own plug-in host: loaded by the
// framework, every member bound by the names the program uses, an object
// made, initialised and asked for its instruments on the null output.
#include <gtest/gtest.h>

#include "rb/PluginHost.h"

namespace {

const std::vector<std::string> kEntryNames = {
    "MidiPlaybackZel.Callback as integer",
    "MidiPlaybackZel.Init as boolean",
    "MidiPlaybackZel.SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, OffsetSampleFrame "
    "as "
    "integer)",
    "MidiPlaybackZel.InstrumentCount as integer",
    "MidiPlaybackZel.InstrumentID(index as integer) as integer",
    "MidiPlaybackZel.InstrumentName(index as integer) as string",
    "MidiPlaybackZel.CPULoad as single",
    "MidiPlaybackZel.InstrumentIDOnChannel(Channel as integer) as integer",
    "MidiPlaybackZel.InstrumentIDOnChannel(Channel as integer) as integer.Set",
    "MidiPlaybackZel.__exit",
};

TEST(FrameworkHost, TheProgramsHostBindsAndDrivesTheInstalledBundle) {
  const std::string path = PLAYBACK_BUNDLE;
  if (path.empty()) GTEST_SKIP() << "the audio layer's library is not built yet";
  rb::ResetPluginRegistryForTesting();
  ASSERT_TRUE(rb::LoadPlugin(path));

  rb::PluginEntrypointTable table(kEntryNames);
  table.Bind();
  for (std::size_t i = 0; i < table.Size(); ++i) EXPECT_TRUE(table.IsBound(i)) << table.Name(i);

  rb::Ref<rb::PluginObject> player = rb::PluginObject::New("MidiPlaybackZel");
  ASSERT_TRUE(player);
  void* self = player->Self();
  EXPECT_EQ(player->ReadIntProperty("Lasterror"), 0);

  auto init = reinterpret_cast<int32_t (*)(void*)>(table.Entry(1));
  ASSERT_EQ(init(self), 1) << "Lasterror " << player->ReadIntProperty("Lasterror");
  EXPECT_EQ(player->ReadIntProperty("Lasterror"), 0);
  EXPECT_EQ(player->ReadIntProperty("Handle"), 0);

  auto count = reinterpret_cast<int32_t (*)(void*)>(table.Entry(3));
  auto id = reinterpret_cast<int32_t (*)(void*, int32_t)>(table.Entry(4));
  auto name = reinterpret_cast<HostString (*)(void*, int32_t)>(table.Entry(5));
  ASSERT_GT(count(self), 100);
  HostString first = name(self, id(self, 0));
  EXPECT_FALSE(rb::HostStringText(first).Bytes().empty());
  rb::ReleaseHostString(first);

  auto getter = reinterpret_cast<int32_t (*)(void*, int32_t)>(table.Entry(7));
  auto setter = reinterpret_cast<void (*)(void*, int32_t, int32_t)>(table.Entry(8));
  setter(self, 9, 0x780000);
  EXPECT_EQ(getter(self, 9), 0x780000);
  EXPECT_EQ(player->ReadIntProperty("Lasterror"), 0);

  auto send = reinterpret_cast<void (*)(void*, int32_t, int32_t, int32_t, int32_t)>(table.Entry(2));
  send(self, 0x99, 38, 100, 0);
  EXPECT_EQ(player->ReadIntProperty("Lasterror"), 0);
  auto read = reinterpret_cast<void (*)(void*, const void*)>(
      reinterpret_cast<intptr_t (*)(void*)>(table.Entry(0))(self));
  const uint8_t list[] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0xC2, 0x07, 0xF8};
  read(self, list);
  EXPECT_EQ(getter(self, 2), 7);
  player = nullptr;  // the destructor tears the graph down
  rb::ResetPluginRegistryForTesting();
}

}  // namespace
