// What a host sees when it loads the bundle: the version call, the class
// record, the method and property tables (in the layout an old host reads
// too) and the host strings.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "ProcessThreads.h"
#include "TestHost.h"

namespace {

namespace fs = std::filesystem;

const char* const kDeclarations[] = {
    "Callback as integer",
    "Init as boolean",
    "SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, OffsetSampleFrame as integer)",
    "InstrumentCount as integer",
    "InstrumentID(index as integer) as integer",
    "InstrumentName(index as integer) as string",
    "CPULoad as single",
    "InstrumentIDOnChannel(Channel as integer) as integer",
};

// A freshly loaded bundle (its own copy) registered with a host of the given
// kind.
struct FreshLoad {
  explicit FreshLoad(HostConfig config, const std::string& path = BundlePath(AudioKind::Fake),
                     bool keepMapped = false)
      : host(config), bundle(PluginBundle::load(path, true, keepMapped)) {
    bundle->callMain(host);
  }
  TestHost host;
  std::unique_ptr<PluginBundle> bundle;
};

// An address as an offset into its loaded image, comparable between two
// copies of one bundle.
std::ptrdiff_t imageOffset(const void* address) {
  if (address == nullptr) return 0;
  Dl_info info{};
  if (dladdr(address, &info) == 0) return -1;
  return static_cast<const char*>(address) - static_cast<const char*>(info.dli_fbase);
}

struct EntryView {
  std::ptrdiff_t function, setter;
  std::string declaration;
  bool operator==(const EntryView&) const = default;
};

std::vector<EntryView> methodTable(const TestHost& host) {
  std::vector<EntryView> rows;
  for (const char* declaration : kDeclarations) {
    auto entry = host.method(declaration);
    if (!entry) return {};
    rows.push_back({imageOffset(entry->function), imageOffset(entry->setter), entry->declaration});
  }
  return rows;
}

TEST(PluginRegistration, RegistersVersionNineAndTheClassRecordAsSpecified) {
  FreshLoad load({});
  EXPECT_EQ(load.host.pluginVersions, std::vector<int32_t>{9});
  ASSERT_EQ(load.host.registerCalls, 1);
  const PluginClassDefinition& r = *load.host.record;
  EXPECT_EQ(r.version, 9u);
  EXPECT_STREQ(r.name, "MidiPlaybackZel");
  EXPECT_EQ(r.superName, nullptr);
  EXPECT_EQ(r.dataSize, 92u);
  EXPECT_EQ(r.dataOffset, load.host.dataOffset);
  EXPECT_EQ(r.constructor, nullptr);
  EXPECT_NE(r.destructor, nullptr);
  EXPECT_EQ(r.propertyCount, 2u);
  EXPECT_EQ(r.methodCount, 8u);
  EXPECT_EQ(r.flags, 4u);
  for (PluginWord word : r.further) EXPECT_EQ(word, 0u);
  for (PluginWord word : r.reserved) EXPECT_EQ(word, 0u);

  struct Row {
    const char* name;
    PluginWord offset;
  } expected[] = {{"Handle", 0}, {"Lasterror", 4}};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(expected[i].name);
    const PluginPropertyEntry& p = r.properties[i];
    EXPECT_EQ(p.group, nullptr);
    EXPECT_STREQ(p.name, expected[i].name);
    EXPECT_STREQ(p.type, "Integer");
    EXPECT_EQ(p.flags, 6u);
    EXPECT_EQ(p.getter, -1);
    EXPECT_EQ(p.setter, nullptr);
    EXPECT_EQ(p.fieldOffset, expected[i].offset);
    for (PluginWord word : p.reserved) EXPECT_EQ(word, 0u);
  }
}

TEST(PluginRegistration, MethodTableHoldsTheEightDeclarationsByteForByteWithFlagsFour) {
  FreshLoad load({});
  const auto* entries = static_cast<const PluginMethodEntry*>(load.host.record->methods);
  for (std::size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(kDeclarations[i]);
    EXPECT_EQ(std::strcmp(entries[i].declaration, kDeclarations[i]), 0) << entries[i].declaration;
    EXPECT_NE(entries[i].function, nullptr);
    EXPECT_EQ(entries[i].flags, 4u);
    // Only InstrumentIDOnChannel is assignable.
    EXPECT_EQ(entries[i].setter != nullptr, i == 7);
  }
}

struct HostVersionCase {
  const char* name;
  std::optional<double> version;
  bool old;
};

void PrintTo(const HostVersionCase& c, std::ostream* out) { *out << c.name; }

class HostVersion : public testing::TestWithParam<HostVersionCase> {};

TEST_P(HostVersion, OldHostsGetThreeWordEntriesWithTheSameFunctionsSettersAndDeclarations) {
  FreshLoad reference({});  // 5.9: four-word entries, the record's own table
  const std::vector<EntryView> expected = methodTable(reference.host);
  ASSERT_EQ(expected.size(), 8u);

  HostConfig config;
  config.version = GetParam().version;
  FreshLoad load(config);
  ASSERT_EQ(load.host.registerCalls, 1);
  EXPECT_EQ(load.host.isOld(), GetParam().old);
  EXPECT_EQ(load.host.record->methodCount, 8u);
  EXPECT_EQ(methodTable(load.host), expected);
  if (GetParam().old) {
    // Entry 2 starts right after three words of entry 1.
    const auto* old = static_cast<const PluginMethodEntryOld*>(load.host.record->methods);
    EXPECT_STREQ(old[1].declaration, "Init as boolean");
  } else {
    const auto* entries = static_cast<const PluginMethodEntry*>(load.host.record->methods);
    EXPECT_STREQ(entries[1].declaration, "Init as boolean");
    EXPECT_EQ(entries[1].flags, 4u);
  }
}

TEST_P(HostVersion, MembersCalledThroughTheHostsTableWork) {
  HostConfig config;
  config.version = GetParam().version;
  FreshLoad load(config);
  PlaybackObject object(load.host);
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
  HostConfig config;
  config.offerRegisterClass = false;
  FreshLoad load(config);
  EXPECT_EQ(load.host.registerCalls, 0);
  EXPECT_EQ(load.host.record, nullptr);
  EXPECT_EQ(load.host.pluginVersions, std::vector<int32_t>{9});
}

TEST(PluginRegistration, WithoutRegisterPluginVersionTheClassIsStillRegistered) {
  HostConfig config;
  config.offerRegisterPluginVersion = false;
  FreshLoad load(config);
  EXPECT_TRUE(load.host.pluginVersions.empty());
  EXPECT_EQ(load.host.registerCalls, 1);
}

TEST(HostStrings, BuildStringMissingAtFirstUseGivesNilThenLaterStringsAreMade) {
  HostConfig config;
  config.offerBuildString = false;
  FreshLoad load(config);
  PlaybackObject object(load.host);
  ASSERT_TRUE(object.init());

  EXPECT_EQ(object.instrumentName(0), std::nullopt);
  EXPECT_EQ(object.lasterror(), 0);

  load.host.config.offerBuildString = true;
  EXPECT_EQ(object.instrumentName(0), "Piano 1");
  EXPECT_EQ(object.instrumentName(0x105), "E.Piano 1");
  ASSERT_EQ(load.host.strings.size(), 2u);
  EXPECT_EQ(load.host.strings[0]->encoding, 0x600u);
  EXPECT_EQ(load.host.strings[1]->encoding, 0x600u);
}

TEST(HostStrings, SetStringEncodingMissingStillGivesTheStringAndIsTriedAgainLater) {
  HostConfig config;
  config.offerSetEncoding = false;
  FreshLoad load(config);
  PlaybackObject object(load.host);
  ASSERT_TRUE(object.init());
  EXPECT_EQ(object.instrumentName(0), "Piano 1");
  load.host.config.offerSetEncoding = true;
  EXPECT_EQ(object.instrumentName(0x10), "Organ 1");
  ASSERT_EQ(load.host.strings.size(), 2u);
  EXPECT_EQ(load.host.strings[0]->encoding, 0u);
  EXPECT_EQ(load.host.strings[1]->encoding, 0x600u);
}

TEST(HostStrings, AnEmptyNameIsNilWithoutCallingTheHost) {
  FreshLoad load({});
  PlaybackObject object(load.host);
  ASSERT_TRUE(object.init());
  EXPECT_EQ(object.instrumentName(0x20), std::nullopt);  // the fake's empty name
  EXPECT_EQ(object.lasterror(), 0);
  EXPECT_EQ(load.host.buildStringCalls, 0);
  EXPECT_EQ(load.host.setEncodingCalls, 0);
}

TEST(HostStrings, ANameFillingTheWholeBufferKeepsAll256Bytes) {
  FreshLoad load({});
  AudioSeams seams = load.bundle->seams();
  const std::string longName(256, 'x');
  seams.fake->setInstruments({{7, longName}});
  PlaybackObject object(load.host);
  ASSERT_TRUE(object.init());
  EXPECT_EQ(object.instrumentName(7), longName);
}

TEST(PluginBundleExports, TheInstalledBundleExportsOnlyREALPluginMain) {
  const std::string path = PLAYBACK_BUNDLE;
  if (path.empty()) GTEST_SKIP() << "the audio layer's library is not built yet";
  EXPECT_NE(path.find("/plugins/PlaybackPlugin.so"), std::string::npos) << path;
  FreshLoad load({}, path, true);
  EXPECT_NE(load.bundle->symbol("REALPluginMain"), nullptr);
  for (const char* hidden : {"PlaybackReadProc", "BuildHostString", "RegisterClassDefinition",
                             "TeardownGraph", "NewAUGraph", "MusicDeviceMIDIEvent", "AudioSetEventTap"})
    EXPECT_EQ(load.bundle->symbol(hidden), nullptr) << hidden;
  EXPECT_EQ(load.host.registerCalls, 1);
}

// The bundle starts loading the SoundFont when the host loads it, while the
// program builds its window; Init then plays the SoundFont loaded by then,
// even if the file is gone meanwhile.
TEST(PluginBundleLoad, LoadingTheBundleLoadsTheSoundFontBeforeInit) {
  const std::string path = PLAYBACK_BUNDLE;
  if (path.empty()) GTEST_SKIP() << "the audio layer's library is not built yet";
  const fs::path folder = fs::temp_directory_path() / ("chimewick-preload-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path soundFont = folder / "preloaded.sf2";
  fs::copy_file(CHIMEWICK_DEFAULT_SOUNDFONT, soundFont);
  {
    ScopedEnv configured("CHIMEWICK_SOUNDFONT", soundFont.c_str());
    FreshLoad load({}, path, true);
    ASSERT_TRUE(chimewick_test::WaitUntilNoThreadNamed("SoundFont load", std::chrono::seconds(60)));
    fs::remove(soundFont);
    PlaybackObject object(load.host);
    EXPECT_TRUE(object.init());
    EXPECT_EQ(object.lasterror(), 0);
    EXPECT_EQ(object.instrumentCount(), 136);
  }
  fs::remove_all(folder);
}

}  // namespace
