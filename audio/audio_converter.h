// The base of pass-through stages: they pull from their own `Input` and hand blocks on.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/audio_input.h"

namespace djkivo {

/// A stage between the source and the output (the cache, the analyser).
///
/// Unless it changes the format, a converter reports its input's format; bits per sample are
/// masked to the low 7 bits unless `RawBits` is set. Its `GetData` counts `Position` and, when
/// a block carries it past a known `Size`, shortens that block to `Size` and ends.
///
/// A concrete converter opens its input in `OpenStage` and closes it in `CloseStage`, so the
/// chain opens and closes as a whole. `PauseInput`, `ResumeInput`, `CancelRead`, `ResetCancel` and
/// `Jump` are forwarded to the input by default.
///
/// Threads: `SetInput` on the main thread (under `DataLock`, so never in the middle of a
/// block); `Input` from any thread.
class TAudioConverter : public TAudioInput {
 public:
  TAudioConverter() = default;
  ~TAudioConverter() override;

  std::uint32_t BitsPerSample() override;
  std::uint32_t Channels() override;
  std::uint32_t SampleRate() override;
  void GetData(std::uint8_t*& buffer, std::uint32_t& bytes) override;
  void PauseInput() override;
  void ResumeInput() override;
  void Jump(int per_mille) override;
  void CancelRead() override;
  void ResetCancel() override;
  bool WaitReadable(std::chrono::milliseconds timeout) override;

  /// The stage this converter pulls from, or null.
  TAudioInput* Input() const { return input_.load(); }
  /// Ignored when `input` is this converter. Under `DataLock`: while the converter is `Busy`,
  /// closes the old input and opens the new one; then stores it. Main thread.
  virtual void SetInput(TAudioInput* input);

 protected:
  /// Drops `Input` when that stage is destroyed.
  void Notification(TComponent* removed) override;

 private:
  std::atomic<TAudioInput*> input_{nullptr};
};

}  // namespace djkivo
