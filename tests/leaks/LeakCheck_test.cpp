// The leak check sees a C handle of ours left open: a small program opens one
// handle of each kind the program uses and leaves it open at exit, and the
// leak check, with the project's suppressions applied, must report it inside
// that handle's library. The same program releasing its handle must pass
// clean, so the libraries' one-time allocations are not mistaken for leaks.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "ChildProcess.h"
#include "PrivateJackServer.h"
#include "ScopedEnvironment.h"
#include "TemporaryFolder.h"

namespace {

using chimewick_test::ChildProcess;
using chimewick_test::PrivateJackServer;
using chimewick_test::ScopedEnvironment;
using chimewick_test::TemporaryFolder;

constexpr int kCannotOpen = 77;  // the planted program's status when the handle cannot be had here

struct Kind {
  const char* name;     // the planted program's kind
  const char* library;  // the library the report must point into
  bool needsJack;       // opened against a private JACK server
  bool reported;        // whether a leak check that scans memory can see it at all
};

void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.name; }

struct PlantedRun {
  int status = -1;
  std::string errors;
};

// Whether some leak of the report was allocated by the library: the first
// frame past the allocator (frame #1) lies in it.
bool AllocatedIn(const std::string& report, const std::string& library) {
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);)
    if (line.find(" #1 ") != std::string::npos && line.find(library) != std::string::npos) return true;
  return false;
}

class LeakCheck : public ::testing::TestWithParam<Kind> {
 protected:
  // Runs the planted program under the leak check with the project's
  // suppressions; release: it closes its handle before it ends.
  PlantedRun Plant(bool release) {
    const ScopedEnvironment asan("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0");
    const ScopedEnvironment lsan("LSAN_OPTIONS",
                                 "suppressions=" CHIMEWICK_LSAN_SUPPRESSIONS ":print_suppressions=0");
    const auto errorFile = folder_ / "stderr.txt";
    std::vector<std::string> argv = {CHIMEWICK_PLANTED_LEAK, GetParam().name};
    if (release) argv.push_back("release");
    PlantedRun run;
    run.status = ChildProcess(argv, "/dev/null", errorFile.string()).wait();
    std::ifstream in(errorFile);
    std::stringstream text;
    text << in.rdbuf();
    run.errors = text.str();
    return run;
  }

  TemporaryFolder folder_{"leak-check"};
};

TEST_P(LeakCheck, AHandleLeftOpenIsReportedAndAReleasedOneIsNot) {
  const Kind& kind = GetParam();
  std::optional<PrivateJackServer> jack;
  if (kind.needsJack) {
    jack.emplace();
    if (!jack->start()) CHIMEWICK_LIVE_SKIP(jack->reason());
  }

  const PlantedRun leaked = Plant(false);
  if (leaked.status == kCannotOpen) GTEST_SKIP() << "skipped: " << leaked.errors;
  const bool reported = leaked.errors.find("LeakSanitizer: detected memory leaks") != std::string::npos;
  EXPECT_EQ(reported, kind.reported) << leaked.errors;
  if (kind.reported) {
    EXPECT_NE(leaked.status, 0) << "a leak fails the run";
    EXPECT_TRUE(AllocatedIn(leaked.errors, kind.library)) << leaked.errors;
  }

  const PlantedRun released = Plant(true);
  EXPECT_EQ(released.status, 0) << released.errors;
  EXPECT_EQ(released.errors.find("LeakSanitizer"), std::string::npos) << released.errors;
}

const Kind kKinds[] = {
    {"fluidsynth-synth", "libfluidsynth.so", false, true},
    // Needs the kernel's sequencer (/dev/snd/seq); where there is none the two
    // ALSA handles below, which open anywhere, stand in for it: the MIDI
    // event parser the ALSA backend owns, and a device handle opened through
    // the same configuration path as the sequencer (the "null" PCM).
    {"alsa-sequencer", "libasound.so", false, true},
    {"alsa-midi-event", "libasound.so", false, true},
    {"alsa-null-pcm", "libasound.so", false, true},
    // libjack lists every open client in a table of its own for as long as
    // the process lives, so no leak check that scans memory can see a client
    // left open, suppressions or not. Pinned here so that nobody counts on
    // it; the JACK handle the leak check does see is the ring buffer below,
    // which the JACK MIDI backend owns.
    {"jack-client", "libjack.so", true, false},
    {"jack-ringbuffer", "libjack.so", false, true},
    {"curl-easy", "libcurl.so", false, true},
    {"pcre2-code", "libpcre2-8.so", false, true},
};

INSTANTIATE_TEST_SUITE_P(PlantedHandles, LeakCheck, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c)
                             if (*c != '-') name += *c;
                           return name;
                         });

}  // namespace
