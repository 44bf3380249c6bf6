// Listening with numbers: level, pitch and spectrum of rendered audio, for
// any layer's tests. Header-only, no dependencies beyond the standard library.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numeric>
#include <vector>

namespace audio_measure {

// The left and right channels of interleaved stereo, averaged.
inline std::vector<float> MonoMix(const std::vector<float>& interleavedStereo) {
  std::vector<float> mono(interleavedStereo.size() / 2);
  for (std::size_t i = 0; i < mono.size(); ++i)
    mono[i] = 0.5f * (interleavedStereo[2 * i] + interleavedStereo[2 * i + 1]);
  return mono;
}

// Samples [begin, end) of a signal, clamped to its length.
inline std::vector<float> Slice(const std::vector<float>& signal, std::size_t begin, std::size_t end) {
  end = std::min(end, signal.size());
  begin = std::min(begin, end);
  return std::vector<float>(signal.begin() + static_cast<std::ptrdiff_t>(begin),
                            signal.begin() + static_cast<std::ptrdiff_t>(end));
}

inline double Rms(const std::vector<float>& signal) {
  if (signal.empty()) return 0.0;
  double sum = 0.0;
  for (float s : signal) sum += double(s) * s;
  return std::sqrt(sum / double(signal.size()));
}

inline double Peak(const std::vector<float>& signal) {
  double peak = 0.0;
  for (float s : signal) peak = std::max(peak, double(std::fabs(s)));
  return peak;
}

// The fundamental frequency of a periodic signal in Hz, by normalised
// autocorrelation: the first lag whose correlation comes within 10% of the
// best one (so a period's multiples don't win), refined by a parabola through
// its neighbours. 0 when nothing in [minHz, maxHz] correlates (silence, noise).
inline double FrequencyByAutocorrelation(const std::vector<float>& signal, double sampleRate,
                                         double minHz = 50.0, double maxHz = 2000.0) {
  const auto minLag = static_cast<std::size_t>(std::floor(sampleRate / maxHz));
  const auto maxLag = static_cast<std::size_t>(std::ceil(sampleRate / minHz));
  if (minLag < 2 || signal.size() < 2 * maxLag + 2) return 0.0;
  const std::size_t window = signal.size() - maxLag - 1;
  std::vector<double> r(maxLag + 2, 0.0);
  for (std::size_t lag = minLag - 1; lag <= maxLag + 1; ++lag) {
    double cross = 0.0, e0 = 0.0, e1 = 0.0;
    for (std::size_t i = 0; i < window; ++i) {
      cross += double(signal[i]) * signal[i + lag];
      e0 += double(signal[i]) * signal[i];
      e1 += double(signal[i + lag]) * signal[i + lag];
    }
    r[lag] = (e0 > 0.0 && e1 > 0.0) ? cross / std::sqrt(e0 * e1) : 0.0;
  }
  double best = 0.0;
  for (std::size_t lag = minLag; lag <= maxLag; ++lag) best = std::max(best, r[lag]);
  if (best < 0.5) return 0.0;
  for (std::size_t lag = minLag; lag <= maxLag; ++lag) {
    if (r[lag] < 0.9 * best || r[lag] < r[lag - 1] || r[lag] < r[lag + 1]) continue;
    const double a = r[lag - 1], b = r[lag], c = r[lag + 1];
    const double denominator = a - 2.0 * b + c;
    const double shift = denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0;
    return sampleRate / (double(lag) + shift);
  }
  return 0.0;
}

// In-place radix-2 FFT; data.size() must be a power of two.
inline void Fft(std::vector<std::complex<double>>& data) {
  const std::size_t n = data.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(data[i], data[j]);
  }
  for (std::size_t length = 2; length <= n; length <<= 1) {
    const double angle = -2.0 * M_PI / double(length);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (std::size_t start = 0; start < n; start += length) {
      std::complex<double> w(1.0);
      for (std::size_t k = 0; k < length / 2; ++k) {
        const std::complex<double> even = data[start + k], odd = data[start + k + length / 2] * w;
        data[start + k] = even + odd;
        data[start + k + length / 2] = even - odd;
        w *= step;
      }
    }
  }
}

// Magnitude spectrum (bins 0..size/2) of the first `size` samples (a power
// of two; zero-padded), Hann-windowed. Bin k is k * sampleRate / size Hz.
inline std::vector<double> MagnitudeSpectrum(const std::vector<float>& signal, std::size_t size = 8192) {
  std::vector<std::complex<double>> data(size);
  for (std::size_t i = 0; i < size && i < signal.size(); ++i) {
    const double hann = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(size - 1));
    data[i] = signal[i] * hann;
  }
  Fft(data);
  std::vector<double> magnitude(size / 2 + 1);
  for (std::size_t k = 0; k < magnitude.size(); ++k) magnitude[k] = std::abs(data[k]);
  return magnitude;
}

// Energy per band between successive edges in Hz, normalised to sum 1.
inline std::vector<double> BandEnergies(const std::vector<double>& spectrum, double sampleRate,
                                        const std::vector<double>& edgesHz) {
  const double binHz = sampleRate / (2.0 * double(spectrum.size() - 1));
  std::vector<double> bands(edgesHz.size() > 0 ? edgesHz.size() - 1 : 0, 0.0);
  for (std::size_t b = 0; b < bands.size(); ++b)
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
      const double hz = double(k) * binHz;
      if (hz >= edgesHz[b] && hz < edgesHz[b + 1]) bands[b] += spectrum[k] * spectrum[k];
    }
  const double total = std::accumulate(bands.begin(), bands.end(), 0.0);
  if (total > 0.0)
    for (double& band : bands) band /= total;
  return bands;
}

// Spectral flatness (geometric over arithmetic mean of the power) between two
// frequencies: near 0 for a few harmonics, higher for noise-like sound.
inline double SpectralFlatness(const std::vector<double>& spectrum, double sampleRate, double fromHz,
                               double toHz) {
  const double binHz = sampleRate / (2.0 * double(spectrum.size() - 1));
  double logSum = 0.0, sum = 0.0;
  std::size_t count = 0;
  for (std::size_t k = 1; k < spectrum.size(); ++k) {
    const double hz = double(k) * binHz;
    if (hz < fromHz || hz >= toHz) continue;
    const double power = spectrum[k] * spectrum[k] + 1e-20;
    logSum += std::log(power);
    sum += power;
    ++count;
  }
  if (count == 0 || sum <= 0.0) return 0.0;
  return std::exp(logSum / double(count)) / (sum / double(count));
}

// How different two spectra are in shape: 1 minus the cosine similarity of
// their log-power curves (level-independent). 0 for the same shape.
inline double SpectralDistance(const std::vector<double>& a, const std::vector<double>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  auto logPower = [](const std::vector<double>& s, std::size_t count) {
    std::vector<double> out(count);
    double peak = 1e-20;
    for (std::size_t k = 0; k < count; ++k) peak = std::max(peak, s[k] * s[k]);
    for (std::size_t k = 0; k < count; ++k)
      out[k] = std::max(-80.0, 10.0 * std::log10((s[k] * s[k] + 1e-20) / peak)) + 80.0;
    return out;
  };
  const std::vector<double> la = logPower(a, n), lb = logPower(b, n);
  double dot = 0.0, na = 0.0, nb = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    dot += la[k] * lb[k];
    na += la[k] * la[k];
    nb += lb[k] * lb[k];
  }
  if (na == 0.0 || nb == 0.0) return 1.0;
  return 1.0 - dot / std::sqrt(na * nb);
}

}  // namespace audio_measure
