// A small program that opens one C handle of a kind the program uses and,
// unless told to release it, leaves it open at exit: the leak check must
// report it with the project's suppressions applied.
//
//   planted_leak KIND [release]
//
// Exit status 0 when the handle was opened (a leak report, if any, changes
// that), 77 when it cannot be opened on this machine (the reason on standard
// error), 2 for an unknown kind.
#include <alsa/asoundlib.h>
#include <curl/curl.h>
#include <fluidsynth.h>
#include <jack/jack.h>
#include <jack/ringbuffer.h>
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>

namespace {

constexpr int kCannotOpen = 77;

int Finish(bool release, const std::function<void()>& close) {
  if (release) close();
  return 0;
}

int FluidSynthSynth(bool release) {
  fluid_settings_t* settings = new_fluid_settings();
  fluid_synth_t* synth = settings ? new_fluid_synth(settings) : nullptr;
  if (synth == nullptr) return std::fprintf(stderr, "no FluidSynth synth\n"), kCannotOpen;
  return Finish(release, [&] {
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
  });
}

int AlsaSequencer(bool release) {
  snd_seq_t* seq = nullptr;
  if (const int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK); err < 0)
    return std::fprintf(stderr, "no ALSA sequencer: %s\n", snd_strerror(err)), kCannotOpen;
  return Finish(release, [&] { snd_seq_close(seq); });
}

int AlsaMidiEventParser(bool release) {
  snd_midi_event_t* parser = nullptr;
  if (snd_midi_event_new(256, &parser) < 0) return std::fprintf(stderr, "no parser\n"), kCannotOpen;
  return Finish(release, [&] { snd_midi_event_free(parser); });
}

int AlsaNullPcm(bool release) {
  snd_pcm_t* pcm = nullptr;
  if (const int err = snd_pcm_open(&pcm, "null", SND_PCM_STREAM_PLAYBACK, 0); err < 0)
    return std::fprintf(stderr, "no ALSA null device: %s\n", snd_strerror(err)), kCannotOpen;
  return Finish(release, [&] { snd_pcm_close(pcm); });
}

int JackClient(bool release) {
  jack_status_t status{};
  jack_client_t* client = jack_client_open("planted-leak", JackNoStartServer, &status);
  if (client == nullptr) return std::fprintf(stderr, "no JACK server (status 0x%x)\n", status), kCannotOpen;
  return Finish(release, [&] { jack_client_close(client); });
}

int JackRingbuffer(bool release) {
  jack_ringbuffer_t* ring = jack_ringbuffer_create(4096);
  if (ring == nullptr) return kCannotOpen;
  return Finish(release, [&] { jack_ringbuffer_free(ring); });
}

int CurlEasy(bool release) {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) return std::fprintf(stderr, "no curl handle\n"), kCannotOpen;
  return Finish(release, [&] {
    curl_easy_cleanup(easy);
    curl_global_cleanup();
  });
}

int Pcre2Code(bool release) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>("<Pitch>(.*?)</Pitch>"), PCRE2_ZERO_TERMINATED,
                    PCRE2_CASELESS | PCRE2_DOTALL, &error, &offset, nullptr);
  if (code == nullptr) return kCannotOpen;
  return Finish(release, [&] { pcre2_code_free(code); });
}

struct Kind {
  std::string_view name;
  int (*plant)(bool release);
};
constexpr Kind kKinds[] = {
    {"fluidsynth-synth", FluidSynthSynth},
    {"alsa-sequencer", AlsaSequencer},
    {"alsa-midi-event", AlsaMidiEventParser},
    {"alsa-null-pcm", AlsaNullPcm},
    {"jack-client", JackClient},
    {"jack-ringbuffer", JackRingbuffer},
    {"curl-easy", CurlEasy},
    {"pcre2-code", Pcre2Code},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const bool release = argc > 2 && std::strcmp(argv[2], "release") == 0;
  for (const Kind& kind : kKinds) {
    if (kind.name != argv[1]) continue;
    // Opened on a thread that has ended before the leak check runs: a copy of
    // the handle's address left in a dead frame of a live stack would count
    // as a reference and hide the leak now and then.
    int status = 0;
    std::thread([&] { status = kind.plant(release); }).join();
    return status;
  }
  std::fprintf(stderr, "unknown kind %s\n", argv[1]);
  return 2;
}
