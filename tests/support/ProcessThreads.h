// The threads of this process as /proc lists them, for tests that check
// which threads a component starts and when they end.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace chimewick_test {

inline size_t ThreadCount() {
  namespace fs = std::filesystem;
  return size_t(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator{}));
}

// Whether a thread of this process has that name (at most 15 characters).
inline bool HasThreadNamed(const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator it("/proc/self/task", error), end; !error && it != end; it.increment(error)) {
    std::string comm;
    std::getline(std::ifstream(it->path() / "comm"), comm);
    if (comm == name) return true;
  }
  return false;
}

// Waits until no thread has that name; false when one still has it after
// the time-out.
inline bool WaitUntilNoThreadNamed(const std::string& name, std::chrono::seconds timeout) {
  const auto giveUp = std::chrono::steady_clock::now() + timeout;
  while (HasThreadNamed(name)) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace chimewick_test
