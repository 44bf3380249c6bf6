// How long this process has been alive, read from /proc: the start-up
// benchmarks measure from the moment the process began, not from main().
#pragma once

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

// Seconds since the process started (clock-tick resolution for the start),
// or -1 when /proc cannot be read.
inline double ProcessAgeSeconds() {
  std::ifstream statFile("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long startTicks = 0;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) startTicks = std::stoull(field);
  }
  double uptime = 0;
  std::ifstream("/proc/uptime") >> uptime;
  return uptime - double(startTicks) / double(sysconf(_SC_CLK_TCK));
}
