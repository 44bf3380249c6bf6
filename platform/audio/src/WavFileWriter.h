// A 16-bit stereo PCM WAV file whose header is completed on close, so that
// the file plays once the output stops.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace chimewick::audio {

class WavFileWriter {
 public:
  // Opens (replaces) the file; nullptr with the reason on standard error.
  // Control thread.
  static std::unique_ptr<WavFileWriter> open(const std::string& path, double sampleRate, int maxFrames);
  WavFileWriter() = default;
  ~WavFileWriter();
  WavFileWriter(const WavFileWriter&) = delete;
  WavFileWriter& operator=(const WavFileWriter&) = delete;

  // Appends a block (at most maxFrames). The output's own thread; no allocation.
  void write(const float* left, const float* right, int frames) noexcept;

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  void writeHeader();

  std::unique_ptr<std::FILE, FileCloser> file_;
  uint32_t sampleRate_ = 48000;
  uint64_t dataBytes_ = 0;
  std::vector<int16_t> interleaved_;
};

}  // namespace chimewick::audio
