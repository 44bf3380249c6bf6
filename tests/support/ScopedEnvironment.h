// An environment variable set (or unset) for one scope and restored after.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace chimewick_test {

class ScopedEnvironment {
 public:
  // Sets name to value, or unsets it when value is nullopt.
  ScopedEnvironment(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    set(value);
  }
  // Leaves name as it is; whatever the scope sets it to is undone after.
  explicit ScopedEnvironment(std::string name) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
  }
  ~ScopedEnvironment() { set(old_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void set(const std::optional<std::string>& value) const {
    if (value)
      ::setenv(name_.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace chimewick_test
