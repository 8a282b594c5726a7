// The base of sources with a file name (or address) and an open/close cycle.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio/audio_streamed_input.h"

namespace djkivo {

/// A source named by `FileName` (a path or a stream address).
///
/// A subclass implements `OpenSource`/`CloseSource` (take and release the media, fill in the
/// format and `Size`, set `valid_`), `ReadStage` and `SeekSample`. This class does the rest:
/// refusing a second open, the invalid-source defaults, the start/end sample window, `Seek`
/// and `Jump`.
///
/// Threads: `OpenStage`/`CloseStage`/`ReadStage` on the pulling thread under `DataLock`;
/// `FileName`, `SetFileName`, `Seek` and `Jump` on the main thread. The format getters may be
/// called from either; they open the source first (`OpenSource` must therefore be idempotent
/// and take `OpenLock`).
class TAudioFileIn : public TAudioStreamedInput {
 public:
  TAudioFileIn();
  ~TAudioFileIn() override = default;

  std::uint32_t BitsPerSample() override;
  std::uint32_t Channels() override;
  std::uint32_t SampleRate() override;
  /// Opens the source, then `Size` ÷ bytes per second rounded to nearest; 0 if a factor is 0.
  std::uint32_t TotalTime() override;
  /// Opens the source, then `Size` ÷ `FrameSize` if `Size` > 0, else -1.
  std::int64_t TotalSamples() override;
  /// `Close` ignoring failures, not `Busy`, open counter back to 0.
  void Reset() override;
  /// Relative seek: to (`Position` ÷ `Size` + `per_mille` ÷ 1000) of the whole, clamped to
  /// 0..1. Only when `Seekable` and `Size` ≠ 0.
  void Jump(int per_mille) override;
  /// Closes the source first, then assigns the stream.
  void SetStream(std::istream* stream) override;

  /// Moves to frame `sample` (relative to `StartSample`). While open: seeks the source and sets
  /// `Position` to where it landed; while closed: records the frame as the start. False when
  /// not `Seekable` or `sample` lies beyond a known `TotalSamples`.
  bool Seek(std::int64_t sample);

  /// The file name or stream address. Main thread.
  std::string FileName() const;
  /// Closes the source, then stores the name. Main thread.
  void SetFileName(const std::string& name);

 protected:
  /// "The component is Busy" when already open; "The file name is not assigned" without a
  /// stream and a name. Opens the source and works out `FrameSize`, `TotalSamples` and `Size`
  /// for the start/end sample window.
  void OpenStage() override;
  /// `CloseSource`; the start/end window back to the whole; not `Busy`.
  void CloseStage() override;

  /// Opens the media if it is not open yet (count the opens in `open_count_`), fills in
  /// `valid_`, `source_bits_`, `source_rate_`, `source_channels_`, `total_time_` and `size_`.
  /// Must take `open_lock_`. A source that cannot be read leaves `valid_` false.
  virtual void OpenSource() = 0;
  /// Releases the media; does nothing when it is not open. Must take `open_lock_`.
  virtual void CloseSource() = 0;

  /// Held by `OpenSource` and `CloseSource`; taken inside `DataLock`, never around it.
  std::recursive_mutex open_lock_;
  // Written by OpenSource under open_lock_; read from any thread.
  std::atomic<int> open_count_{0};
  std::atomic<bool> valid_{false};
  std::atomic<std::uint32_t> source_bits_{0};
  std::atomic<std::uint32_t> source_rate_{0};
  std::atomic<std::uint32_t> source_channels_{0};
  std::atomic<std::uint32_t> total_time_{0};

 private:
  // --- guarded by name_lock_ (main thread writes, the opening thread reads)
  std::string file_name_;
  mutable std::mutex name_lock_;
};

}  // namespace djkivo
