// The read-ahead cache between the network source and the rest of the chain.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/audio_cache_thread.h"
#include "audio/audio_converter.h"

namespace djkivo {

/// A pass-through converter that decouples a stalling source from the output: while open, its
/// fill thread (`TAudioCacheThread`) reads ahead from `Input` into a 6 MiB ring, and the
/// output's thread takes its blocks from the ring, so stalls shorter than the buffered time
/// are not heard.
///
/// The audio passes unchanged; the cache reports its input's format. It hands out at most
/// `kChunkLimit` bytes (whole frames) per call from its own staging area. It never cuts a
/// stream at the estimated `Size`: it ends only when the ring runs dry after the source ended,
/// and its `Position` restarts from the block that crossed `Size`.
///
/// Threads: `OpenStage`, `ReadStage` and `CloseStage` on the output's thread (under
/// `DataLock`); the fill thread reads the input without the cache's lock; `Jump` and
/// `CancelRead` from the main thread. Pause and resume do nothing: the fill thread keeps the
/// ring topped up while the output is paused.
class TAudioCache : public TAudioConverter {
 public:
  static constexpr std::uint32_t kStagingSize = TAudioCacheThread::kChunkLimit;

  TAudioCache();
  ~TAudioCache() override;

  /// Nothing once the source has ended; otherwise the input jumps, `Position` follows it and
  /// the buffered audio is dropped.
  void Jump(int per_mille) override;
  void PauseInput() override {}
  void ResumeInput() override {}
  /// Ends a read waiting on the empty ring and forwards the cancel to the input.
  void CancelRead() override;
  /// Waits for the ring: audio buffered, or the source ended. Output's thread.
  bool WaitReadable(std::chrono::milliseconds timeout) override;

 protected:
  /// "Input is not assigned" without input; opens the input, then starts the fill thread.
  void OpenStage() override;
  /// Stops the fill thread (waiting until it has left the input), then closes the input.
  void CloseStage() override;
  /// At most `kChunkLimit` bytes (whole frames) out of the ring into the staging area.
  void ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) override;

 private:
  /// Ends the fill thread of the current open, if any, and waits until it has left the input.
  void StopFill();

  const std::unique_ptr<std::uint8_t[]> staging_;
  // --- guarded by fill_lock_ (swapped by open/close on the output's thread, used by
  // Jump/CancelRead from the main thread)
  std::unique_ptr<TAudioCacheThread> fill_;
  std::mutex fill_lock_;
};

}  // namespace djkivo
