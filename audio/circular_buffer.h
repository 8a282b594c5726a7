// The byte ring between the cache's fill thread (the only writer) and the output's thread (the
// only reader).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/huge_page_block.h"

namespace djkivo {

/// A single-writer, single-reader byte ring with no lock on the data path.
///
/// The writer fills it in place: `GetWriteRegion`, write at most that many bytes, `CommitWrite`
/// them. The reader copies out with `Read`, which blocks while the ring is empty and answers 0
/// once the writer has set `DataEnded` and everything before it has been read.
///
/// Counters are 64-bit totals since the last `Reset`; a commit publishes its bytes (release)
/// and each side reads the other's counter with acquire. A reader waiting on an empty ring
/// sleeps on a condition variable that the writer signals only when a reader is waiting, so
/// the writer never takes a lock in the common case. The reader's copy and `Discard` share a
/// small lock, so a discard never frees space the reader is still copying out of.
///
/// Threads: `GetWriteRegion`, `CommitWrite`, `FreeSpace`, `WaitFreeSpace` and `SetDataEnded`
/// belong to the writer; `Read` to the reader; `Discard` and `Cancel` may come from any thread;
/// `Reset` only while neither side is active.
class TCircularBuffer {
 public:
  explicit TCircularBuffer(std::uint32_t capacity);
  TCircularBuffer(const TCircularBuffer&) = delete;
  TCircularBuffer& operator=(const TCircularBuffer&) = delete;

  std::uint32_t Capacity() const { return capacity_; }

  /// Both counters to 0, `DataEnded` and `Cancel` cleared.
  void Reset();
  /// Bytes the writer may still commit.
  std::uint32_t FreeSpace() const;
  /// The contiguous free area at the write offset (0 bytes when full).
  void GetWriteRegion(std::uint8_t*& region, std::uint32_t& length);
  /// Publishes `count` bytes written into the write region.
  void CommitWrite(std::uint32_t count);
  /// Copies up to `count` buffered bytes into `dest`, never across the end of the data area;
  /// waits while the ring is empty (until data, the end or a cancel arrive). 0 = end of data (the
  /// ring is empty and `DataEnded` is set, or the ring was cancelled); both counters then return to
  /// 0.
  std::uint32_t Read(void* dest, std::uint32_t count);
  /// Reader: waits up to `timeout` until a `Read` would not wait (data, the end or a cancel);
  /// true when it would not.
  bool WaitReadable(std::chrono::milliseconds timeout);
  /// Drops everything buffered. A read already copying finishes first and returns its data.
  void Discard();
  /// The writer's source has no more data (set by the writer on every exit).
  bool DataEnded() const { return data_ended_.load(std::memory_order_acquire); }
  void SetDataEnded(bool value);
  /// Makes a waiting `Read` and every later one answer 0 until `Reset`.
  void Cancel();
  /// Writer: waits up to `timeout` until at least `target` bytes are free (the reader signals
  /// once a read leaves that much free, so a reader taking small steps does not wake the
  /// writer at each one); true when they are. Ends early on `WakeWriter` and `Discard`.
  bool WaitFreeSpace(std::uint32_t target, std::chrono::milliseconds timeout);
  /// Ends a `WaitFreeSpace` at once (the writer is being stopped). Any thread.
  void WakeWriter();

  /// Total bytes read / committed since `Reset`.
  std::uint64_t ReadCount() const { return read_count_.load(std::memory_order_acquire); }
  std::uint64_t WriteCount() const { return write_count_.load(std::memory_order_acquire); }

 private:
  void WakeReader();
  void WakeWriterForSpace();
  /// True when data, the end or a cancel arrived within a few yields.
  bool SpinForData() const;
  /// Data, the end or a cancel is there.
  bool Readable() const;
  /// Sleeps until `Readable`, at most until `deadline` (and `kReaderRecheck` at a time).
  void SleepUntilReadable(std::chrono::steady_clock::time_point deadline);

  const std::uint32_t capacity_;
  const HugePageBlock block_;  // capacity_ bytes; the read-ahead ring fills it whole
  std::uint8_t* const data_;
  // The reader advances read_count_, the writer write_count_; each reads the other's.
  alignas(64) std::atomic<std::uint64_t> read_count_{0};
  alignas(64) std::atomic<std::uint64_t> write_count_{0};
  alignas(64) std::atomic<bool> data_ended_{false};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> reader_waiting_{false};
  std::atomic<bool> writer_waiting_{false};
  std::atomic<std::uint32_t> writer_target_{0};  // free bytes a waiting writer wants
  bool writer_woken_ = false;                    // guarded by writer_lock_
  std::mutex writer_lock_;
  std::condition_variable writer_wake_;
  /// Held by the reader while it copies and advances read_count_, and by `Discard`.
  std::mutex read_lock_;
  // The empty-ring wait; wake_lock_ only orders the waiter's test against the writer's signal.
  std::mutex wake_lock_;
  std::condition_variable wake_;
  /// Held only by `Reset`.
  std::mutex reset_lock_;
};

}  // namespace djkivo
