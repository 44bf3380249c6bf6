// The null and wav:PATH outputs: our own thread renders a period at a time
// on a clock, as a sound card would ask, and discards or writes the sound.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "AudioLog.h"
#include "OutputDevice.h"
#include "RenderEngine.h"
#include "WavFileWriter.h"

namespace chimewick::audio {

namespace {

class ClockOutput final : public OutputDevice {
 public:
  ClockOutput(RenderEngine& engine, OutputGrant grant, std::unique_ptr<WavFileWriter> writer)
      : engine_(engine),
        grant_(std::move(grant)),
        writer_(std::move(writer)),
        left_(static_cast<size_t>(grant_.periodFrames)),
        right_(static_cast<size_t>(grant_.periodFrames)) {
    thread_ = std::thread([this] { run(); });
  }
  ~ClockOutput() override {
    stop_.store(true);
    thread_.join();
  }
  const OutputGrant& grant() const override { return grant_; }

 private:
  void run() noexcept {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(grant_.periodFrames / grant_.sampleRate));
    Clock::time_point deadline = Clock::now();
    while (!stop_.load()) {
      engine_.render(grant_.periodFrames, left_.data(), right_.data());
      if (writer_) writer_->write(left_.data(), right_.data(), grant_.periodFrames);
      deadline += period;
      const Clock::time_point now = Clock::now();
      // After a long stall (a debugger, a suspended machine) start afresh
      // rather than rendering the missed time in a burst.
      if (now > deadline + 8 * period) deadline = now;
      std::this_thread::sleep_until(deadline);
    }
  }

  RenderEngine& engine_;
  OutputGrant grant_;
  std::unique_ptr<WavFileWriter> writer_;
  std::vector<float> left_;
  std::vector<float> right_;
  std::atomic<bool> stop_{false};
  std::thread thread_;  // last: starts after, and stops before, what it uses
};

}  // namespace

std::unique_ptr<OutputDevice> openClockOutput(const std::string& wavPath, RenderEngine& engine,
                                              double sampleRate) {
  OutputGrant grant;
  grant.device = wavPath.empty() ? "null" : "wav:" + wavPath;
  grant.sampleRate = sampleRate;
  grant.periodFrames = kRequestedPeriodFrames;
  grant.periods = kRequestedPeriods;
  std::unique_ptr<WavFileWriter> writer;
  if (!wavPath.empty()) {
    writer = WavFileWriter::open(wavPath, sampleRate, grant.periodFrames);
    if (!writer) return nullptr;
  }
  return std::make_unique<ClockOutput>(engine, std::move(grant), std::move(writer));
}

}  // namespace chimewick::audio
