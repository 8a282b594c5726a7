// The null sound device: the looping buffer consumed by a clock instead of a sound card,
// with fault switches, so output tests run deterministically on any machine.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/output/looping_device.h"

namespace djkivo {

/// A device that plays nothing. With a running clock it takes bytes at the play cursor at
/// the buffer's byte rate, like a sound card; with a manual clock it takes bytes only when
/// the test calls `Advance`. The fault switches may be flipped from any thread at any time.
///
/// The running clock is a count from the moment the buffer plays, not a ticking thread: the
/// bytes it owes are taken by whoever uses the device (a wait for a crossing, a look at the
/// cursor, a write, a stop) and, while nobody does, by a thread of its own every 250 ms (every
/// second while a thread waits for a crossing, which keeps the clock itself).
class NullDevice : public LoopingDevice {
 public:
  /// `device_count` devices are listed (0 to 16); `manual_clock` leaves consuming to
  /// `Advance`.
  explicit NullDevice(int device_count = 1, bool manual_clock = false);
  ~NullDevice() override;

  std::vector<SoundDeviceEntry> Enumerate() override;
  SoundResult Create(int index) override;

  // --- Fault switches.
  /// The clock takes nothing for `duration` from now, then goes on at its normal rate.
  void Stall(std::chrono::milliseconds duration);
  /// The clock never takes anything again: the device has stopped answering, and opening it
  /// again does not help.
  void StopForever();
  /// The clock takes nothing until the device is opened again (`Create`): a headset unplugged,
  /// with the default device taking over on the next open.
  void StopUntilReopened();
  /// Without volume control `SetVolume` answers kSoundControlUnavail.
  void SetVolumeAvailable(bool available) { SetVolumeControl(available); }
  /// The write cursor runs `bytes` ahead of the play cursor while playing (a card that has
  /// committed that much); applies to the current buffer.
  void SetWriteAhead(std::uint32_t bytes) { SetCommitted(bytes); }

  // --- Test driving.
  /// Consumes `bytes` (whole frames) at the play cursor now, as a clock tick would.
  void Advance(std::uint32_t bytes);
  /// Consumes up to crossing `which` (0 = offset 0, 1 = the middle), a whole lap when the
  /// cursor stands on it; nothing while the buffer is not playing.
  void AdvanceToCrossing(int which);
  /// Waits up to `timeout` until a thread is waiting for a crossing; true when one is.
  bool WaitForWaiter(std::chrono::milliseconds timeout) const;
  /// Bytes taken from the buffer while playing, since construction.
  std::uint64_t BytesPlayed() const { return bytes_played_.load(); }
  /// The size and format of the current (or last) buffer.
  std::uint32_t CurrentBufferSize() const { return BufferSize(); }
  WaveFormat CurrentFormat() {
    std::lock_guard lock(region_mutex_);
    return Format();
  }
  /// The last volume accepted, in hundredths of a decibel.
  std::int32_t Volume() const { return volume_.load(); }
  SoundResult SetVolume(std::int32_t hundredths_db) override;
  /// Also wakes the clock, which sleeps while the buffer does not play.
  SoundResult Play(bool from_start) override;
  SoundResult Stop() override;
  /// With a running clock the waiter keeps the clock while it waits: it sleeps until its
  /// crossing is due and takes what is owed then.
  HalfWait WaitHalf(int which, std::chrono::milliseconds timeout) override;
  /// Both bring the play cursor to the clock's present first.
  SoundResult GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) override;
  SoundResult Lock(std::uint32_t offset, std::uint32_t count, SoundRegion* first,
                   SoundRegion* second) override;

 protected:
  SoundResult OpenStream(const WaveFormat& format) override;
  void CloseStream() override;
  /// Called with every block the play cursor passed (volume applied), under `region_mutex_`,
  /// on whichever thread took it (see the class comment), in the order the blocks played.
  virtual void Consumed(const std::uint8_t* data, std::uint32_t bytes);
  /// Takes `bytes` at the play cursor under `region_mutex_` and hands them to `Consumed`.
  void Consume(std::uint32_t bytes);

 private:
  void ClockLoop();
  // Takes what the running clock owes the buffer up to now (nothing with a manual clock).
  void CatchUp();
  // When a waiter should next take what is due: the next crossing, the stall's end, or never
  // while nothing plays. Under clock_mutex_.
  std::chrono::steady_clock::time_point NextTake(std::chrono::steady_clock::time_point now) const;
  // When the cursor, at the clock's pace, passes the next crossing; under clock_mutex_.
  std::chrono::steady_clock::time_point NextCrossingDue(
      std::chrono::steady_clock::time_point now) const;
  // The bytes the clock owes the buffer at `now` since it last took any, counted as taken.
  // Under clock_mutex_.
  std::uint32_t TakeDue(std::chrono::steady_clock::time_point now);

  const int device_count_;
  const bool manual_clock_;
  std::atomic<std::uint64_t> bytes_played_{0};
  std::atomic<std::int32_t> volume_{0};
  // Scratch the consumer renders into; sized at OpenStream, used under region_mutex_.
  std::unique_ptr<std::uint8_t[]> scratch_;
  std::uint32_t scratch_bytes_ = 0;
  // --- guarded by clock_mutex_
  bool clock_stop_ = false;
  bool stopped_forever_ = false;
  bool stopped_until_reopened_ = false;
  std::chrono::steady_clock::time_point stalled_until_{};
  std::chrono::steady_clock::time_point origin_{};  // where the frames taken are counted from
  std::uint64_t frames_taken_ = 0;
  std::mutex clock_mutex_;
  std::condition_variable clock_wake_;
  std::thread clock_;
};

}  // namespace djkivo
