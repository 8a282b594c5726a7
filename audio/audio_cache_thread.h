// The cache's fill thread: keeps the ring topped up from the cache's input.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "audio/circular_buffer.h"

namespace djkivo {

class TAudioInput;

/// One per open of a `TAudioCache`: the only writer of the ring and, while the cache is open,
/// the only caller of the input's `GetData`.
///
/// Each pass (then a pause of at most `kPassPause`) decides whether to fill: always when at least
/// `kLowWaterFree` bytes are free or the input's size is unknown, otherwise only while the
/// input's unread rest exceeds the free space; then adds about `min(free, kChunkLimit)` bytes,
/// rounded down to whole frames, if that is more than `kMinimumChunk`. On every exit of its
/// loop (termination, the input's end, a failure of the input) it sets the ring's `DataEnded`
/// and `Finished`.
class TAudioCacheThread {
 public:
  /// Bytes buffered ahead of playback (about 35.7 s of 44.1 kHz 16-bit stereo).
  static constexpr std::uint32_t kRingCapacity = 6291456;
  /// Below this much free space a known-size stream is refilled only while its unread rest
  /// exceeds the free space (768 KiB or less buffered).
  static constexpr std::uint32_t kLowWaterFree = 5505024;
  /// The most one pass adds; also the most the cache hands out per call.
  static constexpr std::uint32_t kChunkLimit = 786432;
  /// A pass adds data only when it plans more than this, so the source is read in large steps.
  static constexpr std::uint32_t kMinimumChunk = 393216;
  /// The longest pause after a pass. The pause ends as soon as the reader has freed enough room
  /// for the next pass to add data, so a fast reader is never starved by it, while a player
  /// consuming in real time gets one large pass per `kMinimumChunk` played (2.2 s of 44.1 kHz
  /// 16-bit stereo, 2 s at 48 kHz: the limit is longer, or each pass would first wake once for
  /// nothing). The limit only catches a change of the input's size estimate while the rest of
  /// a known-size stream fits: the pass then waits for `kLowWaterFree`, which still wakes it
  /// with 768 KiB (over four seconds of audio) buffered, so no length of pause can starve the
  /// reader, and the thread sleeps through playback instead of waking on a timer.
  static constexpr std::chrono::milliseconds kPassPause{5000};

  /// Creates the ring (reset, `DataEnded` clear); the thread does not run until `Start`.
  /// `input` must be open and stay open until `Join` has returned.
  explicit TAudioCacheThread(TAudioInput* input);
  /// Terminates and joins.
  ~TAudioCacheThread();
  TAudioCacheThread(const TAudioCacheThread&) = delete;
  TAudioCacheThread& operator=(const TAudioCacheThread&) = delete;

  void Start();
  /// Asks the loop to end after the current pass (wakes its pause at once).
  void Terminate();
  /// Waits for the thread to end. After it, the input is no longer used.
  void Join();
  /// The loop has ended (the ring's `DataEnded` is set too).
  bool Finished() const { return finished_.load(); }
  TCircularBuffer& Ring() { return ring_; }

 private:
  void Execute();
  /// One pass of the fill rule.
  void FillPass(std::uint32_t frame);
  /// Bytes per frame of the input (0 when it reports no format).
  std::uint32_t FrameBytes() const;
  /// The free space at which the next pass would add data.
  std::uint32_t NextPassFree(std::uint32_t frame) const;

  TAudioInput* const input_;
  TCircularBuffer ring_{kRingCapacity};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace djkivo
