// Regular expressions on PCRE2. Any thread, one object at a time.
#pragma once

#include <memory>
#include <vector>

#include "rb/Object.h"
#include "rb/String.h"

namespace rb {

class RegExMatch : public Object {
 public:
  std::string ClassName() const override { return "RegExMatch"; }
  // Group 0 is the whole match; "" for a group that did not take part or an
  // index beyond the groups.
  String SubExpressionString(int index) const;
  int SubExpressionCount() const noexcept { return int(groups_.size()); }
  explicit RegExMatch(std::vector<String> groups) : groups_(std::move(groups)) {}

 private:
  std::vector<String> groups_;
};

class RegEx : public Object {
 public:
  struct OptionSet {
    bool CaseSensitive = false;
    bool DotMatchAll = false;  // a dot also matches a line end
    bool Greedy = true;        // false makes every quantifier lazy
  };
  std::string ClassName() const override { return "RegEx"; }
  OptionSet Options;
  String SearchPattern;
  // The first match in target from its beginning, or nil (also for a
  // pattern that does not compile; the reason goes to standard error).
  Ref<RegExMatch> Search(const String& target) const;
};

}  // namespace rb
