// Keeps a SoundFont load on the calling thread. FluidSynth may read a
// SoundFont's samples with an OpenMP team; for a General MIDI SoundFont of a
// few megabytes the team costs more than it saves: its threads spin for
// over 100 ms of CPU during the load and for a while after it, beside the
// render and MIDI threads, and one thread loads the file sooner.
#pragma once

#include <memory>

namespace chimewick::audio {

class SerialSampleLoading {
 public:
  // Limits OpenMP teams started from this thread to one thread, when the
  // process has OpenMP loaded; otherwise does nothing. Control thread.
  SerialSampleLoading() noexcept;
  // Gives the thread its former limit back.
  ~SerialSampleLoading();
  SerialSampleLoading(const SerialSampleLoading&) = delete;
  SerialSampleLoading& operator=(const SerialSampleLoading&) = delete;

 private:
  struct LibraryCloser {
    void operator()(void* library) const noexcept;
  };
  std::unique_ptr<void, LibraryCloser> openMp_;
  void (*setThreads_)(int) = nullptr;
  int previousThreads_ = 0;
};

}  // namespace chimewick::audio
