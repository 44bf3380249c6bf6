// Folders of a test's own: a fresh temporary folder removed with everything
// in it, and a private preferences folder (the XDG config folder) that the
// framework's PreferencesFolder gives while it lives.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ScopedEnvironment.h"

namespace chimewick_test {

class TemporaryFolder {
 public:
  // Makes $TMPDIR/chimewick-<label>-XXXXXX (or under /tmp).
  explicit TemporaryFolder(std::string_view label = "test") {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/chimewick-" + std::string(label) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
    path_ = pattern;
  }
  // Removes it, after giving back the write permission a test took away.
  ~TemporaryFolder() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
      if (it->is_directory(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A temporary folder that is the XDG config folder while it lives.
class PrivateConfigFolder {
 public:
  explicit PrivateConfigFolder(std::string_view label = "config")
      : folder_(label), configHome_("XDG_CONFIG_HOME", folder_.path().string()) {}

  const std::filesystem::path& path() const { return folder_.path(); }
  std::filesystem::path operator/(std::string_view name) const { return folder_ / name; }

 private:
  TemporaryFolder folder_;
  ScopedEnvironment configHome_;
};

}  // namespace chimewick_test
