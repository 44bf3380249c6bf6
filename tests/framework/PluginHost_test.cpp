// The plug-in host: loading, registration, objects of plug-in classes and
// members bound by name, driven through the small plug-ins in plugins/.
#include "rb/PluginHost.h"

#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TemporaryFolder.h"
#include "UnprivilegedUser.h"

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

// What a plug-in asked of the host, as the playback plug-in's tests read it.
TEST_F(PluginHostTest, TheHostCountsTheCallsOfItsNamedFunctionsUntilReset) {
  LoadCounter();
  rb::HostFunctionCalls calls = rb::HostFunctionCallsForTesting();
  EXPECT_EQ(calls.interfaceVersions, std::vector<int32_t>{9});
  EXPECT_EQ(calls.registerClass, 1);
  EXPECT_EQ(calls.buildString, 0);
  EXPECT_EQ(calls.setStringEncoding, 0);
  auto label = Member<StringMember>("CounterZel.Label(index as integer) as string");
  rb::HideHostFunctionForTesting("REALSetStringEncoding", true);
  rb::ReleaseHostString(label(nullptr, 1));
  rb::HideHostFunctionForTesting("REALSetStringEncoding", false);
  rb::ReleaseHostString(label(nullptr, 2));
  calls = rb::HostFunctionCallsForTesting();
  EXPECT_EQ(calls.buildString, 2);
  EXPECT_EQ(calls.setStringEncoding, 1);

  rb::ResetPluginRegistryForTesting();
  calls = rb::HostFunctionCallsForTesting();
  EXPECT_TRUE(calls.interfaceVersions.empty());
  EXPECT_EQ(calls.registerClass + calls.buildString + calls.setStringEncoding, 0);
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
  ASSERT_GT(library.size(), sizeof(Elf64_Ehdr));
  // Where the last loadable segment ends: debug information may follow it
  // (as in a RelWithDebInfo build), and a file cut there still loads.
  Elf64_Ehdr header;
  std::memcpy(&header, library.data(), sizeof header);
  ASSERT_EQ(header.e_ident[EI_CLASS], ELFCLASS64);
  size_t loadableEnd = 0;
  for (size_t i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment;
    ASSERT_LE(header.e_phoff + (i + 1) * sizeof segment, library.size());
    std::memcpy(&segment, library.data() + header.e_phoff + i * sizeof segment, sizeof segment);
    if (segment.p_type == PT_LOAD)
      loadableEnd = std::max<size_t>(loadableEnd, segment.p_offset + segment.p_filesz);
  }
  ASSERT_GT(loadableEnd, 0u);
  ASSERT_LE(loadableEnd, library.size());

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
      default:  // the real plug-in cut short inside what the loader maps
        bytes = library.substr(0, random() % loadableEnd);
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

// A folder of its own holding copies of the counter plug-in, for the checks
// on who may have put a plug-in there.
class PluginFolderTest : public PluginHostTest {
 protected:
  void SetUp() override {
    PluginHostTest::SetUp();
    std::filesystem::permissions(
        root_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                   std::filesystem::perms::others_exec);
  }
  void TearDown() override {
    rb::SetExecutableLinkForTesting("");
    PluginHostTest::TearDown();
  }
  // A new folder below the test's own, with the counter plug-in in it under
  // each of the names given.
  std::filesystem::path FolderWith(const std::string& folderName, const std::vector<std::string>& names) {
    const std::filesystem::path folder = root_ / folderName;
    std::filesystem::create_directories(folder);
    for (const std::string& name : names) std::filesystem::copy_file(kCounterPlugin, folder / name);
    return folder;
  }
  // LoadPlugins, and what it said on standard error.
  static std::pair<int, std::string> LoadFolder(const std::filesystem::path& folder) {
    testing::internal::CaptureStderr();
    const int started = rb::LoadPlugins(folder.string());
    return {started, testing::internal::GetCapturedStderr()};
  }

  const chimewick_test::TemporaryFolder folder_{"plugins"};
  const std::filesystem::path root_ = folder_.path();
};

// Opening a library runs its code: a folder or a file that others may
// write to is refused, with a line on standard error. Root's group and the
// program's own group may write; all users, or another group, may not.
TEST_F(PluginFolderTest, AFolderOrAPluginOthersMayWriteToIsRefused) {
  using std::filesystem::perms;
  struct Case {
    const char* what;
    perms folderMode;
    perms fileMode;
    bool foreignGroup;    // the group is nobody's (only root can arrange it)
    const char* refusal;  // nullptr: it loads
  };
  const perms usual =
      perms::owner_all | perms::group_read | perms::group_exec | perms::others_read | perms::others_exec;
  const perms file = perms::owner_read | perms::owner_write | perms::group_read | perms::others_read;
  const Case cases[] = {
      {"a folder and a file of the program's user", usual, file, false, nullptr},
      {"a folder and a file that the program's group may write", usual | perms::group_write,
       file | perms::group_write, false, nullptr},
      {"a folder that every user may write", usual | perms::others_write, file, false,
       "every user may write"},
      {"a sticky folder that every user may write", usual | perms::others_write | perms::sticky_bit, file,
       false, "every user may write"},
      {"a file that every user may write", usual, file | perms::others_write, false, "every user may write"},
      {"a folder another group may write", usual | perms::group_write, file, true, "may write to it"},
      {"a file another group may write", usual, file | perms::group_write, true, "may write to it"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.foreignGroup && !chimewick_test::RunningAsRoot()) {
      std::cout << "[ SKIPPED ROW ] " << c.what << ": needs root to give the folder another group\n";
      continue;
    }
    rb::ResetPluginRegistryForTesting();
    const std::filesystem::path folder = FolderWith("case" + std::to_string(index++), {"counter.so"});
    std::filesystem::permissions(folder / "counter.so", c.fileMode);
    std::filesystem::permissions(folder, c.folderMode);
    if (c.foreignGroup) {
      const gid_t group = chimewick_test::Nobody().gid;
      ASSERT_EQ(::lchown(folder.c_str(), uid_t(-1), group), 0);
      ASSERT_EQ(::lchown((folder / "counter.so").c_str(), uid_t(-1), group), 0);
    }
    const auto [started, messages] = LoadFolder(folder);
    if (c.refusal == nullptr) {
      EXPECT_EQ(started, 1) << messages;
      EXPECT_NE(rb::FindPluginClass("CounterZel"), nullptr);
      continue;
    }
    EXPECT_EQ(started, 0);
    EXPECT_EQ(rb::FindPluginClass("CounterZel"), nullptr);
    EXPECT_NE(messages.find(c.refusal), std::string::npos) << messages;
    EXPECT_NE(messages.find(folder.string()), std::string::npos) << messages;
  }
}

// A folder or a plug-in that belongs to a user other than root and the
// program's own is refused (as root: the files are given to nobody).
TEST_F(PluginFolderTest, AFolderOrAPluginOfAnotherUserIsRefused) {
  if (!chimewick_test::RunningAsRoot()) GTEST_SKIP() << "skipped: needs root to give files to another user";
  const std::string owner = "belongs to user " + std::to_string(chimewick_test::Nobody().uid);
  const std::filesystem::path foreignFolder = FolderWith("foreign-folder", {"counter.so"});
  ASSERT_TRUE(chimewick_test::GiveToNobody(foreignFolder.string()));
  const std::filesystem::path foreignFile = FolderWith("foreign-file", {"counter.so"});
  ASSERT_TRUE(chimewick_test::GiveToNobody((foreignFile / "counter.so").string()));
  for (const auto& folder : {foreignFolder, foreignFile}) {
    SCOPED_TRACE(folder.string());
    const auto [started, messages] = LoadFolder(folder);
    EXPECT_EQ(started, 0);
    EXPECT_EQ(rb::FindPluginClass("CounterZel"), nullptr);
    EXPECT_NE(messages.find(owner), std::string::npos) << messages;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(rb::LoadPlugin((folder / "counter.so").string()));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(owner), std::string::npos);
  }
}

// Links are not followed, neither a plug-in that is a link nor a plug-in
// folder that is one, even when what they lead to would load.
TEST_F(PluginFolderTest, LinksAreNotFollowed) {
  const std::filesystem::path real = FolderWith("real", {"counter.so"});
  const std::filesystem::path linkedFile = FolderWith("linked-file", {});
  std::filesystem::create_symlink(real / "counter.so", linkedFile / "counter.so");
  const std::filesystem::path linkedFolder = root_ / "linked-folder";
  std::filesystem::create_symlink(real, linkedFolder);
  for (const auto& folder : {linkedFile, linkedFolder}) {
    SCOPED_TRACE(folder.string());
    const auto [started, messages] = LoadFolder(folder);
    EXPECT_EQ(started, 0);
    EXPECT_NE(messages.find("links are not followed"), std::string::npos) << messages;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(rb::LoadPlugin((folder / "counter.so").string()));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("links are not followed"), std::string::npos);
  }
  EXPECT_EQ(rb::FindPluginClass("CounterZel"), nullptr);
  EXPECT_EQ(LoadFolder(real).first, 1) << "what they lead to loads";
}

// Without the program's own path there is no plug-in folder: nothing is
// loaded, not even from plugins/ in the working directory, and standard
// error says so.
TEST_F(PluginFolderTest, WithoutTheProgramsOwnPathNoPluginIsLoaded) {
  FolderWith("plugins", {"counter.so"});
  const std::filesystem::path workingDirectory = std::filesystem::current_path();
  std::filesystem::current_path(root_);
  rb::SetExecutableLinkForTesting((root_ / "no-such-link").string());
  testing::internal::CaptureStderr();
  const std::string folder = rb::DefaultPluginFolder();
  const int started = rb::LoadPlugins(folder);
  const std::string messages = testing::internal::GetCapturedStderr();
  std::filesystem::current_path(workingDirectory);
  EXPECT_EQ(folder, "");
  EXPECT_EQ(started, 0);
  EXPECT_EQ(rb::FindPluginClass("CounterZel"), nullptr);
  EXPECT_NE(messages.find("no plug-ins are loaded"), std::string::npos) << messages;
}

// A bare file name is the file checked in the working directory, never a
// library of that name on the system's search path.
TEST_F(PluginFolderTest, ABareFileNameLoadsTheFileInTheWorkingDirectory) {
  const std::filesystem::path folder = FolderWith("here", {"counter.so"});
  const std::filesystem::path workingDirectory = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  testing::internal::CaptureStderr();
  const bool loaded = rb::LoadPlugin("counter.so");
  const std::string messages = testing::internal::GetCapturedStderr();
  std::filesystem::current_path(workingDirectory);
  EXPECT_TRUE(loaded) << messages;
  EXPECT_NE(rb::FindPluginClass("CounterZel"), nullptr);
}

// Two files that register one class name: the second is refused, and the
// refusal names both files.
TEST_F(PluginFolderTest, TwoPluginsRegisteringOneClassAreBothNamedInTheRefusal) {
  const std::filesystem::path folder = FolderWith("twins", {"a_counter.so", "b_counter.so"});
  const auto [started, messages] = LoadFolder(folder);
  EXPECT_EQ(started, 2) << messages;
  EXPECT_NE(rb::FindPluginClass("CounterZel"), nullptr);
  EXPECT_NE(messages.find("CounterZel"), std::string::npos) << messages;
  EXPECT_NE(messages.find((folder / "a_counter.so").string()), std::string::npos) << messages;
  EXPECT_NE(messages.find((folder / "b_counter.so").string()), std::string::npos) << messages;
}

// The run path (DT_RUNPATH or DT_RPATH) written into an ELF file, read
// from the file as the dynamic loader reads it; empty when there is none.
std::optional<std::string> RunPathOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const auto readAt = [&in](void* into, size_t size, size_t offset) {
    in.seekg(std::streamoff(offset));
    return bool(in.read(static_cast<char*>(into), std::streamsize(size)));
  };
  Elf64_Ehdr header;
  if (!readAt(&header, sizeof header, 0)) return std::nullopt;
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  if (!readAt(segments.data(), segments.size() * sizeof(Elf64_Phdr), header.e_phoff)) return std::nullopt;
  const auto fileOffset = [&](Elf64_Addr address) -> std::optional<size_t> {
    for (const Elf64_Phdr& s : segments)
      if (s.p_type == PT_LOAD && address >= s.p_vaddr && address < s.p_vaddr + s.p_filesz)
        return size_t(address - s.p_vaddr + s.p_offset);
    return std::nullopt;
  };
  for (const Elf64_Phdr& s : segments) {
    if (s.p_type != PT_DYNAMIC) continue;
    std::vector<Elf64_Dyn> entries(s.p_filesz / sizeof(Elf64_Dyn));
    if (!readAt(entries.data(), entries.size() * sizeof(Elf64_Dyn), s.p_offset)) return std::nullopt;
    std::optional<size_t> strings;
    std::optional<Elf64_Xword> runPath;
    for (const Elf64_Dyn& entry : entries) {
      if (entry.d_tag == DT_STRTAB) strings = fileOffset(entry.d_un.d_ptr);
      if (entry.d_tag == DT_RUNPATH || entry.d_tag == DT_RPATH) runPath = entry.d_un.d_val;
    }
    if (!runPath) return std::string();
    if (!strings) return std::nullopt;
    in.seekg(std::streamoff(*strings + *runPath));
    std::string text;
    std::getline(in, text, '\0');
    return text;
  }
  return std::string();
}

// The dynamic loader looks in the run path before the system's folders: it
// may name the file's own folder, never a folder above it.
TEST_F(PluginHostTest, TheRunPathNamesNoFolderAboveTheProgramsOwn) {
  Dl_info framework{};
  ASSERT_NE(::dladdr(reinterpret_cast<void*>(&rb::LoadPlugins), &framework), 0);
  for (const std::string& file :
       {std::string("/proc/self/exe"), std::string(framework.dli_fname), kCounterPlugin}) {
    SCOPED_TRACE(file);
    const std::optional<std::string> runPath = RunPathOf(file);
    ASSERT_TRUE(runPath);
    EXPECT_EQ(runPath->find(".."), std::string::npos) << *runPath;
  }
}

}  // namespace
