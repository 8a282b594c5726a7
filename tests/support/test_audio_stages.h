// Test stages for the audio chain: a memory PCM source with fault switches, a pass-through
// converter and an output that consumes on a clock. Free of GoogleTest, for tests and
// benchmarks alike.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audio/audio_converter.h"
#include "audio/audio_file_in.h"
#include "audio/audio_output.h"
#include "base/main_thread.h"

namespace djkivo::test {

/// The byte at stream offset `offset` of every memory source: a pattern with a long odd
/// period, so a lost, repeated or reordered block shows up as a mismatch.
std::uint8_t PatternByte(std::uint64_t offset);
/// Index of the first byte of `data` (which starts at stream offset `offset`) that is not the
/// pattern, or -1 when all match.
std::int64_t FindPatternMismatch(const std::uint8_t* data, std::uint32_t bytes,
                                 std::uint64_t offset);

/// A PCM source in memory: `data_bytes` bytes of the pattern, handed out in blocks of at most
/// `block_bytes`, reporting `reported_size` as its `Size` (which may differ from the data: -1
/// for a live stream, less than the data for a source that decodes more than it announced).
///
/// Fault switches (set before opening, or `Release` at any time): fail at open; fail a read
/// at a byte offset; stall at a byte offset until `Release`, `CancelRead` or `stall_limit`
/// passes (then it answers no data, like a network source's wait limit).
///
/// Threads: configure on the test's thread while closed; the pulling thread reads it.
class TMemoryPcmSource : public TAudioFileIn {
 public:
  struct Config {
    std::uint32_t sample_rate = 44100;
    std::uint32_t bits = 16;
    std::uint32_t channels = 2;
    std::uint64_t data_bytes = 1 << 20;
    std::int64_t reported_size = -2;  ///< -2: the data's size
    std::uint32_t block_bytes = 4096;
    bool seekable = true;
    /// false: hand out everything, counting `Position` past `Size` (a stream that decodes
    /// more than it announced), instead of ending at `Size`.
    bool end_at_size = true;
    std::string fail_open;                  ///< non-empty: OpenSource raises this message
    std::int64_t fail_read_at = -1;         ///< a read reaching this offset raises
    std::string fail_read = "read failed";  ///< its message
    std::int64_t stall_at = -1;             ///< a read reaching this offset stalls
    std::chrono::milliseconds stall_limit{10000};
  };

  explicit TMemoryPcmSource(const Config& config);
  ~TMemoryPcmSource() override;

  /// The largest block the source hands out.
  static constexpr std::uint32_t kMaxBlock = 1 << 20;

  /// Ends a stall; later reads do not stall again.
  void Release();
  /// Ends a stall and makes reads answer no data until the next open.
  void CancelRead() override;
  /// Waits up to `timeout` until a read is stalled.
  bool WaitStalled(std::chrono::milliseconds timeout);
  /// Not readable while the next read would stall.
  bool WaitReadable(std::chrono::milliseconds timeout) override;

  bool SeekSample(std::int64_t& sample) override;
  void GetData(std::uint8_t*& buffer, std::uint32_t& bytes) override;

  // Counters (any thread).
  int opens() const { return opens_.load(); }
  int closes() const { return closes_.load(); }
  int seeks() const { return seeks_.load(); }
  std::uint64_t read_offset() const { return offset_.load(); }
  /// Total bytes handed out over the source's life.
  std::uint64_t bytes_read() const { return bytes_read_.load(); }

 protected:
  void OpenSource() override;
  void CloseSource() override;
  void ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) override;

 private:
  const Config config_;
  std::unique_ptr<std::uint8_t[]> pattern_;
  std::atomic<bool> open_{false};
  std::atomic<std::uint64_t> offset_{0};
  std::atomic<std::uint64_t> bytes_read_{0};
  std::atomic<int> opens_{0};
  std::atomic<int> closes_{0};
  std::atomic<int> seeks_{0};
  // --- guarded by stall_lock_
  bool stalled_ = false;
  bool released_ = false;
  bool cancelled_ = false;
  std::mutex stall_lock_;
  std::atomic<bool> cancel_seen_{false};  // cancelled_, readable without the lock
  std::condition_variable stall_changed_;
};

/// A memory source of `data_bytes` pattern bytes in blocks of at most `block_bytes`, reporting
/// `reported_size` (-2: the data's size) as its `Size`, in 16-bit stereo at 44.1 kHz unless the
/// caller changes the format.
TMemoryPcmSource::Config MemorySource(std::uint64_t data_bytes, std::int64_t reported_size = -2,
                                      std::uint32_t block_bytes = 4096);

/// Opens `input` as the chain does; the failure's message, or "(opened)".
std::string OpenMessage(TAudioInput& input);

/// Pulls everything through `GetData`, `request` bytes at a time, until it answers no data.
std::string ReadAll(TAudioInput& input, std::uint32_t request = 65536);

/// A converter that hands its input's blocks on unchanged.
class TPassThrough : public TAudioConverter {
 protected:
  void OpenStage() override;
  void CloseStage() override;
  void ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) override;
};

/// An output that pulls blocks of `block_bytes` and consumes them at `bytes_per_second` (0: as
/// fast as they come), optionally checking them against the pattern.
///
/// Fault switches: fail at open, fail a step after some bytes, block each step until the test
/// allows it (`AllowSteps`).
class TClockOutput : public TAudioOutput {
 public:
  struct Config {
    std::uint32_t block_bytes = 4096;
    std::uint64_t bytes_per_second = 0;
    bool verify = true;
    std::string fail_open;              ///< non-empty: OpenOutput raises this message
    std::int64_t fail_step_after = -1;  ///< a step after this many bytes raises
    std::string fail_step = "device failed";
    bool gated = false;                      ///< each step waits for AllowSteps
    std::int64_t hang_after = -1;            ///< a step after this many bytes hangs until
                                             ///< ReleaseHang, ignoring any stop
    std::chrono::milliseconds stop_wait{0};  ///< non-zero: replaces the synchronous stop's bound
  };

  explicit TClockOutput(const Config& config);
  ~TClockOutput() override;

  /// Lets `steps` more steps run (gated outputs). Any thread.
  void AllowSteps(int steps);
  /// Waits up to `timeout` until a gated step is waiting for permission.
  bool WaitGate(std::chrono::milliseconds timeout);
  /// Ends a hanging step. Any thread.
  void ReleaseHang();
  /// Waits up to `timeout` until a step hangs.
  bool WaitHang(std::chrono::milliseconds timeout);

  // Counters of the current or last run (any thread).
  std::uint64_t bytes() const { return bytes_.load(); }
  std::uint64_t steps() const { return steps_.load(); }
  int runs() const { return runs_.load(); }
  /// Offset of the first byte that broke the pattern, or -1.
  std::int64_t mismatch_at() const { return mismatch_at_.load(); }
  /// Whether the last step that pulled got the end of the chain.
  bool reached_end() const { return reached_end_.load(); }

 protected:
  void OpenOutput() override;
  bool OutputStep(bool abort) override;
  void CloseOutput() override;

 private:
  const Config config_;
  std::chrono::steady_clock::time_point started_;
  std::atomic<std::uint64_t> bytes_{0};
  std::atomic<std::uint64_t> steps_{0};
  std::atomic<int> runs_{0};
  std::atomic<std::int64_t> mismatch_at_{-1};
  std::atomic<bool> reached_end_{false};
  // --- guarded by gate_lock_
  int allowed_ = 0;
  bool at_gate_ = false;
  bool hanging_ = false;
  bool hang_released_ = false;
  std::mutex gate_lock_;
  std::condition_variable gate_changed_;
};

/// A main thread that forwards to a `QueueMainThread` and counts the threads blocked in its
/// `Call`, so a test can tell that the event dispatcher is waiting for the main thread.
class WatchedMainThread final : public MainThread {
 public:
  explicit WatchedMainThread(QueueMainThread& loop) : loop_(loop) {}
  void Post(Task fn) override { loop_.Post(std::move(fn)); }
  bool Call(Task fn) override;
  void RunPending() override { loop_.RunPending(); }
  bool IsMainThread() const override { return loop_.IsMainThread(); }
  TimerId StartTimer(std::chrono::milliseconds interval, Task fn) override {
    return loop_.StartTimer(interval, std::move(fn));
  }
  void StopTimer(TimerId id) override { loop_.StopTimer(id); }

  /// Threads whose `Call` is queued on the loop and has not run yet.
  int waiting_calls() const { return waiting_calls_.load(); }
  /// Waits (yielding) up to `timeout` until a thread is inside `Call`.
  bool WaitForCall(std::chrono::milliseconds timeout) const;

 private:
  QueueMainThread& loop_;
  std::atomic<int> waiting_calls_{0};
};

}  // namespace djkivo::test
