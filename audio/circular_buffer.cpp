#include "audio/circular_buffer.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <thread>

namespace djkivo {

namespace {
// A waiting reader re-checks the ring this often even without a signal: a guard, not the
// mechanism (the writer signals every commit and the end while a reader waits).
constexpr std::chrono::milliseconds kReaderRecheck{50};
// How often an empty-ring read yields the processor before it sleeps.
constexpr int kSpinYields = 16;
}  // namespace

TCircularBuffer::TCircularBuffer(std::uint32_t capacity)
    : capacity_(capacity), block_(capacity), data_(block_.data()) {
  assert(capacity > 0 && "a ring needs room");
}

void TCircularBuffer::Reset() {
  std::lock_guard lock(reset_lock_);
  std::lock_guard read(read_lock_);
  read_count_.store(0, std::memory_order_release);
  write_count_.store(0, std::memory_order_release);
  data_ended_.store(false, std::memory_order_release);
  cancelled_.store(false);
}

std::uint32_t TCircularBuffer::FreeSpace() const {
  const std::uint64_t read = read_count_.load(std::memory_order_acquire);
  const std::uint64_t written = write_count_.load(std::memory_order_relaxed);
  return static_cast<std::uint32_t>(read + capacity_ - written);
}

void TCircularBuffer::GetWriteRegion(std::uint8_t*& region, std::uint32_t& length) {
  const std::uint64_t written = write_count_.load(std::memory_order_relaxed);
  const std::uint64_t read = read_count_.load(std::memory_order_acquire);
  const auto w = static_cast<std::uint32_t>(written % capacity_);
  const auto r = static_cast<std::uint32_t>(read % capacity_);
  region = data_ + w;
  if (r < w)
    length = capacity_ - w;
  else if (r == w)
    length = std::min<std::uint64_t>(capacity_ - (written - read), capacity_ - w);
  else
    length = r - w;
}

void TCircularBuffer::CommitWrite(std::uint32_t count) {
  assert(count <= FreeSpace() && "commit beyond the free space");
  // Sequentially consistent, with the reader's flag below, so a reader that is about to sleep
  // either sees this commit or is seen waiting and woken.
  write_count_.store(write_count_.load(std::memory_order_relaxed) + count);
  if (reader_waiting_.load())
    WakeReader();
}

void TCircularBuffer::SetDataEnded(bool value) {
  data_ended_.store(value);
  if (value && reader_waiting_.load())
    WakeReader();
}

void TCircularBuffer::Cancel() {
  cancelled_.store(true);
  WakeReader();
}

void TCircularBuffer::WakeReader() {
  { std::lock_guard lock(wake_lock_); }
  wake_.notify_all();
}

std::uint32_t TCircularBuffer::Read(void* dest, std::uint32_t count) {
  for (;;) {
    if (cancelled_.load())
      return 0;
    {
      std::lock_guard lock(read_lock_);
      const std::uint64_t read = read_count_.load(std::memory_order_relaxed);
      std::uint64_t written = write_count_.load(std::memory_order_acquire);
      if (written == read && data_ended_.load(std::memory_order_acquire)) {
        // The writer commits before it declares the end: look once more for a last commit.
        written = write_count_.load(std::memory_order_acquire);
        if (written == read) {
          read_count_.store(0, std::memory_order_release);
          write_count_.store(0, std::memory_order_release);
          return 0;
        }
      }
      if (written != read) {
        const auto w = static_cast<std::uint32_t>(written % capacity_);
        const auto r = static_cast<std::uint32_t>(read % capacity_);
        std::uint32_t length;
        if (r < w)
          length = w - r;
        else if (r == w)
          length =
              static_cast<std::uint32_t>(std::min<std::uint64_t>(written - read, capacity_ - r));
        else
          length = capacity_ - r;
        const std::uint32_t n = std::min(count, length);
        std::memcpy(dest, data_ + r, n);
        // Sequentially consistent, with the writer's flag, so a writer about to sleep for room
        // either sees this space or is seen waiting and woken.
        read_count_.store(read + n);
        // The writer is woken only once the room it waits for is free, not at every read.
        if (writer_waiting_.load() &&
            capacity_ - (written - (read + n)) >= writer_target_.load(std::memory_order_relaxed))
          WakeWriterForSpace();
        return n;
      }
    }
    // A writer in full flow commits again within microseconds: look a few times before paying
    // for a sleep and a wake-up.
    if (SpinForData())
      continue;
    SleepUntilReadable(std::chrono::steady_clock::now() + kReaderRecheck);
  }
}

bool TCircularBuffer::Readable() const {
  return cancelled_.load() || data_ended_.load() ||
         write_count_.load() != read_count_.load(std::memory_order_relaxed);
}

void TCircularBuffer::SleepUntilReadable(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(wake_lock_);
  reader_waiting_.store(true);
  wake_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + kReaderRecheck),
                   [this] { return Readable(); });
  reader_waiting_.store(false);
}

bool TCircularBuffer::WaitReadable(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!Readable()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    SleepUntilReadable(deadline);
  }
  return true;
}

bool TCircularBuffer::SpinForData() const {
  for (int i = 0; i < kSpinYields; ++i) {
    if (write_count_.load(std::memory_order_acquire) !=
            read_count_.load(std::memory_order_relaxed) ||
        data_ended_.load() || cancelled_.load())
      return true;
    std::this_thread::yield();
  }
  return false;
}

void TCircularBuffer::Discard() {
  {
    std::lock_guard lock(read_lock_);
    read_count_.store(write_count_.load(std::memory_order_acquire));
  }
  if (writer_waiting_.load())
    WakeWriterForSpace();
}

void TCircularBuffer::WakeWriterForSpace() {
  { std::lock_guard lock(writer_lock_); }
  writer_wake_.notify_all();
}

void TCircularBuffer::WakeWriter() {
  {
    std::lock_guard lock(writer_lock_);
    writer_woken_ = true;
  }
  writer_wake_.notify_all();
}

bool TCircularBuffer::WaitFreeSpace(std::uint32_t target, std::chrono::milliseconds timeout) {
  if (FreeSpace() >= target)
    return true;
  std::unique_lock lock(writer_lock_);
  writer_target_.store(target, std::memory_order_relaxed);
  writer_waiting_.store(true);
  const bool room =
      writer_wake_.wait_for(lock, timeout, [&] { return writer_woken_ || FreeSpace() >= target; });
  writer_waiting_.store(false);
  writer_woken_ = false;
  return room && FreeSpace() >= target;
}

}  // namespace djkivo
