// A USB MIDI keyboard on a real sequencer: the test machine's USB gadget
// (vm/vm-init.sh) is plugged in and out, so its notes take the kernel path of
// any USB keyboard (snd-usb-audio, then the sequencer). Read through the MIDI
// classes, and through the whole program, whose sound is measured.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "AlsaLiveSupport.h"
#include "AudioMeasure.h"
#include "MidiTestSupport.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using alsa_live::SeqClient;
using alsa_live::UsbKeys;

// The sequencer client whose name holds part, once it is there.
int waitForClient(SeqClient& patchbay, const std::string& part, std::chrono::seconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    for (const SeqClient::Client& c : patchbay.clients())
      if (c.name.find(part) != std::string::npos) return c.client;
    std::this_thread::sleep_for(20ms);
  }
  return -1;
}

class AlsaUsbLive : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!alsa_live::haveSequencer()) GTEST_SKIP() << "skipped: no ALSA sequencer (/dev/snd/seq)";
    keys_ = UsbKeys::fromEnvironment();
    if (!keys_) GTEST_SKIP() << "skipped: no USB MIDI gadget (CHIMEWICK_TEST_USB_*; see vm/alsa-vm-test.sh)";
    setenv("CHIMEWICK_MIDI", "alsa", 1);
  }
  void TearDown() override {
    port_.reset();
    client_.reset();
    if (keys_) keys_->unplug();
    rb::ProcessEvents(10);
    setenv("CHIMEWICK_MIDI", "virtual", 1);
  }

  void open() {
    client_ = rb::New<RecordingClient>();
    client_->Init(NewCFStringZel("Chimewick"));
    ASSERT_EQ(client_->Lasterror(), 0);
    port_ = rb::New<RecordingPort>();
    client_->CreateInputPort(NewCFStringZel("ChimewickPort"), port_);
    ASSERT_NE(port_->Handle(), 0);
  }

  // The program's scan: lists every source and connects each one; the
  // keyboard's handle, or 0 when it is not listed.
  int32_t scan() {
    int32_t found = 0;
    for (int32_t i = 0; i < client_->NumberOfSources(); ++i) {
      rb::Ref<MidiEndpointZel> s = client_->GetSource(i);
      if (!s) continue;
      port_->ConnectSource(s);
      if (nameOf(s).Bytes().find(keys_->name()) != std::string::npos) found = s->Handle();
    }
    return found;
  }

  std::vector<Bytes> packetsFrom(int32_t source, size_t fromRead = 0) {
    std::vector<Bytes> packets;
    const auto reads = port_->log->snapshot();
    for (size_t i = fromRead; i < reads.size(); ++i)
      if (reads[i].source == source)
        packets.insert(packets.end(), reads[i].packets.begin(), reads[i].packets.end());
    return packets;
  }

  bool sawEvent(const std::string& name, int32_t child) {
    return std::any_of(client_->events->begin(), client_->events->end(),
                       [&](const ClientEvent& e) { return e.name == name && e.child == child; });
  }

  // Unplugs the keyboard with keys down; the last Read must let go of them.
  void unplugAndExpectRelease(int32_t keyboard, const std::vector<Bytes>& release) {
    const size_t from = port_->log->count();
    ASSERT_TRUE(keys_->unplug());
    ASSERT_TRUE(pumpUntil([&] { return sawEvent("ObjectRemoved", keyboard); }, 30s));
    EXPECT_TRUE(pumpUntil([&] { return packetsFrom(keyboard, from).size() >= release.size(); }, 10s));
    EXPECT_EQ(packetsFrom(keyboard, from), release);
    EXPECT_EQ(scan(), 0) << "an unplugged keyboard is no longer listed";
  }

  std::unique_ptr<UsbKeys> keys_;
  SeqClient patchbay_{"Patchbay", false};
  rb::Ref<RecordingClient> client_;
  rb::Ref<RecordingPort> port_;
};

TEST_F(AlsaUsbLive, AKeyboardPluggedInBeforeStartIsListedReadExactlyAndReleasedWhenUnplugged) {
  ASSERT_TRUE(keys_->plug());
  ASSERT_GE(waitForClient(patchbay_, keys_->name()), 0) << "the kernel makes no client for the keyboard";
  open();
  const int32_t keyboard = scan();
  ASSERT_NE(keyboard, 0) << "the first scan lists the keyboard";

  // Running status as a keyboard sends it (E4 and G4 on one status byte);
  // each message arrives as a packet with its own status.
  ASSERT_TRUE(keys_->play({0x90, 0x3C, 0x64, 0xB0, 0x40, 0x7F, 0x90, 0x40, 0x50, 0x43, 0x50, 0x80, 0x40,
                           0x00, 0xE0, 0x00, 0x40, 0xC0, 0x05, 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
  const std::vector<Bytes> expected = {
      {0x90, 0x3C, 0x64}, {0xB0, 0x40, 0x7F}, {0x90, 0x40, 0x50}, {0x90, 0x43, 0x50},
      {0x80, 0x40, 0x00}, {0xE0, 0x00, 0x40}, {0xC0, 0x05},       {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}};
  EXPECT_TRUE(pumpUntil([&] { return packetsFrom(keyboard).size() >= expected.size(); }, 10s));
  EXPECT_EQ(packetsFrom(keyboard), expected);

  // A patch dump: 1000 bytes of system exclusive, in pieces, in order.
  Bytes dump{0xF0, 0x43, 0x10};
  for (int i = 0; dump.size() < 999; ++i) dump.push_back(uint8_t(i & 0x7F));
  dump.push_back(0xF7);
  const size_t from = port_->log->count();
  ASSERT_TRUE(keys_->play(dump));
  Bytes joined;
  EXPECT_TRUE(pumpUntil(
      [&] {
        joined.clear();
        for (const Bytes& b : packetsFrom(keyboard, from)) joined.insert(joined.end(), b.begin(), b.end());
        return joined.size() >= dump.size();
      },
      10s));
  EXPECT_EQ(joined, dump);

  // Unplugged with C4 and G4 down and the pedal held.
  unplugAndExpectRelease(keyboard, {{0x80, 0x3C, 0x00}, {0x80, 0x43, 0x00}, {0xB0, 0x40, 0x00}});
}

TEST_F(AlsaUsbLive, AKeyboardPluggedInWhileRunningIsAnnouncedConnectedAndRead) {
  open();
  ASSERT_EQ(scan(), 0);
  ASSERT_TRUE(keys_->plug());
  // As the program does: every ObjectAdded runs the scan.
  int32_t keyboard = 0;
  size_t seen = 0;
  ASSERT_TRUE(pumpUntil(
      [&] {
        if (client_->events->size() > seen) {
          seen = client_->events->size();
          keyboard = scan();
        }
        return keyboard != 0 && sawEvent("ObjectAdded", keyboard);
      },
      30s));
  ASSERT_TRUE(keys_->play({0x91, 0x48, 0x64}));
  EXPECT_TRUE(pumpUntil([&] { return !packetsFrom(keyboard).empty(); }, 10s));
  EXPECT_EQ(packetsFrom(keyboard), (std::vector<Bytes>{{0x91, 0x48, 0x64}}));
  unplugAndExpectRelease(keyboard, {{0x81, 0x48, 0x00}});
}

#ifdef CHIMEWICK_PROGRAM

// The program, started with the given settings; its standard output and
// error go to logPath.
class Program {
 public:
  Program(const std::vector<std::string>& settings, const std::string& logPath) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const std::string key = entry.substr(0, entry.find('='));
      if (std::none_of(settings.begin(), settings.end(),
                       [&](const auto& s) { return s.rfind(key + "=", 0) == 0; }))
        environment.push_back(entry);
    }
    environment.insert(environment.end(), settings.begin(), settings.end());
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string path = CHIMEWICK_PROGRAM;
    char* argv[] = {path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ > 0; }
  // Asks it to quit as a desktop's log-out would; its exit status, or -1
  // when it had to be killed.
  int quit(std::chrono::seconds limit) {
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(50ms);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

struct Wav {
  double rate = 0;
  std::vector<float> mono;
};

// A 16-bit PCM WAV file, both channels averaged.
Wav readWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<char> bytes(size_t(std::max<std::streamoff>(0, in.tellg())));
  in.seekg(0);
  in.read(bytes.data(), std::streamsize(bytes.size()));
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
  };
  Wav wav;
  if (bytes.size() < 12 || std::string(bytes.data(), 4) != "RIFF") return wav;
  size_t channels = 2;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const std::string id(bytes.data() + at, 4);
    size_t size = u32(at + 4);
    if (id == "fmt " && at + 16 <= bytes.size()) {
      channels = uint8_t(bytes[at + 10]);
      wav.rate = u32(at + 12);
    }
    if (id == "data") {
      // A file still being written has no final size yet.
      if (size == 0 || size > bytes.size() - at - 8) size = bytes.size() - at - 8;
      for (size_t s = at + 8; s + 2 * channels <= at + 8 + size; s += 2 * channels) {
        float sum = 0;
        for (size_t c = 0; c < channels; ++c)
          sum += float(int16_t(uint8_t(bytes[s + 2 * c]) | uint8_t(bytes[s + 2 * c + 1]) << 8)) / 32768.0f;
        wav.mono.push_back(sum / float(channels));
      }
      break;
    }
    at += 8 + size + (size & 1);
  }
  return wav;
}

double dbfs(double level) { return level > 0 ? 20 * std::log10(level) : -120; }

// The loudest sample written to the WAV file (16-bit stereo after a 44-byte
// header) since the given second, in dBFS.
double peakSince(const std::string& path, double seconds, double rate) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(std::streamoff(44 + 4 * size_t(seconds * rate)));
  std::vector<int16_t> samples(4096);
  int peak = 0;
  while (in.read(reinterpret_cast<char*>(samples.data()), std::streamsize(samples.size() * 2)) ||
         in.gcount() > 0) {
    for (size_t i = 0; i < size_t(in.gcount()) / 2; ++i) peak = std::max(peak, std::abs(int(samples[i])));
    if (!in) break;
  }
  return dbfs(peak / 32768.0);
}

// Seconds of sound in the WAV file so far (16-bit stereo after a 44-byte header).
double wavSeconds(const std::string& path, double rate) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || st.st_size < 44) return 0;
  return double(st.st_size - 44) / (4.0 * rate);
}

TEST_F(AlsaUsbLive, TheProgramPlaysTheUsbKeyboardAndFallsSilentWhenItIsUnplugged) {
  char folder[] = "/tmp/chimewick-usb-live-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string dir = folder, wavPath = dir + "/out.wav", logPath = dir + "/program.log";
  ::mkdir((dir + "/config").c_str(), 0700);
  Program program({"CHIMEWICK_MIDI=alsa", "CHIMEWICK_AUDIO_OUTPUT=wav:" + wavPath,
                   "XDG_CONFIG_HOME=" + dir + "/config", "QT_QPA_PLATFORM=offscreen"},
                  logPath);
  ASSERT_TRUE(program.started());
  auto programLog = [&] {
    std::ifstream in(logPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };

  // Started: its input port is there and it renders.
  int32_t input = 0;
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (std::chrono::steady_clock::now() < deadline && (input == 0 || wavSeconds(wavPath, 48000) < 0.5)) {
    for (const SeqClient::Client& c : patchbay_.clients())
      for (const SeqClient::Port& p : c.ports)
        if (c.name == "Chimewick" && p.name == "ChimewickPort") input = alsa_live::handleOf(c.client, p.port);
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_NE(input, 0) << "the program never opened its input port\n" << programLog();
  const auto started = std::chrono::steady_clock::now();
  auto since = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  ASSERT_GT(wavSeconds(wavPath, 48000), 0.0) << programLog();

  ASSERT_TRUE(keys_->plug());
  const auto connectBy = std::chrono::steady_clock::now() + 60s;
  while (patchbay_.writersOf(input) == 0 && std::chrono::steady_clock::now() < connectBy)
    std::this_thread::sleep_for(50ms);
  ASSERT_GT(patchbay_.writersOf(input), 0) << "the program did not connect the keyboard\n" << programLog();
  const double connectedAfter = since();

  // Until the program has finished starting, a note goes nowhere: a probe
  // note is struck until it is heard, then let go.
  bool heard = false;
  for (int attempt = 0; attempt < 60 && !heard; ++attempt) {
    const double probe = wavSeconds(wavPath, 48000);
    ASSERT_TRUE(keys_->play({0x90, 0x48, 0x60}));
    std::this_thread::sleep_for(1000ms);
    heard = peakSince(wavPath, probe, 48000) > -40;
  }
  ASSERT_TRUE(heard) << "the program never played the keyboard\n" << programLog();
  std::printf(
      "program: renders and has its port; keyboard connected after %.1f s, first heard after %.1f s\n",
      connectedAfter, since());
  ASSERT_TRUE(keys_->play({0x80, 0x48, 0x00}));
  std::this_thread::sleep_for(1500ms);

  // C4 on the instrument the program starts with (an organ, which sounds
  // as long as the key is down), then the keyboard is pulled out with the key
  // down.
  ASSERT_TRUE(keys_->play({0x90, 0x3C, 0x7F}));
  const double keyDown = wavSeconds(wavPath, 48000);
  std::this_thread::sleep_for(2500ms);

  const double unplugged = wavSeconds(wavPath, 48000);
  ASSERT_TRUE(keys_->unplug());
  std::this_thread::sleep_for(3000ms);
  const double end = wavSeconds(wavPath, 48000);
  EXPECT_EQ(program.quit(60s), 0) << programLog();

  const Wav wav = readWav(wavPath);
  ASSERT_GT(wav.rate, 0) << "no WAV written";
  auto part = [&](double from, double to) {
    return audio_measure::Slice(wav.mono, size_t(std::max(0.0, from) * wav.rate), size_t(to * wav.rate));
  };
  const std::vector<float> held = part(keyDown + 0.5, unplugged - 0.2);
  const std::vector<float> after = part(unplugged + 1.5, end);
  ASSERT_GT(held.size(), size_t(wav.rate / 2))
      << "the note was held " << unplugged - keyDown << " s of sound";
  ASSERT_GT(after.size(), size_t(wav.rate / 2));
  const double heldLevel = dbfs(audio_measure::Rms(held));
  const double afterLevel = dbfs(audio_measure::Peak(after));
  // C4 (261.6 Hz) stands out of its neighbourhood: far stronger than the
  // semitones either side. (The organ's lowest stop sounds an octave down.)
  const std::vector<double> bands =
      audio_measure::BandEnergies(audio_measure::MagnitudeSpectrum(held, 16384), wav.rate,
                                  {240.0, 254.2, 269.3, 285.3});  // quarter tones round B3, C4, C#4
  std::printf(
      "program: C4 held %.1f dBFS RMS, C4 band %.3f of B3..C#4 (B3 %.3f, C#4 %.3f); "
      "%.1f s after the unplug %.1f dBFS peak\n",
      heldLevel, bands[1], bands[0], bands[2], end - unplugged, afterLevel);
  EXPECT_GT(heldLevel, -40.0) << "the keyboard's note is not heard\n" << programLog();
  EXPECT_GT(bands[1], 10 * std::max(bands[0], bands[2])) << "C4 is not what sounds";
  EXPECT_LT(afterLevel, -60.0) << "the note hangs after the keyboard was unplugged";
}

#endif

}  // namespace
