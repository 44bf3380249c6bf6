#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "Chimewick.h"
#include "LocalHttpServer.h"
#include "ShellTestSupport.h"
#include "rb/Text.h"

namespace {

using chimewick_test::LocalHttpServer;

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { ShownMessages().clear(); }
  // Checks against the server and returns the one message shown.
  std::string Check(LocalHttpServer& server) {
    App()->SiteRoot = rb::String(server.Url("/"));
    App()->CheckForUpdates("ChimewickHE");
    EXPECT_EQ(ShownMessages().size(), 1u) << "exactly one message per check";
    return ShownMessages().empty() ? "" : ShownMessages().back();
  }
  static std::string Access(int status) {
    return "Could not access the version file on 127.0.0.1 to check for the latest version (" +
           std::to_string(status) + ").";
  }
  static std::string Newer(const std::string& version) {
    return "A newer version of ChimewickHE is available. Please go to 127.0.0.1 to download the latest "
           "version: " +
           version;
  }
  static std::string Current() { return App()->ShortVersion().Bytes(); }
};

TEST_F(UpdateCheckTest, AsksForTheVersionFileWithThePlainHeaders) {
  LocalHttpServer server(LocalHttpServer::Full(200, Current()));
  if (!server.Started()) GTEST_SKIP() << "no local socket";
  Check(server);
  const std::string request = server.LastRequest();
  EXPECT_EQ(request.rfind("GET /ChimewickHEVersion.txt HTTP/1.0\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("\r\nHost: 127.0.0.1"), std::string::npos) << request;
  EXPECT_NE(request.find("\r\nAccept: */*\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("\r\nAccept-Language: en\r\n"), std::string::npos) << request;
}

TEST_F(UpdateCheckTest, TellsTheOutcomeOfEachReply) {
  const std::string current = Current();
  struct Case {
    const char* what;
    LocalHttpServer::Reply reply;
    std::string message;
  };
  const Case cases[] = {
      {"the same version with blanks around it", LocalHttpServer::Full(200, "  " + current + " \r\n"),
       "Your version of ChimewickHE is up to date.\nCurrent version: " + current},
      {"a higher version", LocalHttpServer::Full(200, "99.0.0"), Newer("99.0.0")},
      {"a lower version", LocalHttpServer::Full(200, "0.0.1"), Newer("0.0.1")},
      {"no such file", LocalHttpServer::Full(404, "<html>not found</html>"), Access(404)},
      {"a redirect, not followed", LocalHttpServer::Full(302, ""), Access(302)},
      {"an empty body", LocalHttpServer::Full(200, ""), Access(200)},
      {"a blank body", LocalHttpServer::Full(200, " \t\r\n "), Access(200)},
      {"a status line of garbage", LocalHttpServer::Garbage("\x01\x02 not http at all\r\n\r\n"), Access(0)},
      {"NUL bytes in the body", LocalHttpServer::Full(200, std::string("1.0\0\0evil", 10)), Access(200)},
      {"invalid UTF-8", LocalHttpServer::Full(200, "\xff\xfe\xc3"), Access(200)},
      {"ten megabytes of text", LocalHttpServer::Full(200, std::string(10 << 20, '7')), Access(200)},
  };
  for (const auto& c : cases) {
    ShownMessages().clear();
    LocalHttpServer server(c.reply);
    if (!server.Started()) GTEST_SKIP() << "no local socket";
    EXPECT_EQ(Check(server), c.message) << c.what;
  }
}

// Seeded garbage from the server: whatever the reply, the check shows one
// message of its three kinds, and a reply's text reaches the box only as a
// short line of printable text.
TEST_F(UpdateCheckTest, RandomRepliesAlwaysGiveOneOfTheThreeMessages) {
  LocalHttpServer server(LocalHttpServer::Garbage(""));
  if (!server.Started()) GTEST_SKIP() << "no local socket";
  const std::string heads[] = {"",
                               "HTTP/1.0 200 OK\r\n\r\n",
                               "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n",
                               "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n",
                               "HTTP/1.0 404 Not Found\r\n\r\n",
                               "HTTP/1.0 2"};
  const std::string printable[] = {"1", ".", "0", "9", " ", "beta"};
  const std::string blanks[] = {"", " ", "\t", "\r\n", " \r\n\r\n"};
  const std::string upToDate = "Your version of ChimewickHE is up to date.\nCurrent version: " + Current();
  const std::string newer = Newer("");
  const std::string access =
      "Could not access the version file on 127.0.0.1 to check for the latest version (";
  std::mt19937 random(20261208);
  for (int round = 0; round < 90; ++round) {
    std::string reply = heads[random() % std::size(heads)];
    reply += blanks[random() % std::size(blanks)];
    switch (round % 3) {
      case 0:  // the current version
        reply += Current();
        break;
      case 1:  // a line of printable text, sometimes too long for a version
        for (size_t n = random() % 40; n > 0; --n) reply += printable[random() % std::size(printable)];
        break;
      default:  // any bytes
        for (size_t n = random() % 40; n > 0; --n) reply += char(random());
        break;
    }
    reply += blanks[random() % std::size(blanks)];
    server.SetReply(LocalHttpServer::Garbage(reply));
    ShownMessages().clear();
    const std::string message = Check(server);
    SCOPED_TRACE(testing::PrintToString(reply));
    if (message.rfind(newer, 0) == 0) {
      const std::string version = message.substr(newer.size());
      ASSERT_TRUE(!version.empty() && version.size() <= 64) << version;
      for (char c : version) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << int(c);
      EXPECT_TRUE(version.front() != ' ' && version.back() != ' ') << "trimmed: '" << version << "'";
    } else if (message != upToDate) {
      EXPECT_EQ(message.rfind(access, 0), 0u) << message;
      EXPECT_EQ(message.back(), '.') << message;
    }
  }
}

TEST_F(UpdateCheckTest, NothingListeningGivesStatusZero) {
  App()->SiteRoot = rb::String("http://127.0.0.1:" + std::to_string(LocalHttpServer::UnusedPort()) + "/");
  App()->CheckForUpdates("ChimewickHE");
  ASSERT_EQ(ShownMessages().size(), 1u);
  EXPECT_EQ(ShownMessages()[0], Access(0));
}

// An HTTP/1.0 reply without a length from a server that never closes: what
// arrived before the time-out is the version file.
TEST_F(UpdateCheckTest, AVersionOnAConnectionThatNeverClosesCountsAfterTheTimeout) {
  LocalHttpServer server(LocalHttpServer::SendAndHold("HTTP/1.0 200 OK\r\n\r\n" + Current() + "\n"));
  if (!server.Started()) GTEST_SKIP() << "no local socket";
  EXPECT_EQ(Check(server), "Your version of ChimewickHE is up to date.\nCurrent version: " + Current());
}

TEST_F(UpdateCheckTest, AServerThatStallsIsGivenUpAfterAboutThreeSeconds) {
  LocalHttpServer server(LocalHttpServer::Stall());
  if (!server.Started()) GTEST_SKIP() << "no local socket";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Check(server), Access(0));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(seconds, 2.5);
  EXPECT_LT(seconds, 8.0);
}

}  // namespace
