#include "rb/Files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "TemporaryFolder.h"
#include "UnprivilegedUser.h"

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
  std::vector<std::string> Listing() const { return Listing(root_); }
  static std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
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
  // A read-only folder takes no new file (as nobody: permissions do not
  // stop root).
  ASSERT_TRUE(chimewick_test::GiveToNobody(root_));
  fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec);
  chimewick_test::AsNobody nobody;
  ASSERT_TRUE(nobody.ok());
  EXPECT_FALSE(Folder()->Child("Chimewick.prefs")->CreateTextFile());
  EXPECT_FALSE(fs::exists(root_ / "Chimewick.prefs"));
}

// A file its owner made read-only is not replaced, although the folder
// would take the new file: nil, the old text stays, and standard error says
// why. Directly and through a link. As nobody: permissions do not stop root.
TEST_F(FilesTest, AReadOnlyFileIsNotReplaced) {
  Put(root_ / "Chimewick.prefs", "<Transpose>-5</Transpose>\n");
  fs::create_symlink("Chimewick.prefs", root_ / "Linked.prefs");
  ASSERT_TRUE(chimewick_test::GiveToNobody(root_) && chimewick_test::GiveToNobody(root_ / "Chimewick.prefs"));
  fs::permissions(root_ / "Chimewick.prefs", fs::perms::owner_read);
  chimewick_test::AsNobody nobody;
  ASSERT_TRUE(nobody.ok());
  for (const char* name : {"Chimewick.prefs", "Linked.prefs"}) {
    SCOPED_TRACE(name);
    testing::internal::CaptureStderr();
    auto out = Folder()->Child(name)->CreateTextFile();
    if (out) {
      out->WriteLine("new");
      out->Close();
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(out);
    EXPECT_EQ(Contents(root_ / "Chimewick.prefs"), "<Transpose>-5</Transpose>\n");
    EXPECT_NE(messages.find((root_ / "Chimewick.prefs").string()), std::string::npos) << messages;
    EXPECT_NE(messages.find("read-only"), std::string::npos) << messages;
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"Chimewick.prefs", "Linked.prefs"}));
}

TEST_F(FilesTest, OpenAsTextFileIsNilForWhatCannotBeRead) {
  fs::create_directory(root_ / "a-folder");
  EXPECT_FALSE(Folder()->Child("missing")->OpenAsTextFile());
  EXPECT_FALSE(Folder()->Child("a-folder")->OpenAsTextFile());
  EXPECT_FALSE(rb::New<rb::FolderItem>("/dev/null")->OpenAsTextFile());  // not a regular file
  Put(root_ / "locked", "secret");
  fs::permissions(root_ / "locked", fs::perms::none);
  ASSERT_TRUE(chimewick_test::GiveToNobody(root_) && chimewick_test::GiveToNobody(root_ / "locked"));
  chimewick_test::AsNobody nobody;
  ASSERT_TRUE(nobody.ok());
  EXPECT_FALSE(Folder()->Child("locked")->OpenAsTextFile());
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

// A small tmpfs mounted over a folder, in a mount namespace of this thread's
// own: nothing shows outside the test, and nothing stays mounted after it.
class PrivateTmpfs {
 public:
  PrivateTmpfs(const fs::path& where, const std::string& size) {
    original_ = ::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
    if (original_ < 0) {
      Fail("cannot open this thread's mount namespace");
    } else if (::unshare(CLONE_NEWNS) != 0) {
      Fail("cannot make a mount namespace");
    } else if (inOwnNamespace_ = true; ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      Fail("cannot make the mounts private");
    } else if (::mount("tmpfs", where.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                       ("size=" + size).c_str()) != 0) {
      Fail("cannot mount a tmpfs");
    } else {
      mounted_ = where;
    }
  }
  ~PrivateTmpfs() {
    if (!mounted_.empty()) ::umount2(mounted_.c_str(), MNT_DETACH);
    if (inOwnNamespace_) ::setns(original_, CLONE_NEWNS);
    if (original_ >= 0) ::close(original_);
  }
  bool ok() const { return !mounted_.empty(); }
  const std::string& whyNot() const { return whyNot_; }

 private:
  void Fail(const char* what) { whyNot_ = std::string(what) + ": " + std::strerror(errno); }
  int original_ = -1;
  bool inOwnNamespace_ = false;
  fs::path mounted_;
  std::string whyNot_;
};

// Writes to path until the file system has no room left.
bool FillUp(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string block(4096, 'x');
  for (int i = 0; i < 1 << 20; ++i) {
    if (::write(fd, block.data(), block.size()) < 0) {
      const bool full = errno == ENOSPC;
      ::close(fd);
      return full;
    }
  }
  ::close(fd);
  return false;
}

const char* const kThirteenLines[] = {
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>",
    "<chimewickprefs version=\"1.0\">",
    "<Transpose>3</Transpose>",
    "<Pitch>-12</Pitch>",
    "<DefaultInstrumentName>Piano 1</DefaultInstrumentName>",
    "<Preset1>Organ 1</Preset1>",
    "<Preset2>Piano 1</Preset2>",
    "<Preset3>E.Piano 1</Preset3>",
    "<Preset4>Banjo</Preset4>",
    "<Preset5>Cello</Preset5>",
    "<Preset6>Jazz</Preset6>",
    "<Volume>100</Volume>",
    "</chimewickprefs>",
};

// A save on a full disk: the new text cannot be put down, so the old file
// stays whole and standard error says why; with room again, a save works.
TEST_F(FilesTest, AFullDiskLeavesTheOldFileWholeAndSaysWhy) {
  const fs::path disk = root_ / "disk";
  fs::create_directory(disk);
  PrivateTmpfs tmpfs(disk, "64k");
  if (!tmpfs.ok()) GTEST_SKIP() << "skipped: no small file system can be mounted here: " << tmpfs.whyNot();
  const auto item = rb::New<rb::FolderItem>(disk.string())->Child("Chimewick.prefs");
  const std::string old = "<Transpose>-5</Transpose>\n<Pitch>20</Pitch>\n";
  Put(item->Path(), old);
  ASSERT_TRUE(FillUp(disk / "filler"));

  testing::internal::CaptureStderr();
  bool saved = false;
  if (auto out = item->CreateTextFile()) {
    for (const char* line : kThirteenLines) out->WriteLine(line);
    saved = out->Close();
  }
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(saved);
  EXPECT_EQ(Contents(item->Path()), old);
  EXPECT_EQ(Listing(disk), (std::vector<std::string>{"Chimewick.prefs", "filler"}));
  EXPECT_NE(messages.find(item->Path()), std::string::npos) << messages;
  EXPECT_NE(messages.find(std::strerror(ENOSPC)), std::string::npos) << messages;

  fs::remove(disk / "filler");
  auto out = item->CreateTextFile();
  ASSERT_TRUE(out);
  out->WriteLine("new");
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(Contents(item->Path()), "new\n");
}

// A writer killed while saving can leave its temporary file; the next save
// removes such files, and only them: a live writer's file, files of other
// names or kinds, and (as root) another user's file stay.
TEST_F(FilesTest, ASaveRemovesTheTemporaryFilesOfWritersKilledWhileSaving) {
  const auto item = Folder()->Child("Chimewick.prefs");
  Put(item->Path(), "old\n");
  const pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    const auto out = item->CreateTextFile();  // still open when the writer dies
    if (out) out->WriteLine("unfinished");
    ::kill(::getpid(), SIGKILL);
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(writer, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  // What a writer killed between naming its new file and renaming it leaves.
  Put(root_ / "Chimewick.prefs.Xy7Kq2", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<chimewick");

  std::vector<std::string> staying = {"Chimewick.prefs.backup", "Chimewick.prefs.Fo1der",
                                      "Chimewick.prefs.Li9nk0", "Chimewick.prefs.Wr1ter",
                                      "Other.prefs.Ab3xYz",     "elsewhere"};
  Put(root_ / "Chimewick.prefs.backup", "a copy kept by hand");
  Put(root_ / "Other.prefs.Ab3xYz", "another file's");
  fs::create_directory(root_ / "Chimewick.prefs.Fo1der");
  Put(root_ / "elsewhere", "kept");
  fs::create_symlink(root_ / "elsewhere", root_ / "Chimewick.prefs.Li9nk0");
  Put(root_ / "Chimewick.prefs.Wr1ter", "being written");
  const int live = ::open((root_ / "Chimewick.prefs.Wr1ter").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(live, LOCK_EX), 0);
  if (chimewick_test::RunningAsRoot()) {
    Put(root_ / "Chimewick.prefs.No8dy1", "nobody's");
    ASSERT_TRUE(chimewick_test::GiveToNobody((root_ / "Chimewick.prefs.No8dy1").string()));
    staying.push_back("Chimewick.prefs.No8dy1");
  }
  auto out = item->CreateTextFile();
  ASSERT_TRUE(out);
  out->WriteLine("new");
  EXPECT_TRUE(out->Close());
  ::close(live);
  staying.push_back("Chimewick.prefs");
  std::sort(staying.begin(), staying.end());
  EXPECT_EQ(Listing(), staying);
  EXPECT_EQ(Contents(item->Path()), "new\n");
  EXPECT_EQ(Contents(root_ / "elsewhere"), "kept");
}

// A save replaces only a regular file. A link is followed to a regular file
// (which is replaced; the link stays) and to nothing else: a pipe, a device
// or a folder, or a link that leads nowhere, stays as it is, with the reason
// on standard error.
TEST_F(FilesTest, OnlyARegularFileIsReplacedAndALinkIsFollowedOnlyToOne) {
  enum class Kind { File, LinkToLink, Pipe, Device, Folder, Nothing };
  struct Case {
    const char* what;
    Kind kind;
    bool linked;
    const char* message;  // nullptr: the save goes through
  };
  const Case cases[] = {
      {"a link to a regular file", Kind::File, true, nullptr},
      {"a link to a link to a regular file", Kind::LinkToLink, true, nullptr},
      {"a link to a pipe", Kind::Pipe, true, "a pipe"},
      {"a link to a device", Kind::Device, true, "a character device"},
      {"a link to a folder", Kind::Folder, true, "a folder"},
      {"a link that leads nowhere", Kind::Nothing, true, "leads to no file"},
      {"a pipe", Kind::Pipe, false, "a pipe"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path folder = root_ / ("case" + std::to_string(index));
    const fs::path store = root_ / ("store" + std::to_string(index++));
    fs::create_directories(folder);
    fs::create_directories(store);
    const fs::path target = store / "target";
    switch (c.kind) {
      case Kind::File:
        Put(target, "old\n");
        break;
      case Kind::LinkToLink:
        Put(store / "final", "old\n");
        fs::create_symlink("final", target);
        break;
      case Kind::Pipe:
        ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
        break;
      case Kind::Device:
        // A device of the test's own, like /dev/null; only root can make one.
        if (::mknod(target.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
          std::cout << "[ SKIPPED ROW ] " << c.what << ": cannot make a device node here\n";
          continue;
        }
        break;
      case Kind::Folder:
        fs::create_directory(target);
        break;
      case Kind::Nothing:
        break;
    }
    const fs::path path = folder / "Chimewick.prefs";
    if (c.linked) {
      fs::create_symlink(fs::relative(target, folder), path);
    } else {
      fs::rename(target, path);
    }
    const fs::path where = c.linked ? target : path;
    const fs::file_type kindBefore = fs::symlink_status(where).type();

    testing::internal::CaptureStderr();
    auto out = rb::New<rb::FolderItem>(folder.string())->Child("Chimewick.prefs")->CreateTextFile();
    if (out) {
      out->WriteLine("new");
      EXPECT_TRUE(out->Close());
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    if (c.linked) {
      EXPECT_TRUE(fs::is_symlink(path)) << "the link stays";
    }
    EXPECT_EQ(Listing(folder), std::vector<std::string>{"Chimewick.prefs"});
    for (const std::string& name : Listing(store)) EXPECT_FALSE(name.starts_with("target.")) << name;
    if (c.message == nullptr) {
      EXPECT_TRUE(out);
      EXPECT_EQ(Contents(path), "new\n");
      EXPECT_EQ(fs::symlink_status(where).type(), kindBefore);
      EXPECT_TRUE(messages.empty()) << messages;
      continue;
    }
    EXPECT_FALSE(out);
    EXPECT_EQ(fs::symlink_status(where).type(), kindBefore) << "left as it was";
    EXPECT_NE(messages.find(path.string()), std::string::npos) << messages;
    EXPECT_NE(messages.find(c.message), std::string::npos) << messages;
  }
}

// A folder closed to new files that holds a writable file: the text goes
// into the file where it stands, and standard error says so. Run as nobody,
// since permissions do not stop root.
TEST_F(FilesTest, AFolderThatRefusesATemporaryFileGetsTheFileWrittenInPlace) {
  const auto item = Folder()->Child("Chimewick.prefs");
  Put(item->Path(), "<Transpose>-5</Transpose>\n<Pitch>20</Pitch>\n");
  ASSERT_TRUE(chimewick_test::GiveToNobody(root_) && chimewick_test::GiveToNobody(item->Path()));
  fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec);
  chimewick_test::AsNobody nobody;
  ASSERT_TRUE(nobody.ok());

  // Longer, then shorter than what the file held: nothing of the old text
  // may show through.
  for (const std::string line : {"<Transpose>-5</Transpose><Pitch>20</Pitch><Volume>100</Volume>", "x"}) {
    SCOPED_TRACE(line);
    testing::internal::CaptureStderr();
    auto out = item->CreateTextFile();
    if (out) {
      out->WriteLine(line);
      EXPECT_TRUE(out->Close());
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(out) << messages;
    EXPECT_EQ(Contents(item->Path()), line + "\n");
    EXPECT_NE(messages.find("written in place"), std::string::npos) << messages;
    EXPECT_NE(messages.find(item->Path()), std::string::npos) << messages;
  }
  // An unfinished or failed write there leaves the file as it was.
  {
    auto out = item->CreateTextFile();
    ASSERT_TRUE(out);
    out->WriteLine("unfinished");
  }
  EXPECT_EQ(Contents(item->Path()), "x\n");
  // A file that is not there cannot be made, and a read-only one stays.
  fs::permissions(item->Path(), fs::perms::owner_read);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(item->CreateTextFile());
  EXPECT_FALSE(Folder()->Child("other.prefs")->CreateTextFile());
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find(std::strerror(EACCES)), std::string::npos) << messages;
  EXPECT_EQ(Contents(item->Path()), "x\n");
  EXPECT_EQ(Listing(), std::vector<std::string>{"Chimewick.prefs"});
}

}  // namespace
