// The single-instance hand-over: where its socket lives, that a later start
// hands over to a running one of the same user, and that no other user's
// listener can take the hand-over (and so stop the program from starting).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <QtCore/QCryptographicHash>
#include <QtCore/QDir>
#include <QtCore/QStandardPaths>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "GuiTestSupport.h"
#include "ScopedEnvironment.h"
#include "TemporaryFolder.h"
#include "UnprivilegedUser.h"

namespace {

namespace fs = std::filesystem;

// A listener on a socket path, run as nobody where the test runs as root:
// it reports "listening", then "connection:" and the bytes of each
// connection, one line each, on a pipe.
class ForeignListener {
 public:
  explicit ForeignListener(const std::string& path) {
    if (::pipe2(pipe_, O_CLOEXEC) != 0 || path.size() >= sizeof(sockaddr_un::sun_path)) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int report = pipe_[1];
    child_.emplace([address, report] {
      const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
      if (listener < 0 ||
          ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
          ::listen(listener, 4) != 0)
        return 1;
      Say(report, "listening\n");
      for (;;) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) return 2;
        Say(report, "connection:");
        char bytes[64];
        for (ssize_t got; (got = ::read(connection, bytes, sizeof bytes)) > 0;)
          if (::write(report, bytes, size_t(got)) < 0) return 3;
        Say(report, "\n");
        ::close(connection);
      }
    });
    ::close(pipe_[1]);
    pipe_[1] = -1;
    listening_ = Read(5000).starts_with("listening");
  }
  ~ForeignListener() {
    child_.reset();
    for (int fd : pipe_)
      if (fd >= 0) ::close(fd);
  }
  bool listening() const { return listening_; }
  // What it reported within timeoutMs.
  std::string Read(int timeoutMs) {
    std::string text;
    pollfd ready{pipe_[0], POLLIN, 0};
    while (::poll(&ready, 1, timeoutMs) > 0) {
      char bytes[256];
      const ssize_t got = ::read(pipe_[0], bytes, sizeof bytes);
      if (got <= 0) break;
      text.append(bytes, size_t(got));
      if (text.back() == '\n') timeoutMs = 100;  // a whole line: wait a little for more
    }
    return text;
  }

 private:
  static void Say(int fd, const char* text) {
    [[maybe_unused]] const ssize_t n = ::write(fd, text, std::strlen(text));
  }

  int pipe_[2] = {-1, -1};
  std::optional<chimewick_test::ChildAsNobody> child_;
  bool listening_ = false;
};

class SingleInstanceTest : public rbtest::GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    if (rb::IsQuitting()) GTEST_SKIP() << "an earlier test in this process quit the runtime";
    // Others may pass through to the shared temporary folder, as in /tmp.
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directory(root_ / "tmp");
    fs::permissions(root_ / "tmp", fs::perms::all | fs::perms::sticky_bit);
    fs::create_directory(root_ / "runtime");
    fs::permissions(root_ / "runtime", fs::perms::owner_all);
    ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);

    previousApp_ = rb::RuntimeApp();
    auto app = rb::New<rb::Application>();
    app->SetHandler<void()>("Activate", [this] { ++activations_; });
    rb::RuntimeRegisterAppObject(app);
    registered_ = true;
  }
  void TearDown() override {
    if (registered_) rb::RuntimeRegisterAppObject(previousApp_);
    GuiTest::TearDown();
  }

  // A name no other test or engineer on this machine uses.
  static std::string UniqueId() {
    static int count = 0;
    return "InstanceTest-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
  }
  // The sockets in folder whose names start with id.
  static std::vector<fs::path> SocketsOf(const fs::path& folder, const std::string& id) {
    std::vector<fs::path> sockets;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
      if (entry.is_socket() && entry.path().filename().string().starts_with(id))
        sockets.push_back(entry.path());
    return sockets;
  }
  void WaitForActivations(int count) {
    for (int i = 0; i < 80 && activations_ < count; ++i) rb::ProcessEvents(25);
  }

  // Made under the temporary folder of the test's start, which the test
  // then moves (put back afterwards, like the runtime folder).
  const chimewick_test::ScopedEnvironment tmpdir_{"TMPDIR"};
  const chimewick_test::ScopedEnvironment runtimeDir_{"XDG_RUNTIME_DIR"};
  const chimewick_test::TemporaryFolder folder_{"instance"};
  const fs::path root_ = folder_.path();
  rb::Ref<rb::Application> previousApp_;
  bool registered_ = false;
  int activations_ = 0;
};

// The socket lives where only the user can reach it: the runtime folder
// when that is private, else a folder of mode 0700 of the program's own;
// there a later start hands over to the running one.
TEST_F(SingleInstanceTest, TheSocketLivesWhereOnlyTheUserCanReachItAndASecondStartHandsOver) {
  const fs::path ownFolder = root_ / "tmp" / ("chimewick-" + std::to_string(::geteuid()));
  struct Case {
    const char* what;
    std::optional<fs::path> runtimeDir;
    fs::path expectedFolder;
  };
  const Case cases[] = {
      {"a private runtime folder", root_ / "runtime", root_ / "runtime"},
      {"no runtime folder", std::nullopt, ownFolder},
      {"a runtime folder open to others", root_ / "open", ownFolder},
  };
  fs::create_directory(root_ / "open");
  fs::permissions(root_ / "open", fs::perms::all);
  int handedOver = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.runtimeDir)
      ::setenv("XDG_RUNTIME_DIR", c.runtimeDir->c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
    const std::string id = UniqueId();
    EXPECT_TRUE(rb::ClaimSingleInstance(id)) << "the first claim runs";
    EXPECT_EQ(SocketsOf(c.expectedFolder, id).size(), 1u);
    EXPECT_TRUE(SocketsOf(root_ / "tmp", id).empty()) << "nothing in the shared temporary folder";
    EXPECT_FALSE(rb::ClaimSingleInstance(id)) << "a second start hands over and ends";
    WaitForActivations(++handedOver);
    EXPECT_EQ(activations_, handedOver);
  }
  struct stat info {};
  ASSERT_EQ(::lstat(ownFolder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(info.st_uid, ::geteuid());
}

// Another user may make the program's own folder in the shared temporary
// folder before it does: that folder is not used, and the program starts.
TEST_F(SingleInstanceTest, AFolderMadeByAnotherUserIsNotUsedAndTheProgramStarts) {
  if (!chimewick_test::RunningAsRoot())
    GTEST_SKIP() << "skipped: needs root to make a folder of another user";
  ::unsetenv("XDG_RUNTIME_DIR");
  const fs::path planted = root_ / "tmp" / ("chimewick-" + std::to_string(::geteuid()));
  fs::create_directory(planted);
  fs::permissions(planted, fs::perms::owner_all);
  ASSERT_TRUE(chimewick_test::GiveToNobody(planted.string()));
  const std::string id = UniqueId();
  testing::internal::CaptureStderr();
  const bool runs = rb::ClaimSingleInstance(id);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(runs);
  EXPECT_TRUE(SocketsOf(planted, id).empty());
  EXPECT_NE(messages.find(planted.string()), std::string::npos) << messages;
}

// Before, the socket had a predictable name in the shared temporary folder:
// a listener there (of another user, where the test runs as root) took the
// hand-over, and the program ended without a window. It is no longer asked.
TEST_F(SingleInstanceTest, AListenerOnTheOldSharedNameNoLongerStopsTheStart) {
  const std::string id = UniqueId();
  const QByteArray config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toUtf8();
  const std::string digest =
      QCryptographicHash::hash(config, QCryptographicHash::Sha1).toHex().left(12).toStdString();
  const std::string oldName =
      QDir::tempPath().toStdString() + "/" + id + "-" + std::to_string(::getuid()) + "-" + digest;
  ForeignListener listener(oldName);
  ASSERT_TRUE(listener.listening());

  EXPECT_TRUE(rb::ClaimSingleInstance(id)) << "the program starts";
  EXPECT_EQ(listener.Read(300), "") << "the listener heard nothing";
}

// A listener of another user on the program's own name (only root can put
// one there) is not handed over to: the program starts and takes the name.
TEST_F(SingleInstanceTest, AListenerOfAnotherUserOnTheProgramsNameIsRefused) {
  if (!chimewick_test::RunningAsRoot())
    GTEST_SKIP() << "skipped: needs root to run a listener as another user";
  const std::string id = UniqueId();
  ASSERT_TRUE(rb::ClaimSingleInstance(id));
  const std::vector<fs::path> ours = SocketsOf(root_ / "runtime", id);
  ASSERT_EQ(ours.size(), 1u);

  const fs::path foreign = root_ / "tmp" / "foreign";
  ForeignListener listener(foreign.string());
  ASSERT_TRUE(listener.listening());
  fs::rename(foreign, ours[0]);  // a bound socket keeps listening under its new name

  testing::internal::CaptureStderr();
  const bool runs = rb::ClaimSingleInstance(id);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(runs) << "the program starts";
  const std::string heard = listener.Read(300);
  EXPECT_EQ(heard.find("activate"), std::string::npos) << heard;
  EXPECT_NE(messages.find("held by user " + std::to_string(chimewick_test::Nobody().uid)), std::string::npos)
      << messages;
  // The name is the program's again: the next start hands over to it.
  EXPECT_FALSE(rb::ClaimSingleInstance(id));
  WaitForActivations(1);
  EXPECT_EQ(activations_, 1);
}

}  // namespace
