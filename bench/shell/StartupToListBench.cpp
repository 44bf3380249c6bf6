// Prints the time from process start to the main window's instrument list
// filled, headless (offscreen, null audio, virtual MIDI, the default
// SoundFont): the median, minimum and maximum of 20 fresh processes, each
// running the program's own start-up steps up to the event loop. The time
// runs from just before the fork to the child's report, both read on the
// system's monotonic clock.
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PlaybackEntrypoints.h"
#include "ProcessLife.h"
#include "Resources.h"
#include "TemporaryFolder.h"
#include "Window1.h"
#include "rb/PluginHost.h"
#include "rb/Runtime.h"

namespace {

constexpr int kRuns = 20;

// The system's monotonic clock in milliseconds: the same in every process.
double MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return 1e3 * double(now.tv_sec) + 1e-6 * double(now.tv_nsec);
}

// One start-up in this process; prints milliseconds to stdout.
int RunOnce(int argc, char** argv) {
  rb::RuntimeInit(argc, argv);
  chimewick::InitResources();
  rb::LoadPlugins(rb::DefaultPluginFolder());
  _InitPluginEntrypoints();
  _InitFileTypes();
  _NewAppInstance();
  _ApplicationAddMenuHandlers();
  _MakeDefaultView();  // its Open fills the instrument list
  const double ms = MonotonicMs();
  const int rows = Window1Accessor()->InstrumentsList()->ListCount();
  std::printf("%.3f %d\n", ms, rows);
  std::fflush(stdout);
  std::_Exit(0);  // the figure is taken; skip the shutdown
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--once") return RunOnce(argc, argv);

  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 1);
  setenv("CHIMEWICK_MIDI", "virtual", 1);
  const chimewick_test::PrivateConfigFolder config("bench");

  std::vector<double> runs;
  int rows = 0;
  for (int i = 0; i < kRuns; ++i) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 1;
    const double forked = MonotonicMs();
    const pid_t child = fork();
    if (child == 0) {
      dup2(pipeFds[1], 1);
      const int devnull = ::open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, 2);
      execl("/proc/self/exe", argv[0], "--once", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeFds[1]);
    char buffer[128] = {};
    const ssize_t got = read(pipeFds[0], buffer, sizeof buffer - 1);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    double ms = 0;
    if (got > 0 && std::sscanf(buffer, "%lf %d", &ms, &rows) == 2) runs.push_back(ms - forked);
  }
  if (runs.empty()) {
    std::puts("start-up benchmark: no run reported");
    return 1;
  }
  std::sort(runs.begin(), runs.end());
  std::printf(
      "process start to instrument list filled (%d rows), %zu runs: median %.1f ms, min %.1f ms, max %.1f "
      "ms\n",
      rows, runs.size(), runs[runs.size() / 2], runs.front(), runs.back());
  return 0;
}
