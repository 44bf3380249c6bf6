// A blocking HTTP client on libcurl. One thread at a time per object.
#pragma once

#include <vector>

#include "rb/Object.h"
#include "rb/String.h"

namespace rb {

class HTTPSocket : public Object {
 public:
  // DefaultPort 80; request headers Accept "*/*" and Accept-Language "en".
  HTTPSocket();
  std::string ClassName() const override { return "HTTPSocket"; }

  int DefaultPort = 80;
  // Sets (or replaces, by name in any letter case) a header of the requests
  // that follow. A name that is empty or holds a colon, or a name or value
  // holding a CR, LF or NUL, is not kept (said on standard error).
  void SetRequestHeader(const String& name, const String& value);

  // Sends an HTTP/1.0 GET for the address (http://host[:port]/path) with
  // Host and the request headers, follows no redirect and waits. Gives up
  // when nothing has moved (name lookup done, connection state, reply bytes)
  // for timeoutSeconds; the wait restarts whenever data arrives. Returns the
  // reply's body: after a time-out, what arrived by then. Empty on failure:
  // no connection, a reply without a status line, a reply cut short of its
  // Content-Length (even when part of the body came), or a body over 64 MiB.
  // A timeoutSeconds of 0 or less waits without limit. Waits; any thread but
  // the audio one.
  String Get(const String& address, int timeoutSeconds);
  // The status code of the last reply's status line; 0 without one.
  int HTTPStatusCode() const noexcept { return status_; }
  // 0, or -1 after a time-out (whatever arrived) or a failed connection.
  int ErrorCode() const noexcept { return error_; }

 private:
  std::vector<std::pair<String, String>> headers_;
  int status_ = 0;
  int error_ = 0;
};

}  // namespace rb
