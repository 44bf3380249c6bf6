#include "rb/HTTPSocket.h"

#include <curl/curl.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include "chimewick/Log.h"

namespace rb {

namespace {

// A reply body larger than this is refused (a failure, empty body): a server
// cannot make the program hold an unbounded reply in memory.
constexpr size_t kMaxBodyBytes = 64u * 1024u * 1024u;
// How often the wait looks at the clock while nothing happens.
constexpr int kPollMilliseconds = 100;

struct EasyDeleter {
  void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderListPtr = std::unique_ptr<curl_slist, HeaderListDeleter>;
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

// Takes the easy handle out of the multi handle before either goes.
struct Attachment {
  CURLM* multi;
  CURL* easy;
  ~Attachment() { curl_multi_remove_handle(multi, easy); }
};

bool CurlReady() {
  // Once per process, before any other curl call; thread-safe through the
  // static's initialisation.
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

struct Transfer {
  std::string body;
  bool moved = false;
};

size_t TakeBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t length = size * count;
  transfer->moved = true;
  if (length > kMaxBodyBytes - transfer->body.size()) return 0;  // aborts the transfer
  transfer->body.append(data, length);
  return length;
}

size_t TakeHeader(char*, size_t size, size_t count, void* user) {
  static_cast<Transfer*>(user)->moved = true;
  return size * count;
}

// The address as curl will use it: "http://" assumed when no scheme is
// given, and DefaultPort for a plain HTTP address that names no port.
UrlPtr ParseAddress(const String& address, int defaultPort) {
  UrlPtr url(curl_url());
  if (!url) return nullptr;
  if (curl_url_set(url.get(), CURLUPART_URL, address.c_str(),
                   CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
    return nullptr;
  char* scheme = nullptr;
  const bool isHttp = curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                      std::string_view(scheme) == "http";
  curl_free(scheme);
  char* port = nullptr;
  const bool namesPort = curl_url_get(url.get(), CURLUPART_PORT, &port, 0) == CURLUE_OK;
  curl_free(port);
  if (isHttp && !namesPort && defaultPort > 0 && defaultPort <= 65535 && defaultPort != 80)
    curl_url_set(url.get(), CURLUPART_PORT, std::to_string(defaultPort).c_str(), 0);
  return url;
}

}  // namespace

HTTPSocket::HTTPSocket() {
  SetRequestHeader("Accept", "*/*");
  SetRequestHeader("Accept-Language", "en");
}

void HTTPSocket::SetRequestHeader(const String& name, const String& value) {
  // A line break (or a colon in the name) would let the text add headers of
  // its own, or a whole second request: such a header is not kept.
  constexpr std::string_view kLineBreaks("\r\n\0", 3);
  const auto breaksLine = [&](std::string_view text) { return text.find_first_of(kLineBreaks) != text.npos; };
  if (name.empty() || breaksLine(name) || breaksLine(value) || name.Bytes().find(':') != std::string::npos) {
    chimewick::frameworkLog.line("HTTPSocket: request header \"%s\" not kept: not a header line",
                                 name.Bytes().substr(0, 64).c_str());
    return;
  }
  for (auto& header : headers_) {
    if (header.first == name) {
      header.second = value;
      return;
    }
  }
  headers_.emplace_back(name, value);
}

String HTTPSocket::Get(const String& address, int timeoutSeconds) {
  status_ = 0;
  error_ = -1;  // until the reply is complete
  if (!CurlReady()) return {};

  UrlPtr url = ParseAddress(address, DefaultPort);
  if (!url) return {};
  HeaderListPtr headerList;
  for (const auto& [name, value] : headers_) {
    // "Name;" is curl's way of sending a header with an empty value.
    const std::string line = name.Bytes() + (value.empty() ? ";" : ": " + value.Bytes());
    curl_slist* grown = curl_slist_append(headerList.get(), line.c_str());
    if (!grown) return {};
    headerList.release();
    headerList.reset(grown);
  }
  MultiPtr multi(curl_multi_init());
  EasyPtr easy(curl_easy_init());
  if (!multi || !easy) return {};

  Transfer transfer;
  CURL* e = easy.get();
  // Every option counts: a libcurl that refused one (say, the protocol
  // limit) would otherwise run a request other than the one asked for.
  bool configured = true;
  const auto set = [&](CURLoption option, auto value) {
    configured = configured && curl_easy_setopt(e, option, value) == CURLE_OK;
  };
  set(CURLOPT_CURLU, url.get());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
  set(CURLOPT_HTTPGET, 1L);
  set(CURLOPT_HTTPHEADER, headerList.get());
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_HTTP09_ALLOWED, 0L);  // a reply without a status line is a failure
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_WRITEFUNCTION, &TakeBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
  set(CURLOPT_HEADERFUNCTION, &TakeHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
  if (!configured) return {};
  // A name lookup still running when the wait gives up is left to finish on
  // its own: otherwise taking the transfer down waits for curl's resolver
  // thread, the system resolver's whole time-out (10 s and more). libcurl
  // 7.87 and later (Debian 12 has 7.88); it changes nothing in the request.
  curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
  if (curl_multi_add_handle(multi.get(), e) != CURLM_OK) return {};
  Attachment attachment{multi.get(), e};

  // The wait: every socket event (connected, request sent, reply bytes in)
  // and every header or body piece counts as progress. Only a stretch of
  // timeoutSeconds without any gives up; there is no limit on the whole.
  using Clock = std::chrono::steady_clock;
  const auto patience = std::chrono::seconds(timeoutSeconds);
  auto lastMove = Clock::now();
  bool timedOut = false;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return {};
    if (transfer.moved) lastMove = Clock::now(), transfer.moved = false;
    if (running == 0) break;
    int events = 0;
    if (curl_multi_poll(multi.get(), nullptr, 0, kPollMilliseconds, &events) != CURLM_OK) return {};
    const auto now = Clock::now();
    if (events > 0) lastMove = now;
    if (timeoutSeconds > 0 && now - lastMove >= patience) {
      timedOut = true;
      break;
    }
  }

  long status = 0;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
  status_ = int(status);
  if (timedOut) {
    // What arrived is the body (an HTTP/1.0 reply without a length ends
    // only with its connection), unless the reply's length says more was
    // to come: a body cut short is not handed out.
    curl_off_t length = -1;
    curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0 && transfer.body.size() < size_t(length)) return {};
    return String(std::move(transfer.body));
  }
  CURLcode result = CURLE_RECV_ERROR;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued))
    if (message->msg == CURLMSG_DONE && message->easy_handle == e) result = message->data.result;
  if (result != CURLE_OK) return {};
  error_ = 0;
  return String(std::move(transfer.body));
}

}  // namespace rb
