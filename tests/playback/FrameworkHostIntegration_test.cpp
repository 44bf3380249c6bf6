// The installed bundle under the program's own plug-in host: loaded by the
// framework from plugins/, every member bound by the names the program uses,
// an object made, initialised and asked for its instruments on the null
// output.
#include <gtest/gtest.h>

#include "Bundles.h"
#include "PacketList.h"
#include "PlaybackEntryNames.h"
#include "PlaybackObject.h"
#include "rb/PluginHost.h"

namespace {

TEST(FrameworkHost, TheProgramsHostBindsAndDrivesTheInstalledBundle) {
  rb::ResetPluginRegistryForTesting();
  ASSERT_TRUE(rb::LoadPlugin(InstalledBundlePath()));

  rb::PluginEntrypointTable table(chimewick_test::PlaybackEntryNames());
  table.Bind();
  for (std::size_t i = 0; i < table.Size(); ++i) EXPECT_TRUE(table.IsBound(i)) << table.Name(i);

  {
    PlaybackObject player;
    EXPECT_EQ(player.lasterror(), 0);
    ASSERT_TRUE(player.init()) << "Lasterror " << player.lasterror();
    EXPECT_EQ(player.lasterror(), 0);
    EXPECT_EQ(player.handle(), 0);

    ASSERT_GT(player.instrumentCount(), 100);
    const std::optional<std::string> first = player.instrumentName(player.instrumentID(0));
    ASSERT_TRUE(first.has_value());
    EXPECT_FALSE(first->empty());

    player.setInstrumentIDOnChannel(9, 0x780000);
    EXPECT_EQ(player.instrumentIDOnChannel(9), 0x780000);
    EXPECT_EQ(player.lasterror(), 0);

    player.sendMidiEvent(0x99, 38, 100, 0);
    EXPECT_EQ(player.lasterror(), 0);
    player.readPackets(PacketList({{0xC2, 0x07, 0xF8}}));
    EXPECT_EQ(player.instrumentIDOnChannel(2), 7);
  }  // the host releases the object: its destructor tears the graph down
  rb::ResetPluginRegistryForTesting();
}

}  // namespace
