// Host strings: what a plug-in makes with REALBuildString and hands to the
// host as a member function's result.
#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "PluginRegistry.h"
#include "rb/PluginHost.h"

// The record behind the opaque HostString handle. Plug-ins only pass it on;
// the host counts its references.
struct HostStringRecord {
  std::atomic<int> refs{1};
  std::string bytes;
  std::atomic<uint32_t> encoding{0};
};

namespace rb {
namespace {
// US-ASCII in the text-encoding numbers plug-ins use.
constexpr uint32_t kUSASCIIEncoding = 0x600;
}  // namespace

namespace plugin_host {

HostString HostBuildString(const void* bytes, int32_t length) {
  if (length < 0 || (bytes == nullptr && length != 0)) return nullptr;
  auto record = std::make_unique<HostStringRecord>();
  if (length != 0) record->bytes.assign(static_cast<const char*>(bytes), static_cast<size_t>(length));
  // The reference passes to the plug-in, and through a result back to the
  // host, which drops it with ReleaseHostString.
  return record.release();
}

void HostSetStringEncoding(HostString s, uint32_t encoding) {
  if (s != nullptr) s->encoding.store(encoding, std::memory_order_relaxed);
}

}  // namespace plugin_host

String HostStringText(HostString s) {
  if (s == nullptr) return String();
  if (s->encoding.load(std::memory_order_relaxed) != kUSASCIIEncoding) return String(s->bytes);
  // A byte above 127 is not US-ASCII; it must not pass as a broken UTF-8
  // sequence into the framework's text.
  std::string text = s->bytes;
  for (char& c : text)
    if (static_cast<unsigned char>(c) > 127) c = '?';
  return String(std::move(text));
}

void ReleaseHostString(HostString s) {
  if (s == nullptr) return;
  if (s->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) std::unique_ptr<HostStringRecord> last(s);
}

}  // namespace rb
