#include "Chimewick.h"

#include "DebugMessage.h"
#include "Window1.h"
#include "rb/Runtime.h"

Chimewick::Chimewick() : SiteRoot(CHIMEWICK_SITE_ROOT) {
  SetHandler<void()>("Open", [this] { Event_Open(); });
  SetHandler<void()>("Activate", [this] { Event_Activate(); });
}

void Chimewick::Event_Open() { DebugMessageEnableZel(false); }

void Chimewick::Event_Activate() {
  // At quit the window is closing for good; making a new one then would
  // outlive the event loop.
  if (rb::IsQuitting()) return;
  Window1Accessor()->SetVisible(true);
}

rb::String Chimewick::SiteHost() const {
  std::string_view root = SiteRoot;
  if (const size_t scheme = root.find("://"); scheme != std::string_view::npos)
    root.remove_prefix(scheme + 3);
  root = root.substr(0, root.find('/'));
  return rb::String(root.substr(0, root.find(':')));
}

rb::String Chimewick::SupportAddress() const {
  std::string_view root = SiteRoot;
  // The root ends with "/"; joined with "/forum" as it stands it would read
  // "//forum".
  if (!root.empty() && root.back() == '/') root.remove_suffix(1);
  return rb::String(root) + "/forum";
}

rb::Ref<Chimewick> App() { return rb::Cast<Chimewick>(rb::RuntimeApp()); }
