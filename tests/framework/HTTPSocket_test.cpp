#include "rb/HTTPSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "LocalHttpServer.h"
#include "TemporaryFolder.h"

namespace {

using chimewick_test::LocalHttpServer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class HTTPSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A proxy from the environment would stand between the client and the
    // local server.
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      ::unsetenv(name);
  }
};

// Request line and headers, as the server saw them.
struct SeenRequest {
  std::string requestLine;
  std::map<std::string, std::string> headers;
  bool endsWithBlankLine = false;
};

SeenRequest Parse(const std::string& bytes) {
  SeenRequest seen;
  seen.endsWithBlankLine = bytes.size() >= 4 && bytes.compare(bytes.size() - 4, 4, "\r\n\r\n") == 0;
  std::istringstream in(bytes);
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  seen.requestLine = line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    const auto colon = line.find(':');
    const auto valueStart = line.find_first_not_of(' ', colon + 1);
    seen.headers[line.substr(0, colon)] = valueStart == std::string::npos ? "" : line.substr(valueStart);
  }
  return seen;
}

struct ReplyCase {
  const char* name;
  LocalHttpServer::Reply reply;
  int status;
  std::string body;
  int error;
};

TEST_F(HTTPSocketTest, RepliesGiveTheirStatusAndBody) {
  LocalHttpServer::Reply redirect = LocalHttpServer::Full(302, "moved");
  redirect.headers.emplace_back("Location", "/elsewhere");
  const ReplyCase cases[] = {
      {"200 with a body", LocalHttpServer::Full(200, "1.0.0\n"), 200, "1.0.0\n", 0},
      {"404 keeps its body", LocalHttpServer::Full(404, "no such file"), 404, "no such file", 0},
      {"status line only", LocalHttpServer::StatusOnly(200), 200, "", 0},
      {"a 302 is not followed", redirect, 302, "moved", 0},
      {"NUL bytes in the body survive", LocalHttpServer::Full(200, std::string("a\0b\0\xff", 5)), 200,
       std::string("a\0b\0\xff", 5), 0},
      {"garbage without a status line", LocalHttpServer::Garbage("\x01\xfe garbage\r\n\r\nmore"), 0, "", -1},
      {"connection closed at once", LocalHttpServer::CloseAtOnce(), 0, "", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LocalHttpServer server(c.reply);
    if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
    auto socket = rb::New<rb::HTTPSocket>();
    const rb::String body = socket->Get(server.Url("/ChimewickHEVersion.txt"), 3);
    EXPECT_EQ(body.Bytes(), c.body);
    EXPECT_EQ(socket->HTTPStatusCode(), c.status);
    EXPECT_EQ(socket->ErrorCode(), c.error);
    EXPECT_EQ(server.Connections(), 1);
  }
}

TEST_F(HTTPSocketTest, SendsAPlainHttp10GetWithHostAcceptAndLanguage) {
  LocalHttpServer server(LocalHttpServer::Full(200, "x"));
  if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
  auto socket = rb::New<rb::HTTPSocket>();
  socket->Get(server.Url("/ChimewickHEVersion.txt"), 3);
  const SeenRequest seen = Parse(server.LastRequest());
  EXPECT_EQ(seen.requestLine, "GET /ChimewickHEVersion.txt HTTP/1.0");
  const std::map<std::string, std::string> expected = {
      {"Host", "127.0.0.1:" + std::to_string(server.Port())},
      {"Accept", "*/*"},
      {"Accept-Language", "en"},
  };
  EXPECT_EQ(seen.headers, expected) << server.LastRequest();
  EXPECT_TRUE(seen.endsWithBlankLine);
}

TEST_F(HTTPSocketTest, AnAddressWithoutPortUsesDefaultPort) {
  LocalHttpServer server(LocalHttpServer::Full(200, "via default port"));
  if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
  auto socket = rb::New<rb::HTTPSocket>();
  EXPECT_EQ(socket->DefaultPort, 80);
  socket->DefaultPort = server.Port();
  EXPECT_EQ(socket->Get("http://127.0.0.1/file.txt", 3).Bytes(), "via default port");
  EXPECT_EQ(Parse(server.LastRequest()).requestLine, "GET /file.txt HTTP/1.0");
}

TEST_F(HTTPSocketTest, SetRequestHeaderReplacesAHeaderOfTheSameName) {
  LocalHttpServer server(LocalHttpServer::Full(200, ""));
  if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
  auto socket = rb::New<rb::HTTPSocket>();
  socket->SetRequestHeader("accept-language", "de");
  socket->Get(server.Url("/"), 3);
  const SeenRequest seen = Parse(server.LastRequest());
  EXPECT_EQ(seen.headers.count("accept-language"), 0u);
  EXPECT_EQ(seen.headers.at("Accept-Language"), "de");
}

TEST_F(HTTPSocketTest, AHeaderThatWouldBreakTheRequestIsNotSent) {
  LocalHttpServer server(LocalHttpServer::Full(200, ""));
  if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
  struct Case {
    std::string name, value;
  };
  const Case cases[] = {
      {"X-Note", "a\r\nX-Injected: yes"},
      {"X-Note", "a\nX-Injected: yes"},
      {"X-Injected: yes\r\nX-Note", "a"},
      {"X-Injected", std::string("yes\0", 4)},
      {"X-Injected:", "yes"},
      {"", "yes"},
  };
  auto socket = rb::New<rb::HTTPSocket>();
  testing::internal::CaptureStderr();
  for (const auto& c : cases) socket->SetRequestHeader(rb::String(c.name), rb::String(c.value));
  const std::string messages = testing::internal::GetCapturedStderr();
  socket->Get(server.Url("/"), 3);
  const std::string request = server.LastRequest();
  EXPECT_EQ(request.find("Injected"), std::string::npos) << request;
  EXPECT_EQ(request.find("X-Note"), std::string::npos) << request;
  EXPECT_NE(request.find("\r\nAccept: */*\r\n"), std::string::npos) << request;
  EXPECT_NE(messages.find("not kept"), std::string::npos) << messages;
}

TEST_F(HTTPSocketTest, NothingListeningGivesStatusZeroAndNoBody) {
  auto socket = rb::New<rb::HTTPSocket>();
  const auto url = "http://127.0.0.1:" + std::to_string(LocalHttpServer::UnusedPort()) + "/v.txt";
  EXPECT_EQ(socket->Get(url, 3).Bytes(), "");
  EXPECT_EQ(socket->HTTPStatusCode(), 0);
  EXPECT_EQ(socket->ErrorCode(), -1);
}

TEST_F(HTTPSocketTest, AnAddressThatIsNoAddressFailsQuietly) {
  auto socket = rb::New<rb::HTTPSocket>();
  for (const char* address : {"", "http://", "ftp://127.0.0.1/x", "http://[::1/x", "\x01\xff"}) {
    SCOPED_TRACE(address);
    EXPECT_EQ(socket->Get(address, 1).Bytes(), "");
    EXPECT_EQ(socket->HTTPStatusCode(), 0);
    EXPECT_EQ(socket->ErrorCode(), -1);
  }
}

// The one case that must take the full time-out: a server that accepts and
// then says nothing.
TEST_F(HTTPSocketTest, ASilentServerIsGivenUpAfterTheTimeout) {
  LocalHttpServer server(LocalHttpServer::Stall());
  if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
  auto socket = rb::New<rb::HTTPSocket>();
  const auto start = Clock::now();
  const rb::String body = socket->Get(server.Url("/v.txt"), 3);
  const auto waited = Clock::now() - start;
  EXPECT_EQ(body.Bytes(), "");
  EXPECT_EQ(socket->HTTPStatusCode(), 0);
  EXPECT_EQ(socket->ErrorCode(), -1);
  EXPECT_GE(waited, 2500ms);
  EXPECT_LE(waited, 6000ms);
}

// Bytes that keep coming, each well within the time-out, never time out, even
// when the whole reply takes three times the time-out. The status line itself
// arrives piecemeal.
TEST_F(HTTPSocketTest, AReplyThatKeepsComingIsNotCutByTheTimeout) {
  // Ends with the connection (HTTP/1.0): 12 bytes dripped after "HTTP/1.0 2".
  auto reply = LocalHttpServer::Drip(200, "", 10, 250ms);
  reply.raw = "HTTP/1.0 200 OK\r\n\r\nabc";
  const size_t dripped = reply.raw.size() - reply.dripFrom;
  LocalHttpServer server(reply);
  if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
  auto socket = rb::New<rb::HTTPSocket>();
  const auto start = Clock::now();
  EXPECT_EQ(socket->Get(server.Url("/v.txt"), 1).Bytes(), "abc");
  EXPECT_GE(Clock::now() - start, (dripped - 1) * 250ms);
  EXPECT_EQ(socket->HTTPStatusCode(), 200);
  EXPECT_EQ(socket->ErrorCode(), 0);
}

// An HTTP/1.0 reply without a length ends with its connection. When the
// server sends the body and then never closes, the time-out ends the wait,
// and what arrived is the body. A reply whose length says more was to come
// is cut short, and gives nothing.
TEST_F(HTTPSocketTest, AReplyOnAConnectionThatNeverClosesGivesWhatArrivedByTheTimeout) {
  struct Case {
    const char* what;
    std::string sent;
    int status;
    std::string body;
    int error;
  };
  const Case cases[] = {
      {"a body without a length", "HTTP/1.0 200 OK\r\n\r\n1.0.0", 200, "1.0.0", -1},
      {"a body of its whole length", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n1.0.0", 200, "1.0.0", 0},
      {"a body shorter than its length", "HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\n1.0.0", 200, "", -1},
      {"a status line and headers only", "HTTP/1.0 404 Not Found\r\n\r\n", 404, "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LocalHttpServer server(LocalHttpServer::SendAndHold(c.sent));
    if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
    auto socket = rb::New<rb::HTTPSocket>();
    const auto start = Clock::now();
    EXPECT_EQ(socket->Get(server.Url("/v.txt"), 1).Bytes(), c.body);
    const auto waited = Clock::now() - start;
    EXPECT_EQ(socket->HTTPStatusCode(), c.status);
    EXPECT_EQ(socket->ErrorCode(), c.error);
    // A complete reply of known length needs no time-out.
    EXPECT_LE(waited, 4000ms);
  }
}

// A reply that stops halfway counts as a failure: the partial body is not
// handed out as if it were the file.
TEST_F(HTTPSocketTest, AReplyThatStopsHalfwayGivesNoBody) {
  LocalHttpServer::Reply reply = LocalHttpServer::Drip(200, "1.0.0", 0, 0ms);
  reply.script = LocalHttpServer::Script::Garbage;
  reply.raw = "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n1.0";
  LocalHttpServer server(reply);
  if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
  auto socket = rb::New<rb::HTTPSocket>();
  EXPECT_EQ(socket->Get(server.Url("/v.txt"), 3).Bytes(), "");
  EXPECT_EQ(socket->HTTPStatusCode(), 200);
  EXPECT_EQ(socket->ErrorCode(), -1);
}

// A name server that never answers: a UDP socket on port 53 of a loopback
// address of its own that reads each query and says nothing. It counts what
// it read.
class SilentNameServer {
 public:
  SilentNameServer() {
    std::random_device seed;
    address_ = "127." + std::to_string(1 + seed() % 254) + "." + std::to_string(seed() % 256) + "." +
               std::to_string(1 + seed() % 254);
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(53);
    if (fd_ < 0 || ::inet_pton(AF_INET, address_.c_str(), &where.sin_addr) != 1 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
      error_ = std::strerror(errno);
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
    }
  }
  ~SilentNameServer() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  bool Started() const { return fd_ >= 0; }
  const std::string& Error() const { return error_; }
  const std::string& Address() const { return address_; }
  // Reads and drops every query from now on, on a thread of its own.
  void Listen() {
    reader_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char query[1500];
        if (::recv(fd_, query, sizeof query, 0) > 0) ++queries_;
      }
    });
  }
  int Queries() const { return queries_.load(); }

 private:
  int fd_ = -1;
  std::string address_;
  std::string error_;
  std::atomic<bool> stop_{false};
  std::atomic<int> queries_{0};
  std::thread reader_;
};

// With a name server that never answers, the wait ends after the time-out
// like any other wait for nothing: the name lookup still running is not
// waited for (the system resolver would give up only after 10 s). The lookup
// runs in a child process with a private mount namespace whose resolv.conf
// names that server, so nothing else on the machine sees it.
TEST_F(HTTPSocketTest, ANameServerThatNeverAnswersIsGivenUpAfterTheTimeout) {
  SilentNameServer server;
  if (!server.Started())
    GTEST_SKIP() << "skipped: cannot listen on UDP port 53 of a loopback address (" << server.Error()
                 << "; it needs root or CAP_NET_BIND_SERVICE)";
  const chimewick_test::TemporaryFolder folder("resolv");
  const std::string conf = (folder / "resolv.conf").string();
  std::ofstream(conf) << "nameserver " << server.Address() << "\noptions timeout:5 attempts:2\n";
  int report[2];
  ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only this process sees the other resolv.conf.
    ::close(report[0]);
    std::string line;
    if (::unshare(CLONE_NEWNS) != 0) {
      line = std::string("skip: no private mount namespace (unshare: ") + std::strerror(errno) + ")";
    } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
               ::mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
      line = std::string("skip: cannot put a resolv.conf in place (mount: ") + std::strerror(errno) + ")";
    } else {
      auto socket = rb::New<rb::HTTPSocket>();
      const auto start = Clock::now();
      const rb::String body = socket->Get("http://updates.chimewick.test/ChimewickHEVersion.txt", 3);
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
      line = std::to_string(waited.count()) + " " + std::to_string(socket->HTTPStatusCode()) + " " +
             std::to_string(socket->ErrorCode()) + " " + std::to_string(body.Bytes().size());
    }
    const ssize_t ignored = ::write(report[1], line.data(), line.size());
    (void)ignored;
    ::_exit(0);  // the lookup may still run: nothing waits for it
  }
  ::close(report[1]);
  server.Listen();
  std::string line;
  for (const auto giveUp = Clock::now() + 30s; Clock::now() < giveUp;) {
    pollfd p{report[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char bytes[256];
    const ssize_t n = ::read(report[0], bytes, sizeof bytes);
    if (n <= 0) break;
    line.append(bytes, size_t(n));
  }
  ::close(report[0]);
  if (::waitpid(child, nullptr, WNOHANG) == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  ASSERT_FALSE(line.empty()) << "the child said nothing within 30 s";
  if (line.rfind("skip: ", 0) == 0) GTEST_SKIP() << "skipped: " << line.substr(6);
  if (server.Queries() == 0)
    GTEST_SKIP() << "skipped: the system resolver asked no name server (nsswitch.conf)";
  std::istringstream fields(line);
  long waitedMs = 0;
  int status = -99, error = -99;
  size_t bodySize = 99;
  fields >> waitedMs >> status >> error >> bodySize;
  EXPECT_GE(waitedMs, 2500) << line;
  EXPECT_LE(waitedMs, 6000) << "the wait outlasted its 3 s time-out: " << line;
  EXPECT_EQ(status, 0);
  EXPECT_EQ(error, -1);
  EXPECT_EQ(bodySize, 0u);
}

TEST_F(HTTPSocketTest, RandomRepliesNeverCrash) {
  LocalHttpServer server(LocalHttpServer::Garbage(""));
  if (!server.Started()) GTEST_SKIP() << "cannot listen on 127.0.0.1";
  std::mt19937 random(20261208);
  const std::string prefixes[] = {"", "HTTP/1.0 ", "HTTP/1.1 200 OK\r\n",
                                  "HTTP/1.0 200 OK\r\nContent-Length: "};
  auto socket = rb::New<rb::HTTPSocket>();
  for (int round = 0; round < 40; ++round) {
    std::string bytes = prefixes[random() % std::size(prefixes)];
    const size_t length = random() % 200;
    for (size_t i = 0; i < length; ++i) bytes += char(random() % 256);
    server.SetReply(LocalHttpServer::Garbage(bytes));
    const rb::String body = socket->Get(server.Url("/v.txt"), 2);
    if (socket->ErrorCode() != 0) {
      EXPECT_EQ(body.Bytes(), "");
    }
    EXPECT_TRUE(socket->HTTPStatusCode() >= 0 && socket->HTTPStatusCode() <= 999) << socket->HTTPStatusCode();
  }
}

}  // namespace
