// The analysis the spectrum stage runs over every block it passes on: mono mix, DC blocker,
// 16-point FFTs, 8 accumulated band magnitudes and, every interval of audio time, 8 levels.
// Tested by tests/audio/analysis/spectrum_math_test.cpp.
#pragma once

#include <array>
#include <cstdint>

namespace djkivo {

/// The eight band levels: index k is FFT bin k of a 16-point FFT at the input's rate, on the
/// scale 40 * (3 + log10(weighted mean magnitude + 0.0001)); exact silence gives -40.
using TSpectrumLevels = std::array<float, 8>;

/// Accumulates band magnitudes block by block and turns them into levels when a report is
/// due. Not thread-safe: the spectrum stage calls it on the output thread only. Nothing is
/// allocated per call; the work arrays are fixed-size locals.
class SpectrumBands {
 public:
  /// At most this many samples (all channels counted) are analysed per call; it bounds the
  /// work per pull and the size of the local arrays.
  static constexpr std::uint32_t kMaxSamples = 1536;
  /// Frames per FFT block; bins 0 to 7 of each block are accumulated.
  static constexpr std::uint32_t kBlockFrames = 16;

  /// Starts a new run of `bytes_per_sample`-byte samples: block count, band sums and levels
  /// are cleared. The audio-time counter is kept: it carries over from the previous run.
  void Open(unsigned bytes_per_sample);

  /// Analyses `bytes` bytes of interleaved PCM (at most `kMaxSamples` samples are used) and
  /// advances the audio-time counter by their duration. Returns true when `interval_ms` of
  /// audio have passed since the last report: the levels are then recomputed (kept when no
  /// block was analysed since) and the counter restarts at 0. With `measure` false the blocks
  /// are not analysed, only counted as time: the reports keep their rhythm and the levels stay.
  bool Analyse(const std::uint8_t* data, std::uint32_t bytes, unsigned channels,
               unsigned sample_rate, unsigned interval_ms, bool measure = true);

  const TSpectrumLevels& Levels() const { return levels_; }
  /// Audio time since the last report, in units of 10 microseconds.
  std::uint32_t Counter() const { return counter_; }
  std::uint32_t BlockCount() const { return block_count_; }

 private:
  // Steps that need the sample width to be one of 1 to 4 bytes.
  void AnalyseBlocks(const std::uint8_t* data, std::uint32_t samples, unsigned channels);

  unsigned bytes_per_sample_ = 2;
  std::uint32_t block_count_ = 0;
  std::array<float, 8> band_sums_{};
  TSpectrumLevels levels_{};
  std::uint32_t counter_ = 0;
};

}  // namespace djkivo
