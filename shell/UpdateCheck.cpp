#include <algorithm>

#include "Chimewick.h"
#include "rb/Dialogs.h"
#include "rb/HTTPSocket.h"
#include "rb/Text.h"

namespace {

// A published version is one short line of printable text. Anything else
// (a page of HTML, binary bytes, megabytes of text) is not a version file,
// and showing it in a message box would only bury the message.
bool LooksLikeVersion(std::string_view text) {
  constexpr size_t kLongestVersion = 64;
  if (text.size() > kLongestVersion) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x7F;
  });
}

}  // namespace

void Chimewick::CheckForUpdates(const rb::String& productCode) {
  auto http = rb::New<rb::HTTPSocket>();
  const rb::String address = SiteRoot + productCode + "Version.txt";
  const rb::String text = rb::Trim(http->Get(address, 3));
  const int status = http->HTTPStatusCode();

  if (rb::Len(text) < 1 || status != 200 || !LooksLikeVersion(text)) {
    rb::MsgBox("Could not access the version file on " + SiteHost() + " to check for the latest version (" +
               rb::Str(status) + ").");
    return;
  }
  if (text == App()->ShortVersion()) {
    rb::MsgBox("Your version of " + productCode + " is up to date." + rb::EndOfLine() +
               "Current version: " + text);
  } else {
    rb::MsgBox("A newer version of " + productCode + " is available. Please go to " + SiteHost() +
               " to download the latest version: " + text);
  }
}
