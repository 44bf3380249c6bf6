// A private JACK server for the benchmarks (the dummy driver: no sound card),
// under a name nobody else uses, and helpers to look at a process's threads.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

// Starts a program with the current environment, its output to /dev/null
// (or a file); its process id, -1 when it does not start. With input, its
// standard input is a pipe whose writing end *input receives (a program that
// ends at the end of its input runs until that is closed).
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& output = "/dev/null",
                   int* input = nullptr) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int fds[2] = {-1, -1};
  if (input != nullptr && pipe2(fds, O_CLOEXEC) == 0) {
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    *input = fds[1];
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (fds[0] >= 0) ::close(fds[0]);
  return pid;
}

// Ends a program: SIGTERM, then SIGKILL after two seconds.
inline void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

class JackServer {
 public:
  JackServer(int period, int rate) {
    std::random_device seed;
    name_ = "chimewick-bench-" + std::to_string(::getpid()) + "-" + std::to_string(seed() % 1000000);
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    pid_ = Spawn({"jackd", "-n", name_, "-t", "5000", "-d", "dummy", "-r", std::to_string(rate), "-p",
                  std::to_string(period)});
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      if (jack_client_t* probe = jack_client_open("probe", JackNoStartServer, nullptr)) {
        jack_client_close(probe);
        running_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    jack_set_error_function(nullptr);
    jack_set_info_function(nullptr);
  }
  ~JackServer() {
    Stop(pid_);
    unsetenv("JACK_DEFAULT_SERVER");
  }
  bool running() const { return running_; }

 private:
  std::string name_;
  pid_t pid_ = -1;
  bool running_ = false;
};

// CPU time a process has used (user + system), in seconds.
inline double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i == 14 || i == 15) ticks += std::stod(field);
  return ticks / double(sysconf(_SC_CLK_TCK));
}

// Each thread of a process: its name and how often it has been woken
// (voluntary and involuntary context switches).
struct ThreadWakeups {
  std::string name;
  long switches = 0;
};
inline std::map<int, ThreadWakeups> Threads(pid_t pid) {
  std::map<int, ThreadWakeups> threads;
  const std::string folder = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return threads;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string task = folder + "/" + entry->d_name;
    ThreadWakeups t;
    std::getline(std::ifstream(task + "/comm"), t.name);
    std::ifstream status(task + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) t.switches += std::stol(line.substr(24));
      if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) t.switches += std::stol(line.substr(27));
    }
    threads[std::atoi(entry->d_name)] = t;
  }
  closedir(dir);
  return threads;
}

}  // namespace bench
