// The base of sources that read from a file name or a stream, with a start and end sample and
// looping.
#pragma once

#include <atomic>
#include <cstdint>
#include <istream>

#include "audio/audio_input.h"

namespace djkivo {

/// A source with end-of-stream accounting against its expected `Size`, and looping.
///
/// `GetData` (pulling thread, under `DataLock`): a block that carries `Position` past a known
/// `Size` is shortened to end exactly at `Size`, and the source then ends. With `Loop` set, an
/// end restarts the source instead of being reported: a `Seekable` source seeks back to
/// `StartSample`, any other closes and reopens itself. The block that reaches `Size` is
/// delivered before the restart, never dropped for it. A source whose `Size` is only an
/// estimate clears `cut_at_size_`: it then plays to its real end, `Position` passing `Size`.
///
/// `Loop`, `StartSample`, `EndSample` and `SetStream` are set on the main thread while the
/// source is closed.
class TAudioStreamedInput : public TAudioInput {
 public:
  TAudioStreamedInput() = default;
  ~TAudioStreamedInput() override = default;

  void GetData(std::uint8_t*& buffer, std::uint32_t& bytes) override;

  /// Assigns the stream to read from instead of a file name (not owned; null for none).
  virtual void SetStream(std::istream* stream);
  /// Moves the source to frame `sample`; on return `sample` is where it really landed. False
  /// when the source cannot seek. Called under `DataLock`.
  virtual bool SeekSample(std::int64_t& sample) = 0;

  /// Whether an end restarts the source (default false).
  bool Loop() const { return loop_.load(); }
  void SetLoop(bool value) { loop_.store(value); }
  /// First frame to play (default 0).
  std::int64_t StartSample() const { return start_sample_.load(); }
  void SetStartSample(std::int64_t value) { start_sample_.store(value); }
  /// Last frame to play; -1 (default) plays to the end.
  std::int64_t EndSample() const { return end_sample_.load(); }
  void SetEndSample(std::int64_t value) { end_sample_.store(value); }

 protected:
  /// Starts the source again from `StartSample`: a seek when `Seekable`, else close and reopen.
  /// Under `DataLock`.
  void Restart();
  /// The size the source ends at: `Size`, or 0 (none) when it is only an estimate.
  std::int64_t CutSize() const { return cut_at_size_.load() ? size_.load() : 0; }

  /// The assigned stream, or null. Main thread writes it while closed.
  std::istream* stream_ = nullptr;
  std::atomic<std::int64_t> start_sample_{0};
  std::atomic<std::int64_t> end_sample_{-1};
  /// Frames the source will deliver; -1 unknown.
  std::atomic<std::int64_t> total_samples_{0};
  std::atomic<bool> loop_{false};
  /// Whether the source ends where `Size` says (true unless `Size` is an estimate). Written by
  /// the opening thread.
  std::atomic<bool> cut_at_size_{true};
};

}  // namespace djkivo
