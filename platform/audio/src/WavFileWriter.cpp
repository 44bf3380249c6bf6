#include "WavFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "AudioLog.h"

namespace chimewick::audio {

namespace {

void putLittleEndian(unsigned char* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

int16_t toSample(float value) {
  const float scaled = std::clamp(value, -1.0f, 1.0f) * 32767.0f;
  return static_cast<int16_t>(std::lrint(scaled));
}

}  // namespace

std::unique_ptr<WavFileWriter> WavFileWriter::open(const std::string& path, double sampleRate,
                                                   int maxFrames) {
  auto writer = std::make_unique<WavFileWriter>();
  writer->file_.reset(std::fopen(path.c_str(), "wb"));
  if (!writer->file_) {
    logLine("cannot write the WAV file %s: %s", path.c_str(), std::strerror(errno));
    return nullptr;
  }
  writer->sampleRate_ = static_cast<uint32_t>(std::lround(sampleRate));
  writer->interleaved_.resize(static_cast<size_t>(maxFrames) * 2);
  writer->writeHeader();
  return writer;
}

WavFileWriter::~WavFileWriter() {
  if (!file_) return;
  writeHeader();
}

void WavFileWriter::writeHeader() {
  constexpr uint32_t kChannels = 2;
  constexpr uint32_t kBytesPerSample = 2;
  // A RIFF chunk holds at most 4 GiB; a longer recording keeps the largest size.
  const uint32_t dataBytes = static_cast<uint32_t>(std::min<uint64_t>(dataBytes_, 0xFFFFFFFFull - 36));
  unsigned char header[44];
  std::memcpy(header, "RIFF", 4);
  putLittleEndian(header + 4, 36 + dataBytes, 4);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  putLittleEndian(header + 16, 16, 4);
  putLittleEndian(header + 20, 1, 2);  // PCM
  putLittleEndian(header + 22, kChannels, 2);
  putLittleEndian(header + 24, sampleRate_, 4);
  putLittleEndian(header + 28, sampleRate_ * kChannels * kBytesPerSample, 4);
  putLittleEndian(header + 32, kChannels * kBytesPerSample, 2);
  putLittleEndian(header + 34, 8 * kBytesPerSample, 2);
  std::memcpy(header + 36, "data", 4);
  putLittleEndian(header + 40, dataBytes, 4);
  std::fseek(file_.get(), 0, SEEK_SET);
  std::fwrite(header, 1, sizeof header, file_.get());
  std::fseek(file_.get(), 0, SEEK_END);
  std::fflush(file_.get());
}

void WavFileWriter::write(const float* left, const float* right, int frames) noexcept {
  frames = std::min(frames, static_cast<int>(interleaved_.size() / 2));
  for (int i = 0; i < frames; ++i) {
    interleaved_[2 * i] = toSample(left[i]);
    interleaved_[2 * i + 1] = toSample(right[i]);
  }
  const size_t written =
      std::fwrite(interleaved_.data(), sizeof(int16_t) * 2, static_cast<size_t>(frames), file_.get());
  dataBytes_ += written * sizeof(int16_t) * 2;
}

}  // namespace chimewick::audio
