// The plug-in host: loading, registration, objects of plug-in classes and
// members bound by name, driven through the small plug-ins in plugins/.
#include "rb/PluginHost.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "TemporaryFolder.h"

namespace {

std::string PluginPath(const char* name) { return std::string(TEST_PLUGIN_DIR) + "/" + name; }
const std::string kCounterPlugin = PluginPath("test_plugin_counter.so");

using IntMember = int32_t (*)(void*);
using IntArgMember = int32_t (*)(void*, int32_t);
using VoidMember = void (*)(void*);
using IntSetter = void (*)(void*, int32_t);
using StringMember = HostString (*)(void*, int32_t);

template <class Fn>
Fn Member(const char* entryName) {
  void* entry = rb::RuntimeLookupPluginEntrypoint(entryName);
  if (entry == nullptr) throw rb::UnboundEntrypointException(entryName);
  return reinterpret_cast<Fn>(entry);
}

class PluginHostTest : public ::testing::Test {
 protected:
  void SetUp() override { rb::ResetPluginRegistryForTesting(); }
  void TearDown() override { rb::ResetPluginRegistryForTesting(); }

  void LoadCounter() {
    testing::internal::CaptureStderr();
    const bool loaded = rb::LoadPlugin(kCounterPlugin);
    const std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded) << messages;
    ASSERT_NE(rb::FindPluginClass("CounterZel"), nullptr) << messages;
  }
};

// The record is read as plain words at their indexes, as a host built
// elsewhere would, not through the declaration the plug-in was built from.
TEST_F(PluginHostTest, RegisteredRecordGetsTheInstanceDataOffsetInWord4) {
  LoadCounter();
  const auto* words = reinterpret_cast<const uintptr_t*>(rb::FindPluginClass("CounterZel"));
  EXPECT_EQ(words[0], 9u);
  EXPECT_STREQ(reinterpret_cast<const char*>(words[1]), "CounterZel");
  const uintptr_t word4 = words[4];
  EXPECT_GT(word4, 0u);

  rb::Ref<rb::PluginObject> counter = rb::PluginObject::New("CounterZel");
  ASSERT_TRUE(counter);
  EXPECT_EQ(counter->ClassName(), "CounterZel");
  EXPECT_EQ(counter->InstanceData() - static_cast<uint8_t*>(counter->Self()), static_cast<ptrdiff_t>(word4));
  // The plug-in itself finds its data through the same word.
  EXPECT_EQ(Member<IntMember>("CounterZel.DataOffset as integer")(counter->Self()),
            static_cast<int32_t>(word4));
}

TEST_F(PluginHostTest, NewObjectHasZeroFilledInstanceData) {
  LoadCounter();
  // Several rounds, so that reused memory with old contents would show.
  for (int round = 0; round < 4; ++round) {
    rb::Ref<rb::PluginObject> counter = rb::PluginObject::New("CounterZel");
    ASSERT_TRUE(counter);
    const std::vector<uint8_t> zeros(counter->Record().dataSize, 0);
    EXPECT_EQ(std::memcmp(counter->InstanceData(), zeros.data(), zeros.size()), 0);
    std::memset(counter->InstanceData(), 0xA5, counter->Record().dataSize);
  }
}

TEST_F(PluginHostTest, UnknownClassMakesNoObject) {
  LoadCounter();
  EXPECT_FALSE(rb::PluginObject::New("NoSuchZel"));
  EXPECT_FALSE(rb::PluginObject::New("counterzel"));
  EXPECT_EQ(rb::FindPluginClass("NoSuchZel"), nullptr);
}

TEST_F(PluginHostTest, PropertiesWithGetterMinusOneAreReadFromInstanceData) {
  LoadCounter();
  rb::Ref<rb::PluginObject> counter = rb::PluginObject::New("CounterZel");
  ASSERT_TRUE(counter);
  EXPECT_EQ(counter->ReadIntProperty("Value"), 0);
  EXPECT_EQ(counter->ReadIntProperty("Step"), 0);

  EXPECT_EQ(Member<IntArgMember>("CounterZel.Add(amount as integer) as integer")(counter->Self(), -17), -17);
  Member<IntSetter>("CounterZel.Step as integer.Set")(counter->Self(), 7);
  EXPECT_EQ(counter->ReadIntProperty("Value"), -17);
  EXPECT_EQ(counter->ReadIntProperty("Step"), 7);

  // Written behind the plug-in's back: the host reads the field, not a copy.
  const int32_t value = 0x12345678;
  std::memcpy(counter->InstanceData(), &value, sizeof value);
  EXPECT_EQ(counter->ReadIntProperty("Value"), 0x12345678);

  EXPECT_THROW(counter->ReadIntProperty("Spare"), rb::RuntimeException);
  EXPECT_THROW(counter->ReadIntProperty(""), rb::RuntimeException);
}

TEST_F(PluginHostTest, DestructorRunsOnceWhenTheLastReferenceGoes) {
  LoadCounter();
  auto destructorCount = Member<IntMember>("CounterZel.DestructorCount as integer");
  const int32_t before = destructorCount(nullptr);

  rb::Ref<rb::PluginObject> counter = rb::PluginObject::New("CounterZel");
  rb::Ref<rb::PluginObject> second = counter;
  counter.reset();
  EXPECT_EQ(destructorCount(nullptr), before);
  second.reset();
  EXPECT_EQ(destructorCount(nullptr), before + 1);
}

TEST_F(PluginHostTest, EntriesBindOnlyByTheExactName) {
  LoadCounter();
  const PluginClassDefinition* record = rb::FindPluginClass("CounterZel");
  struct Case {
    const char* name;
    bool binds;
  };
  const Case cases[] = {
      {"CounterZel.Increment", true},
      {"CounterZel.Add(amount as integer) as integer", true},
      {"CounterZel.Step as integer", true},
      {"CounterZel.Step as integer.Set", true},
      {"CounterZel.Label(index as integer) as string", true},
      {"CounterZel.__exit", true},
      {"CounterZel.__init", false},         // the class has no constructor
      {"CounterZel.Increment.Set", false},  // not assignable
      {"CounterZel.Add(Amount as integer) as integer", false},
      {"CounterZel.Add(amount as Integer) as integer", false},
      {"CounterZel.Add(amount as integer)  as integer", false},
      {"CounterZel.Add(amount as integer) as intege", false},
      {"CounterZel.Add(amount as integer) as integerr", false},
      {"CounterZel.Step as integer.set", false},
      {"CounterZel.Step as integer.Get", false},
      {"CounterZel.Step as integer.Set ", false},
      {"counterzel.Increment", false},
      {"CounterZel Increment", false},
      {"CounterZel..Increment", false},
      {"CounterZel.", false},
      {"CounterZel", false},
      {"Increment", false},
      {"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(rb::RuntimeLookupPluginEntrypoint(c.name) != nullptr, c.binds) << '"' << c.name << '"';
  EXPECT_EQ(rb::RuntimeLookupPluginEntrypoint(nullptr), nullptr);

  EXPECT_EQ(rb::RuntimeLookupPluginEntrypoint("CounterZel.__exit"), record->destructor);
  EXPECT_NE(rb::RuntimeLookupPluginEntrypoint("CounterZel.Step as integer.Set"),
            rb::RuntimeLookupPluginEntrypoint("CounterZel.Step as integer"));
}

TEST_F(PluginHostTest, BoundMembersWorkOnTheObject) {
  LoadCounter();
  rb::Ref<rb::PluginObject> counter = rb::PluginObject::New("CounterZel");
  auto increment = Member<VoidMember>("CounterZel.Increment");
  auto step = Member<IntMember>("CounterZel.Step as integer");
  increment(counter->Self());
  Member<IntSetter>("CounterZel.Step as integer.Set")(counter->Self(), 10);
  EXPECT_EQ(step(counter->Self()), 10);
  increment(counter->Self());
  EXPECT_EQ(counter->ReadIntProperty("Value"), 11);
}

TEST_F(PluginHostTest, UnboundEntryFailsAtTheCall) {
  LoadCounter();
  rb::PluginEntrypointTable table({"CounterZel.Increment", "CounterZel.increment", "CounterZel.__init"});
  EXPECT_THROW(table.Entry(0), rb::UnboundEntrypointException);  // not bound yet
  table.Bind();
  ASSERT_EQ(table.Size(), 3u);
  EXPECT_TRUE(table.IsBound(0));
  EXPECT_FALSE(table.IsBound(1));
  EXPECT_FALSE(table.IsBound(2));
  EXPECT_FALSE(table.IsBound(3));
  EXPECT_EQ(table.Entry(0), rb::RuntimeLookupPluginEntrypoint("CounterZel.Increment"));
  try {
    table.Entry(1);
    FAIL() << "an unbound entry was returned";
  } catch (const rb::UnboundEntrypointException& e) {
    EXPECT_NE(e.Message.find("CounterZel.increment"), std::string::npos) << e.Message;
  }
  EXPECT_THROW(table.Entry(2), rb::UnboundEntrypointException);
  EXPECT_THROW(table.Entry(3), rb::OutOfBoundsException);
  EXPECT_EQ(table.Name(1), "CounterZel.increment");
}

TEST_F(PluginHostTest, TableBindsNothingBeforeAnyPluginIsLoaded) {
  rb::PluginEntrypointTable table({"CounterZel.Increment"});
  table.Bind();
  EXPECT_FALSE(table.IsBound(0));
  EXPECT_THROW(table.Entry(0), rb::UnboundEntrypointException);
}

// Every name resolved under a host that reads the method table as the
// plug-in laid it out for that host.
std::vector<void*> BindAll(const std::vector<std::string>& names) {
  std::vector<void*> entries;
  for (const std::string& n : names) entries.push_back(rb::RuntimeLookupPluginEntrypoint(n.c_str()));
  return entries;
}

TEST_F(PluginHostTest, OldHostReadsThreeWordMethodEntries) {
  const std::vector<std::string> names = {"CounterZel.Increment",
                                          "CounterZel.Add(amount as integer) as integer",
                                          "CounterZel.Step as integer",
                                          "CounterZel.Step as integer.Set",
                                          "CounterZel.Label(index as integer) as string",
                                          "CounterZel.SawOldHost as boolean",
                                          "CounterZel.__exit"};
  LoadCounter();
  const std::vector<void*> current = BindAll(names);
  for (void* entry : current) EXPECT_NE(entry, nullptr);
  EXPECT_EQ(Member<IntMember>("CounterZel.SawOldHost as boolean")(nullptr), 0);

  struct Case {
    const char* label;
    double version;
    bool hideVersionFunction;
    bool old;
  };
  const Case cases[] = {{"5.8", 5.8, false, true},
                        {"no REALGetRBVersion", 5.9, true, true},
                        {"6.0", 6.0, false, false},
                        {"5.9", 5.9, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    rb::ResetPluginRegistryForTesting();
    rb::SetHostVersionForTesting(c.version);
    rb::HideHostFunctionForTesting("REALGetRBVersion", c.hideVersionFunction);
    LoadCounter();
    EXPECT_EQ(Member<IntMember>("CounterZel.SawOldHost as boolean")(nullptr), c.old ? 1 : 0);
    EXPECT_EQ(BindAll(names), current);
    rb::Ref<rb::PluginObject> counter = rb::PluginObject::New("CounterZel");
    Member<IntSetter>("CounterZel.Step as integer.Set")(counter->Self(), 3);
    Member<VoidMember>("CounterZel.Increment")(counter->Self());
    EXPECT_EQ(counter->ReadIntProperty("Value"), 3);
  }
}

TEST_F(PluginHostTest, StringResultsCarryTheirText) {
  LoadCounter();
  rb::Ref<rb::PluginObject> counter = rb::PluginObject::New("CounterZel");
  auto label = Member<StringMember>("CounterZel.Label(index as integer) as string");
  for (int32_t index : {0, 7, -3, 2147483647}) {
    HostString s = label(counter->Self(), index);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(rb::HostStringText(s).Bytes(), "Counter " + std::to_string(index));
    rb::ReleaseHostString(s);
  }
  EXPECT_TRUE(rb::HostStringText(nullptr).empty());
  rb::ReleaseHostString(nullptr);
}

TEST_F(PluginHostTest, USASCIIStringsNeverCarryBytesAbove127) {
  LoadCounter();
  using ByteTextMember = HostString (*)(void*, int32_t, int32_t);
  auto byteText =
      Member<ByteTextMember>("CounterZel.ByteText(value as integer, encoding as integer) as string");
  struct Case {
    int32_t byte;
    int32_t encoding;
    const char* text;
  };
  const Case cases[] = {{'A', 0x600, "A"},
                        {0xE9, 0x600, "?"},
                        {0x80, 0x600, "?"},
                        {0x7F, 0x600, "\x7F"},
                        {'A', 0x08000100, "A"}};
  for (const Case& c : cases) {
    HostString s = byteText(nullptr, c.byte, c.encoding);
    EXPECT_EQ(rb::HostStringText(s).Bytes(), c.text) << c.byte;
    rb::ReleaseHostString(s);
  }
}

TEST_F(PluginHostTest, HiddenBuildStringGivesNilStrings) {
  LoadCounter();
  rb::HideHostFunctionForTesting("REALBuildString", true);
  auto label = Member<StringMember>("CounterZel.Label(index as integer) as string");
  EXPECT_EQ(label(nullptr, 1), nullptr);
  rb::HideHostFunctionForTesting("REALBuildString", false);
  HostString s = label(nullptr, 1);
  EXPECT_EQ(rb::HostStringText(s).Bytes(), "Counter 1");
  rb::ReleaseHostString(s);
}

TEST_F(PluginHostTest, FilesThatAreNoPluginsAreSkippedWithAMessage) {
  struct Case {
    const char* file;
    const char* message;
  };
  const Case cases[] = {{"test_plugin_no_entry.so", "no REALPluginMain"},
                        {"test_plugin_throws.so", "raised an exception"},
                        {"not_a_library.so", "not a shared library"},
                        {"no_such_file.so", "cannot read"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(rb::LoadPlugin(PluginPath(c.file)));
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find(c.file), std::string::npos) << messages;
    EXPECT_NE(messages.find(c.message), std::string::npos) << messages;
  }
}

TEST_F(PluginHostTest, LoadingTheFolderStartsOnlyThePlugins) {
  testing::internal::CaptureStderr();
  const int started = rb::LoadPlugins(TEST_PLUGIN_DIR);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(started, 2) << messages;  // the counter and the bad-record plug-in
  EXPECT_NE(rb::FindPluginClass("CounterZel"), nullptr);
  EXPECT_NE(messages.find("test_plugin_no_entry.so"), std::string::npos) << messages;
  EXPECT_NE(messages.find("test_plugin_throws.so"), std::string::npos) << messages;
  EXPECT_NE(messages.find("not_a_library.so"), std::string::npos) << messages;

  testing::internal::CaptureStderr();
  EXPECT_EQ(rb::LoadPlugins(PluginPath("no_such_folder")), 0);
  EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
}

TEST_F(PluginHostTest, UnusableRecordsAreRefusedWithAMessage) {
  testing::internal::CaptureStderr();
  EXPECT_TRUE(rb::LoadPlugin(PluginPath("test_plugin_bad_records.so")));
  const std::string messages = testing::internal::GetCapturedStderr();
  struct Case {
    const char* className;  // nullptr: the record has none
    const char* message;
  };
  const Case cases[] = {{nullptr, "no class record"},
                        {"WrongVersionZel", "record version 8"},
                        {nullptr, "no class name"},
                        {"NoPropertyTableZel", "without a property table"},
                        {"NoMethodTableZel", "without a method table"},
                        {"HugeDataZel", "instance data too large"}};
  for (const Case& c : cases) {
    EXPECT_NE(messages.find(c.message), std::string::npos) << c.message << " in " << messages;
    if (c.className == nullptr) continue;
    EXPECT_NE(messages.find(c.className), std::string::npos) << messages;
    EXPECT_EQ(rb::FindPluginClass(c.className), nullptr) << c.className;
    EXPECT_FALSE(rb::PluginObject::New(c.className)) << c.className;
    EXPECT_EQ(rb::RuntimeLookupPluginEntrypoint((std::string(c.className) + ".__exit").c_str()), nullptr);
  }
}

TEST_F(PluginHostTest, PropertyFieldsOutsideTheInstanceDataAreNotRead) {
  testing::internal::CaptureStderr();
  rb::LoadPlugin(PluginPath("test_plugin_bad_records.so"));
  testing::internal::GetCapturedStderr();
  rb::Ref<rb::PluginObject> object = rb::PluginObject::New("StrayFieldZel");
  ASSERT_TRUE(object);
  EXPECT_EQ(object->ReadIntProperty("Inside"), 0);
  for (const char* name : {"Straddling", "Beyond", "Wrapping"})
    EXPECT_THROW(object->ReadIntProperty(name), rb::OutOfBoundsException) << name;
}

TEST_F(PluginHostTest, SecondClassOfTheSameNameIsRefused) {
  LoadCounter();
  testing::internal::CaptureStderr();
  EXPECT_TRUE(rb::LoadPlugin(kCounterPlugin));
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("already registered"), std::string::npos) << messages;
}

TEST_F(PluginHostTest, DefaultFolderIsBesideTheExecutable) {
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(rb::DefaultPluginFolder(), (exe.parent_path() / "plugins").string());
}

// Damaged plug-in files: whatever the bytes, the loader skips the file and
// the process goes on.
TEST_F(PluginHostTest, FuzzedPluginFilesNeverCrashTheLoader) {
  const chimewick_test::TemporaryFolder temporary("plugin-fuzz");
  const std::filesystem::path& folder = temporary.path();

  std::ifstream original(kCounterPlugin, std::ios::binary);
  const std::string library((std::istreambuf_iterator<char>(original)), std::istreambuf_iterator<char>());
  ASSERT_GT(library.size(), 64u);

  std::mt19937 random(20261208);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 300; ++i) {
    std::string bytes;
    switch (i % 3) {
      case 0: {  // random bytes
        bytes.resize(random() % 4096);
        for (char& b : bytes) b = static_cast<char>(random());
        break;
      }
      case 1: {  // an ELF header's magic, then random bytes
        bytes.resize(16 + random() % 4096);
        for (char& b : bytes) b = static_cast<char>(random());
        std::memcpy(bytes.data(), library.data(), 16);
        break;
      }
      default:  // the real plug-in cut short
        bytes = library.substr(0, random() % (library.size() / 2));
        break;
    }
    const std::filesystem::path file = folder / ("fuzz_" + std::to_string(i) + ".so");
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_FALSE(rb::LoadPlugin(file.string())) << "case " << i;
  }
  EXPECT_EQ(rb::LoadPlugins(folder.string()), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(rb::FindPluginClass("CounterZel"), nullptr);
}

}  // namespace
