// The program's side of the playback class: members bound by their declared
// names, arguments passed in order, results and properties read back.
#include "CoreTestFixture.h"

namespace coretest {
namespace {

using MidiPlaybackZelTest = CoreTest;

TEST_F(MidiPlaybackZelTest, EveryEntryBindsByItsDeclaredName) {
  const rb::PluginEntrypointTable& table = PluginEntrypoints();
  ASSERT_EQ(table.Size(), size_t(PlaybackEntry::Count));
  for (size_t i = 0; i < table.Size(); ++i) EXPECT_TRUE(table.IsBound(i)) << table.Name(i);
  EXPECT_EQ(table.Name(size_t(PlaybackEntry::InstrumentIDOnChannelSet)),
            "MidiPlaybackZel.InstrumentIDOnChannel(Channel as integer) as integer.Set");
}

TEST_F(MidiPlaybackZelTest, MembersPassTheirArgumentsAndResults) {
  TheRecording().SetInstruments({{0x000010, "Organ 1"}, {0x780000, "Standard"}, {0x000020, ""}});
  rb::Ref<MidiPlaybackZel> player = MidiPlaybackZel::New();
  ASSERT_TRUE(player);
  EXPECT_TRUE(player->Init());
  EXPECT_EQ(player->InstrumentCount(), 3);
  EXPECT_EQ(player->InstrumentID(1), 0x780000);
  EXPECT_EQ(player->InstrumentName(0x780000).Bytes(), "Standard");
  // A nil host string reads as the empty text.
  EXPECT_EQ(player->InstrumentName(0x000020).Bytes(), "");
  player->SendMidiEvent(0x90, 60, 100, 0);
  player->SetInstrumentIDOnChannel(9, 0x780000);
  EXPECT_EQ(player->InstrumentIDOnChannel(9), 0x780000);
  EXPECT_EQ(player->CPULoad(), 0.0f);
  EXPECT_EQ(player->Callback(), 0);
  EXPECT_EQ(player->Handle(), 0);
  EXPECT_EQ(player->Lasterror(), 0);
  player->SetInstrumentIDOnChannel(16, 1);
  EXPECT_EQ(player->Lasterror(), -1);

  const auto calls = TheRecording().Calls();
  std::vector<std::string> members;
  for (const RecordedCall& c : calls) members.push_back(c.member);
  EXPECT_EQ(members, (std::vector<std::string>{"Init", "InstrumentCount", "InstrumentID", "InstrumentName",
                                               "InstrumentName", "SendMidiEvent", "InstrumentIDOnChannel.Set",
                                               "InstrumentIDOnChannel", "CPULoad", "Callback",
                                               "InstrumentIDOnChannel.Set"}));
  const RecordedCall& send = calls[5];
  EXPECT_EQ(send.argCount, 4);
  EXPECT_EQ((std::vector<int32_t>(send.args, send.args + 4)), (std::vector<int32_t>{0x90, 60, 100, 0}));
}

TEST_F(MidiPlaybackZelTest, InitReportsFailure) {
  TheRecording().setInitResult(0);
  rb::Ref<MidiPlaybackZel> player = MidiPlaybackZel::New();
  EXPECT_FALSE(player->Init());
  EXPECT_EQ(player->Lasterror(), -1);
}

TEST_F(MidiPlaybackZelTest, ReleasingTheObjectRunsTheClassDestructorOnce) {
  rb::Ref<MidiPlaybackZel> player = MidiPlaybackZel::New();
  EXPECT_EQ(TheRecording().liveObjects(), 1);
  player.reset();
  EXPECT_EQ(TheRecording().liveObjects(), 0);
  EXPECT_EQ(TheRecording().CallsOf("__exit").size(), 1u);
}

}  // namespace
}  // namespace coretest
