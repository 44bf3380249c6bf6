#define PCRE2_CODE_UNIT_WIDTH 8
#include "rb/RegEx.h"

#include <pcre2.h>

#include <iostream>
#include <memory>

#include "chimewick/Log.h"

namespace rb {

namespace {

struct CodeDeleter {
  void operator()(pcre2_code* code) const noexcept { pcre2_code_free(code); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const noexcept { pcre2_match_data_free(data); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchDataPtr = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;

std::string ErrorText(int code) {
  PCRE2_UCHAR buffer[256];
  if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0) return "error " + std::to_string(code);
  return reinterpret_cast<const char*>(buffer);
}

}  // namespace

String RegExMatch::SubExpressionString(int index) const {
  if (index < 0 || index >= int(groups_.size())) return {};
  return groups_[size_t(index)];
}

// Patterns and texts are bytes, not UTF-8: the target may hold any bytes at
// all (a damaged preferences file), and byte matching never rejects it.
// Letter case is folded for ASCII letters, as the framework's text rule does.
Ref<RegExMatch> RegEx::Search(const String& target) const {
  uint32_t options = 0;
  if (!Options.CaseSensitive) options |= PCRE2_CASELESS;
  if (Options.DotMatchAll) options |= PCRE2_DOTALL;
  if (!Options.Greedy) options |= PCRE2_UNGREEDY;

  const std::string& pattern = SearchPattern.Bytes();
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  CodePtr code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options,
                             &errorCode, &errorOffset, nullptr));
  if (!code) {
    chimewick::frameworkLog.line("RegEx: cannot use the pattern \"%s\": %s at offset %zu", pattern.c_str(),
                                 ErrorText(errorCode).c_str(), size_t(errorOffset));
    return nullptr;
  }
  MatchDataPtr matchData(pcre2_match_data_create_from_pattern(code.get(), nullptr));
  if (!matchData) return nullptr;

  const std::string& subject = target.Bytes();
  const int rc = pcre2_match(code.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0,
                             matchData.get(), nullptr);
  if (rc == PCRE2_ERROR_NOMATCH) return nullptr;
  if (rc < 0) {
    // Match or depth limit: the search is given up rather than run for ever.
    chimewick::frameworkLog.line("RegEx: search with \"%s\" failed: %s", pattern.c_str(),
                                 ErrorText(rc).c_str());
    return nullptr;
  }

  const uint32_t groupCount = pcre2_get_ovector_count(matchData.get());
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData.get());
  uint32_t captured = 0;
  pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &captured);
  std::vector<String> groups;
  groups.reserve(captured + 1);
  for (uint32_t i = 0; i <= captured && i < groupCount; ++i) {
    const PCRE2_SIZE start = ovector[2 * i], end = ovector[2 * i + 1];
    if (start == PCRE2_UNSET || end == PCRE2_UNSET || end < start)
      groups.emplace_back();
    else
      groups.emplace_back(std::string_view(subject.data() + start, end - start));
  }
  return New<RegExMatch>(std::move(groups));
}

}  // namespace rb
