// A scripted HTTP server for tests: listens on 127.0.0.1 at a port the
// system picks, serves one connection at a time on its own thread with the
// reply script it holds, and records the request bytes of every connection.
//
//   LocalHttpServer server(LocalHttpServer::Full(200, "1.0.0"));
//   if (!server.Started()) GTEST_SKIP() << "no local socket";
//   socket.Get(server.Url("/ChimewickHEVersion.txt"), 3);
//   EXPECT_EQ(server.LastRequest(), "GET /ChimewickHEVersion.txt HTTP/1.0\r\n...");
//
// The destructor stops the server and joins its thread promptly, even while a
// stalling or dripping script runs.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace chimewick_test {

class LocalHttpServer {
 public:
  enum class Script {
    FullReply,         // status line, headers, Content-Length and body; then close
    StatusOnly,        // status line and headers, no body; then close
    StallForever,      // reads the request, then sends nothing while the client waits
    Drip,              // the full reply (or Raw when given): dripFrom bytes at once, then one
                       // byte per dripInterval; then close
    CloseImmediately,  // closes each connection as soon as it is accepted
    Garbage,           // reads the request, sends Raw as it is, then closes
    SendAndHold,       // reads the request, sends Raw as it is, then keeps the connection open
                       // (sending nothing more) until the client closes it
  };

  struct Reply {
    Script script = Script::FullReply;
    int status = 200;
    std::string reason = "OK";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string raw;  // Garbage: the bytes sent; Drip: sent in place of the full reply when not empty
    size_t dripFrom = 0;
    std::chrono::milliseconds dripInterval{1000};
  };

  static Reply Full(int status, std::string body, std::string reason = "") {
    Reply r;
    r.status = status;
    r.reason = reason.empty() ? DefaultReason(status) : std::move(reason);
    r.body = std::move(body);
    return r;
  }
  static Reply StatusOnly(int status) {
    Reply r = Full(status, "");
    r.script = Script::StatusOnly;
    return r;
  }
  static Reply Stall() {
    Reply r;
    r.script = Script::StallForever;
    return r;
  }
  static Reply Drip(int status, std::string body, size_t dripFrom, std::chrono::milliseconds interval) {
    Reply r = Full(status, std::move(body));
    r.script = Script::Drip;
    r.dripFrom = dripFrom;
    r.dripInterval = interval;
    return r;
  }
  static Reply CloseAtOnce() {
    Reply r;
    r.script = Script::CloseImmediately;
    return r;
  }
  static Reply Garbage(std::string bytes) {
    Reply r;
    r.script = Script::Garbage;
    r.raw = std::move(bytes);
    return r;
  }
  static Reply SendAndHold(std::string bytes) {
    Reply r;
    r.script = Script::SendAndHold;
    r.raw = std::move(bytes);
    return r;
  }

  // The bytes that FullReply and Drip send for a reply ("HTTP/1.0 200 OK\r\n"
  // ..., Content-Length always given for FullReply and Drip).
  static std::string ReplyBytes(const Reply& r, bool withBody = true) {
    std::string bytes =
        "HTTP/1.0 " + std::to_string(r.status) + (r.reason.empty() ? "" : " " + r.reason) + "\r\n";
    for (const auto& [name, value] : r.headers) bytes += name + ": " + value + "\r\n";
    if (withBody) bytes += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    bytes += "\r\n";
    if (withBody) bytes += r.body;
    return bytes;
  }

  explicit LocalHttpServer(Reply reply) : reply_(std::move(reply)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(listener_);
      listener_ = -1;
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~LocalHttpServer() { Stop(); }
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  bool Started() const { return listener_ >= 0; }
  int Port() const { return port_; }
  std::string Url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // The script for the connections that follow.
  void SetReply(Reply reply) {
    std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
  }

  // The request bytes of every connection so far (up to and including the
  // blank line that ends the headers, or what arrived before the client
  // closed), in order.
  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::string LastRequest() const {
    std::lock_guard lock(mutex_);
    return requests_.empty() ? std::string() : requests_.back();
  }
  int Connections() const { return connections_.load(); }

  // Waits until n requests have been recorded or the limit passes.
  bool WaitForRequests(size_t n, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return requests_.size() >= n; });
  }

  // A port on 127.0.0.1 on which nothing listens (as far as can be known).
  static int UnusedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return 9;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 9;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port = ntohs(address.sin_port);
    ::close(s);
    return port;
  }

  void Stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }

 private:
  static std::string DefaultReason(int status) {
    switch (status) {
      case 200:
        return "OK";
      case 302:
        return "Found";
      case 404:
        return "Not Found";
      case 500:
        return "Internal Server Error";
      default:
        return "Status";
    }
  }

  // Waits up to the step for the socket to become ready; false when the
  // server stops meanwhile.
  bool WaitFor(int fd, short events, std::chrono::milliseconds step = std::chrono::milliseconds(50)) {
    pollfd p{fd, events, 0};
    return !stopping_ && ::poll(&p, 1, int(step.count())) > 0;
  }

  void Serve() {
    while (!stopping_) {
      if (!WaitFor(listener_, POLLIN)) continue;
      const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      ++connections_;
      Reply reply;
      {
        std::lock_guard lock(mutex_);
        reply = reply_;
      }
      Answer(connection, reply);
      ::close(connection);
    }
  }

  void Answer(int connection, const Reply& reply) {
    if (reply.script == Script::CloseImmediately) {
      Record("");
      return;
    }
    const bool clientOpen = ReadRequest(connection);
    switch (reply.script) {
      case Script::FullReply:
        SendAll(connection, ReplyBytes(reply));
        break;
      case Script::StatusOnly:
        SendAll(connection, ReplyBytes(reply, false));
        break;
      case Script::Garbage:
        SendAll(connection, reply.raw);
        break;
      case Script::SendAndHold:
        if (!SendAll(connection, reply.raw)) break;
        HoldUntilClientCloses(connection, clientOpen);
        break;
      case Script::StallForever:
        HoldUntilClientCloses(connection, clientOpen);
        break;
      case Script::Drip: {
        const std::string bytes = reply.raw.empty() ? ReplyBytes(reply) : reply.raw;
        const size_t first = std::min(reply.dripFrom, bytes.size());
        if (!SendAll(connection, bytes.substr(0, first))) break;
        for (size_t i = first; i < bytes.size() && !stopping_; ++i) {
          SleepUnlessStopping(reply.dripInterval);
          if (!SendAll(connection, bytes.substr(i, 1))) break;
        }
        break;
      }
      case Script::CloseImmediately:
        break;
    }
  }

  // Until the client gives up (end of stream) or the server stops.
  void HoldUntilClientCloses(int connection, bool clientOpen) {
    while (clientOpen && !stopping_) {
      if (!WaitFor(connection, POLLIN)) continue;
      char scrap[256];
      if (::recv(connection, scrap, sizeof scrap, 0) <= 0) break;
    }
  }

  // Reads until the blank line after the headers, the client's end of
  // stream, five seconds or the server's stop. True while the client is open.
  bool ReadRequest(int connection) {
    std::string request;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool open = true;
    while (request.find("\r\n\r\n") == std::string::npos && !stopping_ &&
           std::chrono::steady_clock::now() < giveUp) {
      if (!WaitFor(connection, POLLIN)) continue;
      char buffer[4096];
      const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
      if (n <= 0) {
        open = false;
        break;
      }
      request.append(buffer, size_t(n));
    }
    Record(std::move(request));
    return open;
  }

  void Record(std::string request) {
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(std::move(request));
    }
    changed_.notify_all();
  }

  bool SendAll(int connection, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size() && !stopping_) {
      if (!WaitFor(connection, POLLOUT)) continue;
      const ssize_t n = ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += size_t(n);
    }
    return sent == bytes.size();
  }

  void SleepUnlessStopping(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (!stopping_ && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Reply reply_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace chimewick_test
