// The spectrum stage of the chain: hands every block on unchanged and, on the way, measures
// the levels of eight frequency bands, reporting every `Interval` milliseconds of audio.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/analysis/spectrum_bands.h"
#include "audio/audio_converter.h"

namespace djkivo {

class TEventHandler;

/// A pass-through converter that analyses what the output pulls through it (see
/// `SpectrumBands`). At most `SpectrumBands::kMaxSamples` samples are handed on per pull, so
/// the work per pull is bounded; the audio itself is never copied or altered.
///
/// Threads: `OpenStage`, `ReadStage` and `CloseStage` run on the output's thread under the
/// stage's data lock; the setters on the main thread; `Levels` from any thread.
class TSpectrumAnalyser : public TAudioConverter {
 public:
  TSpectrumAnalyser();
  ~TSpectrumAnalyser() override;

  /// Milliseconds of audio (counted in samples, not wall-clock time) between reports
  /// (default 100).
  std::uint32_t Interval() const { return interval_.load(); }
  void SetInterval(std::uint32_t value) { interval_.store(value); }
  /// Whether the levels are measured (default true). A caller that neither draws nor prints
  /// them (a window hidden in the tray, the command line without levels) turns it off and
  /// saves the analysis: the reports still come every `Interval` of audio and the levels keep
  /// their last values. Turned on again, the next report's levels cover the audio since then.
  /// Any thread.
  bool Measuring() const { return measuring_.load(); }
  void SetMeasuring(bool value) { measuring_.store(value); }
  /// New levels are ready. Posted by the output's thread; runs on the main thread, possibly
  /// after further blocks have been analysed.
  void SetOnGainData(TGenericEvent handler);

  /// A copy of the last reported levels, all eight taken together. All 0 after an open until
  /// the first report.
  TSpectrumLevels Levels() const;

 protected:
  void OpenStage() override;
  void CloseStage() override;
  void ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) override;

 private:
  std::shared_ptr<TEventHandler> events_;
  std::atomic<std::uint32_t> interval_{100};
  std::atomic<bool> measuring_{true};
  // Output's thread only (under data_lock_).
  SpectrumBands bands_;
  unsigned bytes_per_sample_ = 2;
  // --- guarded by levels_lock_
  TSpectrumLevels levels_{};
  TGenericEvent on_gain_data_;
  mutable std::mutex levels_lock_;
};

}  // namespace djkivo
