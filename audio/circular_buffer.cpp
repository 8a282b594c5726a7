#include "audio/circular_buffer.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace djkivo {

namespace {
// A waiting reader re-checks the ring this often even without a signal: a guard, not the
// mechanism (the writer signals every commit and the end while a reader waits).
constexpr std::chrono::milliseconds kReaderRecheck{50};
}  // namespace

TCircularBuffer::TCircularBuffer(std::uint32_t capacity)
    : capacity_(capacity), data_(new std::uint8_t[capacity]) {
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
  region = data_.get() + w;
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
          length = static_cast<std::uint32_t>(std::min<std::uint64_t>(written - read, capacity_ - r));
        else
          length = capacity_ - r;
        const std::uint32_t n = std::min(count, length);
        std::memcpy(dest, data_.get() + r, n);
        read_count_.store(read + n, std::memory_order_release);
        return n;
      }
    }
    std::unique_lock lock(wake_lock_);
    reader_waiting_.store(true);
    wake_.wait_for(lock, kReaderRecheck, [this] {
      return cancelled_.load() || data_ended_.load() ||
             write_count_.load() != read_count_.load(std::memory_order_relaxed);
    });
    reader_waiting_.store(false);
  }
}

void TCircularBuffer::Discard() {
  std::lock_guard lock(read_lock_);
  read_count_.store(write_count_.load(std::memory_order_acquire), std::memory_order_release);
}

}  // namespace djkivo
