// What the program's plug-in host sees when it loads the bundle: the version
// call, the class record read word by word (in the layout an old host reads
// too), the members bound by the program's names, and the host strings.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <limits>

#include "Bundles.h"
#include "PlaybackClassWords.h"
#include "PlaybackObject.h"
#include "ProcessThreads.h"
#include "ScopedEnvironment.h"
#include "TemporaryFolder.h"
#include "rb/PluginHost.h"

namespace {

using chimewick_test::PlaybackMethodWords;

// An address as an offset into its loaded image, comparable between two
// copies of one bundle.
uintptr_t imageOffset(uintptr_t address) {
  if (address == 0) return 0;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(address), &info) == 0) return ~uintptr_t{0};
  return address - reinterpret_cast<uintptr_t>(info.dli_fbase);
}

// The registered class's method table in entries of entryWords words, its
// functions as offsets into the image.
std::vector<PlaybackMethodWords> methodTable(size_t entryWords) {
  const PluginClassDefinition* record = rb::FindPluginClass("MidiPlaybackZel");
  if (record == nullptr) return {};
  std::vector<PlaybackMethodWords> rows = chimewick_test::PlaybackMethodTableWords(record, entryWords);
  for (PlaybackMethodWords& row : rows) {
    row.function = imageOffset(row.function);
    row.setter = imageOffset(row.setter);
  }
  return rows;
}

TEST(PluginRegistration, RegistersVersionNineOnceAndTheClassRecordWordByWord) {
  FreshBundle load;
  const rb::HostFunctionCalls calls = rb::HostFunctionCallsForTesting();
  EXPECT_EQ(calls.interfaceVersions, std::vector<int32_t>{9});
  EXPECT_EQ(calls.registerClass, 1);
  chimewick_test::ExpectPlaybackClassRecordWords(4);
}

struct HostVersionCase {
  const char* name;
  std::optional<double> version;
  bool old;
};

void PrintTo(const HostVersionCase& c, std::ostream* out) { *out << c.name; }

class HostVersion : public testing::TestWithParam<HostVersionCase> {};

TEST_P(HostVersion, OldHostsGetThreeWordEntriesWithTheSameFunctionsSettersAndDeclarations) {
  std::vector<PlaybackMethodWords> expected;
  {
    FreshBundle reference;  // 5.9: four-word entries, the record's own table
    expected = methodTable(4);
  }
  ASSERT_EQ(expected.size(), 8u);
  // A three-word entry has no flags word.
  if (GetParam().old)
    for (PlaybackMethodWords& row : expected) row.flags = 0;

  FreshBundle load({.version = GetParam().version, .hiddenFunctions = {}});
  const size_t entryWords = GetParam().old ? 3 : 4;
  EXPECT_EQ(rb::HostFunctionCallsForTesting().registerClass, 1);
  EXPECT_EQ(methodTable(entryWords), expected);
  // The host binds what it reads in that layout.
  chimewick_test::ExpectPlaybackClassRecordWords(entryWords);
}

TEST_P(HostVersion, MembersCalledThroughTheHostsTableWork) {
  FreshBundle load({.version = GetParam().version, .hiddenFunctions = {}});
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  object.setInstrumentIDOnChannel(4, 0x10203);
  EXPECT_EQ(object.instrumentIDOnChannel(4), 0x10203);
  EXPECT_EQ(object.instrumentName(0x000010), "Organ 1");
}

INSTANTIATE_TEST_SUITE_P(
    Versions, HostVersion,
    testing::Values(HostVersionCase{"v5_8", 5.8, true},
                    HostVersionCase{"NoVersionFunction", std::nullopt, true},
                    HostVersionCase{"v5_9", 5.9, false}, HostVersionCase{"v2025", 2025.1, false},
                    HostVersionCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(), false},
                    HostVersionCase{"v0", 0.0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PluginRegistration, WithoutPluginRegisterClassNoClassIsRegistered) {
  FreshBundle load({.hiddenFunctions = {"PluginRegisterClass"}});
  const rb::HostFunctionCalls calls = rb::HostFunctionCallsForTesting();
  EXPECT_EQ(calls.registerClass, 0);
  EXPECT_EQ(rb::FindPluginClass("MidiPlaybackZel"), nullptr);
  EXPECT_EQ(calls.interfaceVersions, std::vector<int32_t>{9});
}

TEST(PluginRegistration, WithoutRegisterPluginVersionTheClassIsStillRegistered) {
  FreshBundle load({.hiddenFunctions = {"RegisterPluginVersion"}});
  const rb::HostFunctionCalls calls = rb::HostFunctionCallsForTesting();
  EXPECT_TRUE(calls.interfaceVersions.empty());
  EXPECT_EQ(calls.registerClass, 1);
  EXPECT_NE(rb::FindPluginClass("MidiPlaybackZel"), nullptr);
}

// The host reads a string marked US-ASCII (0x600) with every byte above 127
// as "?", and any other string as its bytes: "Caf\xE9" shows the encoding
// the plug-in set.
const std::vector<FakeInstrument> kInstruments = {
    {0x000000, "Piano 1"}, {0x000010, "Organ 1"}, {0x000105, "E.Piano 1"}, {0x000106, "Caf\xE9"}};

TEST(HostStrings, BuildStringMissingAtFirstUseGivesNilThenLaterStringsAreMade) {
  FreshBundle load({.hiddenFunctions = {"REALBuildString"}});
  load.seams().fake->setInstruments(kInstruments);
  PlaybackObject object;
  ASSERT_TRUE(object.init());

  EXPECT_EQ(object.instrumentName(0), std::nullopt);
  EXPECT_EQ(object.lasterror(), 0);

  rb::HideHostFunctionForTesting("REALBuildString", false);
  EXPECT_EQ(object.instrumentName(0), "Piano 1");
  EXPECT_EQ(object.instrumentName(0x105), "E.Piano 1");
  EXPECT_EQ(object.instrumentName(0x106), "Caf?");
  const rb::HostFunctionCalls calls = rb::HostFunctionCallsForTesting();
  EXPECT_EQ(calls.buildString, 3);
  EXPECT_EQ(calls.setStringEncoding, 3);
}

TEST(HostStrings, SetStringEncodingMissingStillGivesTheStringAndIsTriedAgainLater) {
  FreshBundle load({.hiddenFunctions = {"REALSetStringEncoding"}});
  load.seams().fake->setInstruments(kInstruments);
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EXPECT_EQ(object.instrumentName(0), "Piano 1");
  EXPECT_EQ(object.instrumentName(0x106), "Caf\xE9") << "no encoding set";
  rb::HideHostFunctionForTesting("REALSetStringEncoding", false);
  EXPECT_EQ(object.instrumentName(0x10), "Organ 1");
  EXPECT_EQ(object.instrumentName(0x106), "Caf?");
  const rb::HostFunctionCalls calls = rb::HostFunctionCallsForTesting();
  EXPECT_EQ(calls.buildString, 4);
  EXPECT_EQ(calls.setStringEncoding, 2);
}

TEST(HostStrings, AnEmptyNameIsNilWithoutCallingTheHost) {
  FreshBundle load;
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EXPECT_EQ(object.instrumentName(0x20), std::nullopt);  // the fake's empty name
  EXPECT_EQ(object.lasterror(), 0);
  const rb::HostFunctionCalls calls = rb::HostFunctionCallsForTesting();
  EXPECT_EQ(calls.buildString, 0);
  EXPECT_EQ(calls.setStringEncoding, 0);
}

TEST(HostStrings, ANameFillingTheWholeBufferKeepsAll256Bytes) {
  const std::string longName(256, 'x');
  UseBundle(AudioKind::Fake).fake->setInstruments({{7, longName}});
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EXPECT_EQ(object.instrumentName(7), longName);
}

TEST(PluginBundleExports, TheInstalledBundleExportsOnlyREALPluginMain) {
  const std::string path = InstalledBundlePath();
  EXPECT_NE(path.find("/plugins/PlaybackPlugin.so"), std::string::npos) << path;
  FreshBundle load({}, path);
  EXPECT_NE(load.symbol("REALPluginMain"), nullptr);
  for (const char* hidden : {"PlaybackReadProc", "BuildHostString", "RegisterClassDefinition",
                             "TeardownGraph", "NewAUGraph", "MusicDeviceMIDIEvent", "AudioSetEventTap"})
    EXPECT_EQ(load.symbol(hidden), nullptr) << hidden;
  EXPECT_EQ(rb::HostFunctionCallsForTesting().registerClass, 1);
  EXPECT_NE(rb::FindPluginClass("MidiPlaybackZel"), nullptr);
}

// The bundle starts loading the SoundFont when the host loads it, while the
// program builds its window; Init then plays the SoundFont loaded by then,
// even if the file is gone meanwhile.
TEST(PluginBundleLoad, LoadingTheBundleLoadsTheSoundFontBeforeInit) {
  const chimewick_test::TemporaryFolder folder("preload");
  const std::filesystem::path soundFont = folder / "preloaded.sf2";
  std::filesystem::copy_file(CHIMEWICK_DEFAULT_SOUNDFONT, soundFont);
  const chimewick_test::ScopedEnvironment configured("CHIMEWICK_SOUNDFONT", soundFont.string());
  FreshBundle load({}, InstalledBundlePath());
  ASSERT_TRUE(chimewick_test::WaitUntilNoThreadNamed("SoundFont load", std::chrono::seconds(60)));
  std::filesystem::remove(soundFont);
  PlaybackObject object;
  EXPECT_TRUE(object.init());
  EXPECT_EQ(object.lasterror(), 0);
  EXPECT_EQ(object.instrumentCount(), 136);
}

}  // namespace
