// The output unit: null and wav:PATH render on a clock; the device outputs
// play through real (private) servers; no output means a failed start.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioMeasure.h"
#include "ChildProcess.h"
#include "GraphTestSupport.h"
#include "PrivateJackServer.h"

namespace chimewick::audio::testing {
using chimewick_test::ChildProcess;
using chimewick_test::PrivateJackServer;
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Outputs : public ::testing::Test {
 protected:
  Outputs() {
    folder_ = fs::temp_directory_path() / ("chimewick-audio-out-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  ~Outputs() override { fs::remove_all(folder_); }
  fs::path folder_;
};

std::vector<unsigned char> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

uint32_t littleEndian(const unsigned char* at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

// The peak of 16-bit interleaved samples, 0..1.
double peakOf(const unsigned char* samples, size_t bytes) {
  double peak = 0.0;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const auto sample = int16_t(uint16_t(samples[i] | (samples[i + 1] << 8)));
    peak = std::max(peak, std::abs(double(sample)) / 32768.0);
  }
  return peak;
}

void playANote(PlayerGraph& player, std::chrono::milliseconds length) {
  player.select(16);  // Organ 1: sustains while the key is down
  player.send(0x90, 69, 110);
  std::this_thread::sleep_for(length);
  player.send(0x80, 69, 0);
}

TEST_F(Outputs, NullRendersOnAClockAndReportsItsLoadUntilStopped) {
  ScopedEnvironment output("CHIMEWICK_AUDIO_OUTPUT", "null");
  ::testing::internal::CaptureStderr();
  PlayerGraph player;
  const std::string said = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(player.status, 0);
  EXPECT_NE(said.find("output null: 48000 Hz"), std::string::npos) << said;
  EXPECT_NE(said.find("renders 256 frames a buffer"), std::string::npos) << said;
  playANote(player, 200ms);
  float load = -1.0f;
  ASSERT_EQ(AUGraphGetCPULoad(player.graph, &load), 0);
  std::printf("CPU load with one note on the null output: %.4f\n", load);
  EXPECT_GT(load, 0.0f);
  EXPECT_LT(load, 2.0f);  // generous: sanitizers slow rendering many times over
  ASSERT_EQ(AUGraphStop(player.graph), 0);
  ASSERT_EQ(AUGraphGetCPULoad(player.graph, &load), 0);
  EXPECT_EQ(load, 0.0f);
  // A stopped graph starts again.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(AUGraphStart(player.graph), 0);
  ::testing::internal::GetCapturedStderr();
}

// The program side of the next test, run in a fresh process of this binary
// before any test: a forked test process would inherit an OpenMP thread pool
// (FluidSynth loads SoundFonts with one) whose threads the fork left behind,
// and its next SoundFont load would wait for them for ever.
constexpr const char* kExitWavVariable = "CHIMEWICK_TEST_EXIT_WITH_GRAPH_WAV";

[[maybe_unused]] const bool kExitsWithAGraphRunning = [] {
  const char* path = std::getenv(kExitWavVariable);
  if (path == nullptr) return false;
  ScopedEnvironment output("CHIMEWICK_AUDIO_OUTPUT", std::string("wav:") + path);
  auto player = std::make_unique<PlayerGraph>();
  if (player->status != 0) std::exit(3);
  playANote(*player, 100ms);
  // As a program that never releases its player (kept reachable, so the
  // leak checker does not count it).
  static PlayerGraph* kept = player.release();
  (void)kept;
  std::exit(0);
}();

TEST_F(Outputs, ExitingWithAGraphStillRunningStopsItCleanly) {
  const fs::path path = folder_ / "at-exit.wav";
  int exitCode = -1;
  {
    ScopedEnvironment wav(kExitWavVariable, path.string());
    ChildProcess program({fs::read_symlink("/proc/self/exe").string()});
    ASSERT_TRUE(program.started());
    exitCode = program.wait();
  }
  EXPECT_EQ(exitCode, 0);
  // The file was completed on the way out.
  const std::vector<unsigned char> file = readFile(path);
  ASSERT_GT(file.size(), 44u);
  EXPECT_EQ(littleEndian(file.data() + 40, 4), file.size() - 44);
}

TEST_F(Outputs, WavWritesAPlayableFileHoldingTheSound) {
  const fs::path path = folder_ / "out.wav";
  ScopedEnvironment output("CHIMEWICK_AUDIO_OUTPUT", "wav:" + path.string());
  {
    ::testing::internal::CaptureStderr();
    PlayerGraph player;
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(player.status, 0);
    playANote(player, 300ms);
  }
  const std::vector<unsigned char> file = readFile(path);
  ASSERT_GT(file.size(), 44u);
  const unsigned char* h = file.data();
  EXPECT_EQ(std::memcmp(h, "RIFF", 4), 0);
  EXPECT_EQ(littleEndian(h + 4, 4), file.size() - 8);
  EXPECT_EQ(std::memcmp(h + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(littleEndian(h + 16, 4), 16u);
  EXPECT_EQ(littleEndian(h + 20, 2), 1u) << "PCM";
  EXPECT_EQ(littleEndian(h + 22, 2), 2u) << "stereo";
  EXPECT_EQ(littleEndian(h + 24, 4), 48000u);
  EXPECT_EQ(littleEndian(h + 28, 4), 48000u * 4);
  EXPECT_EQ(littleEndian(h + 32, 2), 4u);
  EXPECT_EQ(littleEndian(h + 34, 2), 16u);
  EXPECT_EQ(std::memcmp(h + 36, "data", 4), 0);
  EXPECT_EQ(littleEndian(h + 40, 4), file.size() - 44);
  // About the 0.3 s played, rendered on the clock (the sanitizers may slow it).
  const double seconds = double(file.size() - 44) / (48000 * 4);
  EXPECT_GT(seconds, 0.15);
  EXPECT_LT(seconds, 5.0);
  EXPECT_GT(peakOf(h + 44, file.size() - 44), 0.02);
}

TEST_F(Outputs, NoOutputFailsTheStartWithTheReason) {
  struct Case {
    const char* name;
    std::string setting;
    const char* reason;
  };
  const Case cases[] = {
      {"an unknown output", "speakers", "is none of"},
      {"wav without a path", "wav:", "names no file"},
      {"wav into a missing folder", "wav:" + (folder_ / "no" / "such" / "out.wav").string(), "No such file"},
      {"a JACK server that does not run", "jack", "the jack output does not open"},
      {"a PulseAudio server that does not run", "pulseaudio", "the pulseaudio output does not open"},
  };
  // Servers that cannot be there: JACK's by a name nobody uses, PulseAudio's by a socket that does not exist.
  ScopedEnvironment jackServer("JACK_DEFAULT_SERVER", "chimewick-none-" + std::to_string(::getpid()));
  ScopedEnvironment jackStart("JACK_NO_START_SERVER", "1");
  ScopedEnvironment pulseServer("PULSE_SERVER", "unix:" + (folder_ / "no-pulse").string());
  for (const Case& c : cases) {
    ScopedEnvironment output("CHIMEWICK_AUDIO_OUTPUT", c.setting);
    ::testing::internal::CaptureStderr();
    {
      PlayerGraph player;
      EXPECT_EQ(player.status, kAudioErr_NoOutputDevice) << c.name;
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(c.reason), std::string::npos) << c.name << " said: " << said;
  }
}

// The automatic choice never starts a JACK server, and tells JACK so through
// the client's own option: the process's environment, which other threads
// read, is left as it was.
TEST_F(Outputs, TheAutomaticChoiceLeavesTheEnvironmentAlone) {
  ScopedEnvironment jackServer("JACK_DEFAULT_SERVER", "chimewick-none-" + std::to_string(::getpid()));
  ScopedEnvironment pulseServer("PULSE_SERVER", "unix:" + (folder_ / "no-pulse").string());
  ScopedEnvironment output("CHIMEWICK_AUDIO_OUTPUT", "auto");
  {
    ScopedEnvironment noStart("JACK_NO_START_SERVER", "");
    ::unsetenv("JACK_NO_START_SERVER");
    ::testing::internal::CaptureStderr();
    { PlayerGraph player; }
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::getenv("JACK_NO_START_SERVER"), nullptr);
  }
}

// A private PulseAudio server with a null sink; skips the test when it
// cannot start.
class PrivatePulseAudio {
 public:
  explicit PrivatePulseAudio(const fs::path& folder)
      : home_("HOME", (folder / "home").string()),
        runtime_("XDG_RUNTIME_DIR", (folder / "run").string()),
        pulseRuntime_("PULSE_RUNTIME_PATH", (folder / "run" / "pulse").string()),
        server_("PULSE_SERVER", "unix:" + (folder / "run" / "native").string()),
        socket_(folder / "run" / "native") {
    fs::create_directories(folder / "home");
    fs::create_directories(folder / "run" / "pulse");
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                 "--disallow-exit", "--use-pid-file=no", "-L", "module-null-sink", "-L",
                                 "module-native-protocol-unix auth-anonymous=1 socket=" + socket_.string()});
  }
  // Whether the server answers within a few seconds.
  bool ready() {
    for (int i = 0; i < 100 && daemon_->running(); ++i) {
      if (fs::exists(socket_)) {
        ChildProcess info({"pactl", "info"});
        if (info.wait() == 0) return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

 private:
  ScopedEnvironment home_, runtime_, pulseRuntime_, server_;
  fs::path socket_;
  std::unique_ptr<ChildProcess> daemon_;
};

TEST_F(Outputs, AutoPlaysANoteThroughAPrivatePulseAudioServer) {
  PrivatePulseAudio pulse(folder_);
  if (!pulse.ready()) GTEST_SKIP() << "a private PulseAudio server does not start here";
  const fs::path recording = folder_ / "recorded.raw";
  // A short latency, so that what it heard is written out before it stops.
  ChildProcess recorder({"parec", "-d", "null.monitor", "--raw", "--format=s16le", "--rate=48000",
                         "--channels=2", "--latency-msec=20"},
                        recording.string());
  if (!recorder.started()) GTEST_SKIP() << "parec (pulseaudio-utils) is not installed";
  // The recorder takes a moment before it writes anything; the note waits for it.
  auto recordedBytes = [&] { return fs::exists(recording) ? fs::file_size(recording) : 0; };
  for (int i = 0; i < 100 && recordedBytes() == 0; ++i) std::this_thread::sleep_for(50ms);
  if (recordedBytes() == 0) GTEST_SKIP() << "parec records nothing from the private server";
  const uintmax_t before = recordedBytes();
  ScopedEnvironment output("CHIMEWICK_AUDIO_OUTPUT", "auto");
  ::testing::internal::CaptureStderr();
  {
    PlayerGraph player;
    ASSERT_EQ(player.status, 0);
    playANote(player, 800ms);
    std::this_thread::sleep_for(200ms);
  }
  const std::string said = ::testing::internal::GetCapturedStderr();
  std::printf("%s", said.c_str());
  EXPECT_NE(said.find("output pulseaudio"), std::string::npos) << said;
  // Until the recording holds the whole note (about a second of 4-byte frames).
  for (int i = 0; i < 100 && recordedBytes() < before + 48000 * 4; ++i) std::this_thread::sleep_for(50ms);
  recorder.stop();
  const std::vector<unsigned char> sound = readFile(recording);
  const double peak = peakOf(sound.data(), sound.size());
  std::printf("recorded %.2f s from the null sink, peak %.3f\n", double(sound.size()) / (48000 * 4), peak);
  EXPECT_GT(peak, 0.01);
}

// The pitch of the sustained note playANote plays, rendered offline at 48 kHz.
double referencePitch() {
  AudioSetOfflineRenderingForTesting(true);
  double pitch = 0.0;
  {
    PlayerGraph player;
    player.select(16);
    player.send(0x90, 69, 110);
    const std::vector<float> sound = player.renderLeft(48000);
    pitch = audio_measure::FrequencyByAutocorrelation(audio_measure::Slice(sound, 9600, 48000), 48000.0, 100,
                                                      2000);
  }
  AudioSetOfflineRenderingForTesting(false);
  return pitch;
}

TEST_F(Outputs, JackPlaysANoteThroughAPrivateDummyServerAtItsOwnRate) {
  const double reference = referencePitch();
  ASSERT_GT(reference, 100.0);
  // A rate other than the graph's own 48 kHz: the graph must follow it.
  PrivateJackServer jackd(256, 44100);
  if (!jackd.start()) CHIMEWICK_LIVE_SKIP(jackd.reason());
  ScopedEnvironment output("CHIMEWICK_AUDIO_OUTPUT", "jack");
  // Every client that comes while the graph starts: the program's one, and
  // no second one to learn the rate.
  struct Arrivals {
    std::mutex mutex;
    std::vector<std::string> names;
  } arrivals;
  jack_client_t* watcher = jack_client_open("watcher", JackNoStartServer, nullptr);
  ASSERT_NE(watcher, nullptr);
  jack_set_client_registration_callback(
      watcher,
      [](const char* name, int registered, void* arg) {
        auto* a = static_cast<Arrivals*>(arg);
        std::lock_guard lock(a->mutex);
        if (registered) a->names.emplace_back(name);
      },
      &arrivals);
  ASSERT_EQ(jack_activate(watcher), 0);
  ::testing::internal::CaptureStderr();
  PlayerGraph player;
  const std::string said = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(player.status, 0) << said;
  EXPECT_NE(said.find("output jack: 44100 Hz"), std::string::npos) << said;
  std::this_thread::sleep_for(100ms);
  {
    std::lock_guard lock(arrivals.mutex);
    EXPECT_EQ(arrivals.names, std::vector<std::string>{"Chimewick"}) << "more than the program's one client";
  }
  jack_client_close(watcher);
  double rate = 0.0;
  ASSERT_EQ(AUGraphGetSampleRate(player.graph, &rate), 0);
  EXPECT_EQ(rate, 44100.0);
  const fs::path recording = folder_ / "jack.wav";
  ChildProcess recorder(
      {"jack_rec", "-f", recording.string(), "-d", "1", "Chimewick:left", "Chimewick:right"});
  if (!recorder.started()) GTEST_SKIP() << "jack_rec (jackd2) is not installed";
  std::this_thread::sleep_for(100ms);
  playANote(player, 900ms);
  recorder.wait();
  const std::vector<unsigned char> file = readFile(recording);
  ASSERT_GT(file.size(), 44u) << "jack_rec recorded nothing";
  ASSERT_EQ(littleEndian(file.data() + 34, 2), 16u) << "jack_rec wrote another sample format";
  EXPECT_EQ(littleEndian(file.data() + 24, 4), 44100u);
  std::vector<float> left;
  for (size_t i = 44; i + 3 < file.size(); i += 4)
    left.push_back(float(int16_t(uint16_t(file[i] | (file[i + 1] << 8)))) / 32768.0f);
  const double peak = audio_measure::Peak(left);
  // The loudest half second holds the sustained note.
  size_t loudest = 0;
  for (size_t i = 0; i < left.size(); ++i)
    if (std::fabs(left[i]) >= peak * 0.999) loudest = i;
  const size_t from = loudest > 22050 ? loudest - 22050 : 0;
  const double pitch = audio_measure::FrequencyByAutocorrelation(
      audio_measure::Slice(left, from, from + 22050), 44100.0, 100, 2000);
  std::printf("recorded from JACK at 44.1 kHz: peak %.3f, pitch %.2f Hz (48 kHz offline: %.2f Hz)\n", peak,
              pitch, reference);
  EXPECT_GT(peak, 0.02);
  EXPECT_NEAR(pitch / reference, 1.0, 0.005);
}

}  // namespace
}  // namespace chimewick::audio::testing
