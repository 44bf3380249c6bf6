// The jack output: two audio outputs ("left", "right") of the program's one
// JACK client (chimewick/JackSession.h), rendered in the client's own cycle
// after the MIDI inputs of the same cycle have been delivered.
#include <algorithm>
#include <array>
#include <atomic>

#include "AudioLog.h"
#include "OutputDevice.h"
#include "RenderEngine.h"
#include "chimewick/JackSession.h"

namespace chimewick::audio {

namespace {

class JackOutput final : public OutputDevice, public jack::Member {
 public:
  JackOutput(std::shared_ptr<jack::Session> session, RenderEngine& engine)
      : session_(std::move(session)), engine_(engine) {
    grant_.device = "jack";
    grant_.sampleRate = session_->sampleRate();
    grant_.periodFrames = static_cast<int>(session_->bufferSize());
    grant_.periods = 0;  // the server's, not ours to ask
  }

  ~JackOutput() override {
    session_->leave(*this);
    session_->withClient([&](jack_client_t* client) {
      for (auto& port : ports_) jack::Session::unregisterPort(client, port.exchange(nullptr));
    });
  }

  const OutputGrant& grant() const override { return grant_; }

  // Registers the two outputs, joins the cycle and connects to the
  // speakers. False with the reason on standard error. UI thread.
  bool start() {
    bool registered = false;
    session_->withClient([&](jack_client_t* client) { registered = registerPorts(client); });
    if (!registered) {
      logLine("the jack output cannot register its ports on the JACK client");
      return false;
    }
    session_->join(*this, jack::Place::Output);
    session_->withClient([&](jack_client_t* client) { connectToSpeakers(client); });
    return true;
  }

  // One cycle: renders into the two outputs. JACK's real-time thread, after
  // the cycle's MIDI.
  void process(jack_nframes_t frames) noexcept override {
    jack_port_t* left = ports_[0].load(std::memory_order_acquire);
    jack_port_t* right = ports_[1].load(std::memory_order_acquire);
    if (left == nullptr || right == nullptr) return;
    auto* l = static_cast<float*>(jack_port_get_buffer(left, frames));
    auto* r = static_cast<float*>(jack_port_get_buffer(right, frames));
    if (l == nullptr || r == nullptr) return;
    for (jack_nframes_t done = 0; done < frames;) {
      const int block =
          static_cast<int>(std::min<jack_nframes_t>(frames - done, RenderEngine::kMaxBlockFrames));
      engine_.render(block, l + done, r + done);
      done += static_cast<jack_nframes_t>(block);
    }
  }

  void serverLost() override {
    for (auto& port : ports_) port.store(nullptr, std::memory_order_release);
  }

  // The synthesizer keeps the rate it was made at: a server back at another
  // rate would play everything off pitch, so then the output stays silent.
  void serverBack(jack_client_t*) override {
    if (session_->sampleRate() != static_cast<uint32_t>(grant_.sampleRate)) {
      logLine("the JACK server came back at %u Hz, not %.0f Hz; the jack output stays silent until restart",
              session_->sampleRate(), grant_.sampleRate);
      return;
    }
    bool registered = false;
    session_->withClient([&](jack_client_t* client) { registered = registerPorts(client); });
    if (registered) session_->withClient([&](jack_client_t* client) { connectToSpeakers(client); });
  }

 private:
  bool registerPorts(jack_client_t* client) {
    const char* names[2] = {"left", "right"};
    jack_port_t* made[2] = {nullptr, nullptr};
    for (int i = 0; i < 2; ++i) {
      made[i] = jack_port_register(client, names[i], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
      if (made[i] == nullptr) {
        if (i == 1) jack::Session::unregisterPort(client, made[0]);
        return false;
      }
    }
    for (int i = 0; i < 2; ++i) ports_[static_cast<size_t>(i)].store(made[i], std::memory_order_release);
    return true;
  }

  // Like FluidSynth's JACK driver: left to the first playback port of the
  // hardware, right to the second.
  void connectToSpeakers(jack_client_t* client) {
    const char** speakers =
        jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    if (speakers == nullptr) return;
    for (size_t i = 0; i < 2 && speakers[i] != nullptr; ++i) {
      jack_port_t* port = ports_[i].load(std::memory_order_acquire);
      if (port != nullptr) jack_connect(client, jack_port_name(port), speakers[i]);
    }
    jack_free(speakers);
  }

  std::shared_ptr<jack::Session> session_;
  RenderEngine& engine_;
  OutputGrant grant_;
  std::array<std::atomic<jack_port_t*>, 2> ports_{};
};

}  // namespace

std::unique_ptr<OutputDevice> openJackOutput(const std::string&, RenderEngine& engine, double) {
  int32_t status = 0;
  std::shared_ptr<jack::Session> session = jack::Session::open("Chimewick", status);
  if (!session) {
    logLine("the jack output does not open: no JACK server runs (status %d)", status);
    return nullptr;
  }
  auto output = std::make_unique<JackOutput>(std::move(session), engine);
  if (!output->start()) return nullptr;
  return output;
}

}  // namespace chimewick::audio
