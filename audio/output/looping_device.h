// The looping buffer every back end of sound_device.h shares: the project's own emulation of
// a hardware ring with a play cursor, a write cursor and two crossing notifications. A back
// end supplies only the consumer that takes bytes at the play cursor (`Render`) and the
// device list.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/output/sound_device.h"

namespace djkivo {

/// Looping buffer with cursors and crossings. The consumer calls `Render` from its own thread
/// (the PortAudio callback, a clock thread) or from the output thread (the fast WAV writer);
/// `Render` takes no lock, allocates nothing and never blocks, so it is safe in an audio
/// callback. Consumers other than a real-time callback take `region_mutex_` around `Render`,
/// which `Lock`/`Unlock` hold, so a clocked consumer never reads bytes being written.
///
/// Unlike a hardware ring it never plays a stretch twice: it knows which bytes ahead of the play
/// cursor were written since they last played, and plays silence for the others. An output that
/// is late (a busy machine, a step waiting for data) is heard as a gap, never as its last
/// stretch looping.
class LoopingDevice : public SoundDevice {
 public:
  LoopingDevice();
  ~LoopingDevice() override;

  SoundResult InitBuffer(const WaveFormat& format, std::uint32_t size) override;
  SoundResult GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) override;
  SoundResult Lock(std::uint32_t offset, std::uint32_t count, SoundRegion* first,
                   SoundRegion* second) override;
  void Unlock() override;
  SoundResult Play(bool from_start) override;
  SoundResult Stop() override;
  SoundResult SetVolume(std::int32_t hundredths_db) override;
  HalfWait WaitHalf(int which, std::chrono::milliseconds timeout) override;
  void ClearHalf(int which) override;
  void Close() override;

  /// Number of threads inside `WaitHalf` right now (tests use it to know the output thread
  /// is parked on a crossing).
  int Waiters() const { return waiters_.load(std::memory_order_acquire); }
  /// The crossing a blocked `WaitHalf` waits for, or -1.
  int WaitingFor() const { return waiting_for_.load(std::memory_order_acquire); }
  /// Waits so far that found their crossing clear and had to block.
  std::uint64_t BlockedWaits() const { return blocked_waits_.load(std::memory_order_acquire); }

 protected:
  /// Opens whatever consumes the buffer for `format`; called by `InitBuffer` after the
  /// buffer exists. Nonzero refuses the buffer.
  virtual SoundResult OpenStream(const WaveFormat& format) = 0;
  /// Stops the consumer; after it returns `Render` is not called again until `OpenStream`.
  virtual void CloseStream() = 0;

  /// Copies `bytes` (whole frames) from the play cursor into `dest` with the volume applied
  /// and advances the cursor, setting the crossings it passes. While the buffer is not
  /// playing `dest` gets silence and the cursor stays. Returns the bytes taken from the
  /// buffer (0 when not playing).
  std::uint32_t Render(std::uint8_t* dest, std::uint32_t bytes);

  /// Bytes past the play cursor that the consumer has already committed to play; the write
  /// cursor is that far ahead of the play cursor while playing.
  void SetCommitted(std::uint32_t bytes) { committed_.store(bytes, std::memory_order_relaxed); }

  bool Playing() const { return playing_.load(std::memory_order_acquire); }
  bool HasBuffer() const { return BufferSize() != 0; }
  std::uint32_t BufferSize() const { return size_.load(std::memory_order_acquire); }
  std::uint32_t PlayCursor() const { return play_.load(std::memory_order_acquire); }
  /// The end of the last region written (where `Unlock` left the write).
  std::uint32_t LastWriteEnd() const { return last_write_end_.load(std::memory_order_acquire); }
  const WaveFormat& Format() const { return format_; }
  bool CrossingSet(int which) const { return crossing_[which].load(std::memory_order_acquire); }
  std::uint8_t SilenceByte() const { return format_.bits_per_sample == 8 ? 0x80 : 0; }
  /// Whether `SetVolume` is honoured; a device without volume control answers
  /// kSoundControlUnavail.
  void SetVolumeControl(bool available) { volume_control_.store(available); }

  /// Held by `Lock` until `Unlock`; clocked consumers hold it around `Render`.
  std::mutex region_mutex_;

 private:
  void SetCrossing(int which);
  // Consumer thread: silences the parts of `bytes` rendered bytes, the play cursor's from
  // `from` (absolute), that were not written since they last played.
  void SilenceStale(std::uint8_t* data, std::uint64_t from, std::uint32_t bytes) const;
  // Consumer thread: marks the crossings one rendered block passed and wakes the waiter once.
  void PublishCrossings(const bool crossed[2]);
  void ApplyGain(std::uint8_t* data, std::uint32_t bytes, float gain) const;

  // Set by InitBuffer/Close on the output thread while no consumer runs.
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::atomic<std::uint32_t> size_{0};  // atomic: tests read it while a run opens
  WaveFormat format_;
  // Shared with the consumer.
  std::atomic<std::uint32_t> play_{0};
  std::atomic<std::uint32_t> committed_{0};
  std::atomic<std::uint32_t> last_write_end_{0};
  std::atomic<bool> playing_{false};
  std::atomic<bool> crossing_[2] = {false, false};
  std::atomic<float> gain_{1.0f};
  std::atomic<bool> volume_control_{true};
  std::atomic<int> waiters_{0};
  std::atomic<std::uint64_t> blocked_waits_{0};
  std::atomic<int> waiting_for_{-1};
  // Posted on every crossing; sem_post neither blocks nor locks, so a callback may use it.
  sem_t crossed_;
  // Output thread only: the range of the current Lock.
  std::uint32_t lock_end_ = 0;
  std::uint64_t lock_begin_played_ = 0;  // where the locked range plays, counted as below
  std::uint32_t lock_count_ = 0;
  // Bytes played since the buffer was made, counted on past every lap (so a byte's count tells
  // when it plays), and the run of such counts written since they last played: the consumer
  // advances the first, `Unlock` moves the run.
  std::atomic<std::uint64_t> played_total_{0};
  std::atomic<std::uint64_t> fresh_begin_{0};
  std::atomic<std::uint64_t> fresh_end_{0};
};

}  // namespace djkivo
