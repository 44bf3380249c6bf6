// A private X server (Xvfb on a free display number) with a window manager
// (Openbox) for tests that need what only a window manager does. Both are
// stopped by their process ids when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace chimewick_test {

// The standard output of a shell command (for xprop, xwininfo, xdotool).
inline std::string CommandOutput(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    ::pclose(pipe);
  }
  return output;
}

class PrivateXServer {
 public:
  // Starts Xvfb and Openbox and sets DISPLAY for this process; on failure
  // Reason() says why and nothing is left running.
  PrivateXServer() {
    for (const char* tool : {"Xvfb", "openbox", "xprop", "xwininfo", "xdotool"}) {
      if (CommandOutput(std::string("command -v ") + tool).empty()) {
        reason_ = std::string(tool) + " is not installed";
        return;
      }
    }
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
      reason_ = "no pipe for Xvfb's display number";
      return;
    }
    // Xvfb picks a free display number and writes it to the descriptor.
    xvfb_ = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, ready[1]);
    ::close(ready[1]);
    const std::string number = ReadLine(ready[0], std::chrono::seconds(10));
    ::close(ready[0]);
    if (xvfb_ <= 0 || number.empty()) {
      reason_ = "Xvfb did not start";
      Stop();
      return;
    }
    display_ = ":" + number;
    ::setenv("DISPLAY", display_.c_str(), 1);
    openbox_ = Spawn({"openbox", "--sm-disable"}, -1);
    // The window manager is up once it names itself on the root window.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (CommandOutput("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) {
        reason_ = "Openbox did not start on " + display_;
        Stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~PrivateXServer() { Stop(); }
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  bool Running() const { return reason_.empty(); }
  const std::string& Reason() const { return reason_; }
  const std::string& Display() const { return display_; }

 private:
  // Started before any thread of the test program: the child runs only
  // async-signal-safe calls before exec. It ends with the test program,
  // even one that dies without stopping it.
  static pid_t Spawn(const std::vector<std::string>& argv, int displayFd) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int quiet = ::open("/dev/null", O_WRONLY);
    ::dup2(quiet, 1);
    ::dup2(quiet, 2);
    if (displayFd >= 0) ::dup2(displayFd, 3);  // dup2 clears close-on-exec
    ::execvp(args[0], args.data());
    ::_exit(127);
  }

  static std::string ReadLine(int fd, std::chrono::seconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c;
      if (::read(fd, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return {};
  }

  static void End(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200 && ::waitpid(pid, nullptr, WNOHANG) != pid; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid, nullptr, WNOHANG) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    pid = -1;
  }

  void Stop() {
    End(openbox_);
    End(xvfb_);
  }

  std::string reason_;
  std::string display_;
  pid_t xvfb_ = -1;
  pid_t openbox_ = -1;
};

}  // namespace chimewick_test
