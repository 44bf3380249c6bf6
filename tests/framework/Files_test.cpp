#include "rb/Files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void TearDown() override { rb::TextOutputStream::FailWritesAfterForTesting(-1); }

  static std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  // Everything in the folder: no temporary file may stay behind.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  rb::Ref<rb::FolderItem> Folder() const { return rb::New<rb::FolderItem>(root_.string()); }

  const chimewick_test::TemporaryFolder folder_{"files"};
  const fs::path root_ = folder_.path();
  const chimewick_test::ScopedEnvironment configHome_{"XDG_CONFIG_HOME"};
};

TEST_F(FilesTest, PreferencesFolderIsTheXdgConfigFolderMadeIfMissing) {
  const fs::path config = root_ / "config" / "deeper";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  const auto folder = rb::PreferencesFolder();
  ASSERT_TRUE(folder);
  EXPECT_EQ(fs::path(folder->Path()), config);
  EXPECT_TRUE(fs::is_directory(config));
  EXPECT_TRUE(folder->Exists());
  EXPECT_EQ(folder->Child("Chimewick.prefs")->Path(), (config / "Chimewick.prefs").string());
}

TEST_F(FilesTest, PreferencesFolderIsNilWhenItCannotBeHad) {
  Put(root_ / "a-file", "not a folder");
  for (const fs::path& config : {root_ / "a-file", root_ / "a-file" / "below"}) {
    SCOPED_TRACE(config.string());
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_FALSE(rb::PreferencesFolder());
  }
}

TEST_F(FilesTest, ChildJoinsNamesWithOneSeparator) {
  EXPECT_EQ(rb::New<rb::FolderItem>("/x")->Child("a")->Path(), "/x/a");
  EXPECT_EQ(rb::New<rb::FolderItem>("/x/")->Child("a")->Path(), "/x/a");
  EXPECT_FALSE(Folder()->Child("none")->Exists());
}

TEST_F(FilesTest, WrittenLinesReadBackByteForByte) {
  const auto item = Folder()->Child("Chimewick.prefs");
  const std::string odd("a&b<c\0\xff\r", 8);
  auto out = item->CreateTextFile();
  ASSERT_TRUE(out);
  out->WriteLine("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  out->WriteLine(rb::String(odd));
  out->WriteLine("");
  EXPECT_TRUE(out->Close());
  EXPECT_TRUE(out->Close());  // a second Close changes nothing
  out->WriteLine("after close");
  const std::string expected = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + odd + "\n\n";
  EXPECT_EQ(Contents(item->Path()), expected);

  auto in = item->OpenAsTextFile();
  ASSERT_TRUE(in);
  EXPECT_EQ(in->ReadAll().Bytes(), expected);
  EXPECT_EQ(in->ReadAll().Bytes(), "");  // nothing is left
  in->Close();
  EXPECT_EQ(Listing(), std::vector<std::string>{"Chimewick.prefs"});
}

TEST_F(FilesTest, CreateTextFileReplacesTheOldFileWhole) {
  const auto item = Folder()->Child("Chimewick.prefs");
  Put(item->Path(), "a much longer old text that must not show through\n");
  auto out = item->CreateTextFile();
  ASSERT_TRUE(out);
  out->WriteLine("new");
  EXPECT_EQ(Contents(item->Path()), "a much longer old text that must not show through\n");  // until Close
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(Contents(item->Path()), "new\n");
}

TEST_F(FilesTest, AWriteThatFailsHalfwayLeavesTheOldFileWhole) {
  const auto item = Folder()->Child("Chimewick.prefs");
  const std::string old = "<Transpose>-5</Transpose>\n<Pitch>20</Pitch>\n";
  Put(item->Path(), old);
  auto out = item->CreateTextFile();
  ASSERT_TRUE(out);
  rb::TextOutputStream::FailWritesAfterForTesting(30);
  for (int i = 0; i < 13; ++i) out->WriteLine("<Preset1>Piano 1</Preset1>");
  EXPECT_FALSE(out->Close());
  EXPECT_EQ(Contents(item->Path()), old);
  EXPECT_EQ(Listing(), std::vector<std::string>{"Chimewick.prefs"});
}

TEST_F(FilesTest, AStreamDroppedWithoutCloseLeavesTheOldFileWhole) {
  const auto item = Folder()->Child("Chimewick.prefs");
  Put(item->Path(), "old\n");
  {
    auto out = item->CreateTextFile();
    ASSERT_TRUE(out);
    out->WriteLine("unfinished");
  }
  EXPECT_EQ(Contents(item->Path()), "old\n");
  EXPECT_EQ(Listing(), std::vector<std::string>{"Chimewick.prefs"});
}

TEST_F(FilesTest, CreateTextFileIsNilWhereNoFileCanBeMade) {
  fs::create_directory(root_ / "a-folder");
  EXPECT_FALSE(Folder()->Child("missing")->Child("Chimewick.prefs")->CreateTextFile());
  EXPECT_FALSE(Folder()->Child("a-folder")->CreateTextFile());
  EXPECT_FALSE(rb::New<rb::FolderItem>("")->CreateTextFile());
  if (::geteuid() != 0) {  // permissions do not stop root
    fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(Folder()->Child("Chimewick.prefs")->CreateTextFile());
  }
}

TEST_F(FilesTest, OpenAsTextFileIsNilForWhatCannotBeRead) {
  fs::create_directory(root_ / "a-folder");
  EXPECT_FALSE(Folder()->Child("missing")->OpenAsTextFile());
  EXPECT_FALSE(Folder()->Child("a-folder")->OpenAsTextFile());
  EXPECT_FALSE(rb::New<rb::FolderItem>("/dev/null")->OpenAsTextFile());  // not a regular file
  if (::geteuid() != 0) {
    Put(root_ / "locked", "secret");
    fs::permissions(root_ / "locked", fs::perms::none);
    EXPECT_FALSE(Folder()->Child("locked")->OpenAsTextFile());
  }
}

TEST_F(FilesTest, ReadAllTakesALargeFileUnchanged) {
  std::string big(10 * 1024 * 1024, '\0');
  std::mt19937 random(5);
  for (char& c : big) c = char(random() % 256);
  Put(root_ / "big", big);
  auto in = Folder()->Child("big")->OpenAsTextFile();
  ASSERT_TRUE(in);
  EXPECT_TRUE(in->ReadAll().Bytes() == big);
}

TEST_F(FilesTest, AFileGoneAfterOpeningReadsAsEmpty) {
  Put(root_ / "soon-gone", "x");
  auto in = Folder()->Child("soon-gone")->OpenAsTextFile();
  ASSERT_TRUE(in);
  fs::remove(root_ / "soon-gone");
  EXPECT_EQ(in->ReadAll().Bytes(), "");
}

}  // namespace
