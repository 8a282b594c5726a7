// The base of every stage of the pull chain: anything the output (or a later stage) pulls
// blocks of PCM from.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include "audio/audio_component.h"

namespace djkivo {

/// A stage that can be pulled from.
///
/// The output's thread opens the chain once per run (`Open` of the output's input opens every
/// stage from the source upwards, since each converter opens its own input), pulls blocks with
/// `GetData` and closes it again. Blocks are interleaved integer PCM as in a WAVE PCM stream
/// (8-bit unsigned, wider samples signed little-endian); a frame is `Channels` ×
/// `BitsPerSample` ÷ 8 bytes.
///
/// Threads: `Open`, `Close`, `GetData`, `CopyData`, `ReadInput` and the virtual stage operations
/// run on the thread that pulls (the output's thread, or the cache's fill thread for the stage
/// the cache reads from), always under `DataLock`. `Position`, `Size`, `AtEnd` and `Busy` may be
/// read from any thread (the window reads them for its progress display). `PauseInput`,
/// `ResumeInput`, `CancelRead` and `Jump` come from the main thread; `ResetCancel` from the
/// output's thread between runs.
///
/// Locks are taken from the output end of the chain towards the source: a stage may hold its
/// own `DataLock` while it calls into its input, never the reverse. `DataLock` is re-entrant.
class TAudioInput : public TComponent {
 public:
  TAudioInput() = default;
  ~TAudioInput() override = default;

  // --- Format, reported once the stage is open.
  /// Bits per sample of the blocks this stage hands out.
  virtual std::uint32_t BitsPerSample() = 0;
  virtual std::uint32_t Channels() = 0;
  /// Samples per second per channel, in Hz.
  virtual std::uint32_t SampleRate() = 0;
  /// Length in whole seconds; 0 when unknown. Base: 0.
  virtual std::uint32_t TotalTime();
  /// Length in frames; -1 when unknown. Base: 0.
  virtual std::int64_t TotalSamples();

  /// Sets `RawBits`: with it a converter reports its input's bits per sample unmasked.
  virtual void SetRawBitsFlag(bool value);

  // --- Pulling (the pulling thread).
  /// Prepares the stage (and, for a converter, the chain below it) for reading. Clears
  /// `AtEnd`. Any failure of `OpenStage` sets `AtEnd` and is raised again as an `EAudioError`
  /// carrying the same message.
  void Open();
  /// Releases what `Open` took (for a converter, closes the chain below it too).
  void Close();
  /// Hands out the next block. On entry `bytes` is the most the caller wants; on return
  /// `buffer` points into storage owned by this stage and `bytes` is the count delivered. The
  /// block stays valid until the next call on this stage. `bytes` 0 (with `buffer` null) means
  /// the stage has no more data. Base: `ReadStage` under `DataLock`.
  virtual void GetData(std::uint8_t*& buffer, std::uint32_t& bytes);
  /// One `GetData` for at most `count` bytes, copied into `dest`; returns the bytes copied
  /// (0 = end of data).
  std::uint32_t CopyData(void* dest, std::uint32_t count);
  /// Fills `dest` with `count` bytes if the stage has them, calling `ReadStage` as often as
  /// needed; `end_of_input` tells whether the last `ReadStage` answered no data. Neither reads
  /// nor sets `AtEnd`. Returns the bytes copied; 0 when `dest` is null.
  std::uint32_t ReadInput(void* dest, std::uint32_t count, bool& end_of_input);
  /// The same, but it asks `ready` before each `ReadStage` and stops (with what it has and
  /// `end_of_input` false) when `ready` says no: the output reads no longer than the device
  /// can wait.
  std::uint32_t ReadInput(void* dest, std::uint32_t count, bool& end_of_input,
                          const std::function<bool()>& ready);
  /// Waits up to `timeout` until a read of this stage would not block: data is there, or the
  /// stage has ended (or was cancelled). True when it would not. On the pulling thread; takes
  /// no `DataLock`. Base: true (a stage that never blocks); converters ask their input.
  virtual bool WaitReadable(std::chrono::milliseconds timeout);
  /// `Close` with any failure swallowed; then the stage is no longer `Busy`.
  virtual void Reset();

  /// Takes and releases `DataLock` (a converter holds it around a change of its input).
  void Lock() { data_lock_.lock(); }
  void Unlock() { data_lock_.unlock(); }

  // --- Control (main thread), travelling down the chain.
  /// Playback is paused / resumed. Base: nothing; converters forward to their input.
  virtual void PauseInput();
  virtual void ResumeInput();
  /// Moves the read position by `per_mille` thousandths of the whole. Base: nothing.
  virtual void Jump(int per_mille);
  /// The output is stopping: a read blocked in this stage (or below it) must end now and
  /// answer no data, and reads and opens must keep answering no data (an open fails at once)
  /// until `ResetCancel`. Any thread; must not take `DataLock` (the pulling thread may hold it
  /// while blocked). Base: nothing; converters forward to their input.
  virtual void CancelRead();
  /// A new run begins: a cancel left from an earlier one no longer applies. The output's thread
  /// calls it before it checks for a stop and opens the chain, so a stop that lands between that
  /// check and the open is never lost. Base: nothing; converters forward to their input.
  virtual void ResetCancel();

  // --- State, readable from any thread.
  /// Bytes handed out by `GetData` since the stage was opened.
  std::int64_t Position() const { return position_.load(); }
  /// Expected total bytes: -1 unknown (a live stream), 0 empty or unknown for progress.
  std::int64_t Size() const { return size_.load(); }
  /// Bytes per frame, set by file sources when they open.
  std::uint16_t FrameSize() const { return frame_size_.load(); }
  bool Seekable() const { return seekable_.load(); }
  /// The stage is open (tracked by file sources and by converters that need it).
  bool Busy() const { return busy_.load(); }
  /// The stage has handed out its last block since `Open`.
  bool AtEnd() const { return at_end_.load(); }
  bool RawBits() const { return raw_bits_.load(); }

 protected:
  // --- The operations every concrete stage implements. Called under `DataLock`.
  /// Prepares for reading. A converter opens its input here.
  virtual void OpenStage() = 0;
  /// Releases what `OpenStage` took. A converter closes its input here.
  virtual void CloseStage() = 0;
  /// Produces up to `bytes` bytes: `buffer` points into the stage's own storage, `bytes` is
  /// the count; 0 bytes (with `buffer` null) means no more data.
  virtual void ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) = 0;

  /// Guards open, close and every read of this stage. Re-entrant: a looping source reopens
  /// itself from inside its own `GetData`, a file source seeks from inside `OpenStage`.
  std::recursive_mutex data_lock_;
  // Written under data_lock_ by the pulling thread; atomic so any thread may read them.
  std::atomic<std::int64_t> position_{0};
  std::atomic<std::int64_t> size_{0};
  std::atomic<std::uint16_t> frame_size_{0};
  std::atomic<bool> seekable_{false};
  std::atomic<bool> busy_{false};
  std::atomic<bool> at_end_{false};
  std::atomic<bool> raw_bits_{false};
};

}  // namespace djkivo
