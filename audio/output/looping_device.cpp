#include "audio/output/looping_device.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace djkivo {

namespace {

// DirectSound's volume range: -10000 (100 dB down, silence) to 0 (full level).
constexpr std::int32_t kMinVolume = -10000;
constexpr std::int32_t kMaxVolume = 0;

timespec DeadlineAfter(std::chrono::milliseconds timeout) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long ns = static_cast<long long>(now.tv_nsec) + timeout.count() % 1000 * 1000000LL;
  timespec deadline{};
  deadline.tv_sec = now.tv_sec + static_cast<time_t>(timeout.count() / 1000) +
                    static_cast<time_t>(ns / 1000000000LL);
  deadline.tv_nsec = static_cast<long>(ns % 1000000000LL);
  return deadline;
}

template <typename Sample, int Bytes>
void ScaleSigned(std::uint8_t* data, std::uint32_t bytes, float gain) {
  for (std::uint32_t i = 0; i + Bytes <= bytes; i += Bytes) {
    Sample v;
    std::memcpy(&v, data + i, sizeof v);
    v = static_cast<Sample>(std::lrint(static_cast<double>(v) * gain));
    std::memcpy(data + i, &v, sizeof v);
  }
}

}  // namespace

double VolumeToGain(std::int32_t hundredths_db) {
  return std::pow(10.0, static_cast<double>(hundredths_db) / 2000.0);
}

LoopingDevice::LoopingDevice() { sem_init(&crossed_, 0, 0); }

LoopingDevice::~LoopingDevice() { sem_destroy(&crossed_); }

SoundResult LoopingDevice::InitBuffer(const WaveFormat& format, std::uint32_t size) {
  const unsigned bits = format.bits_per_sample;
  if (size == 0 || format.channels == 0 || format.samples_per_sec == 0 ||
      (bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
      format.block_align != format.channels * (bits / 8) || size % format.block_align != 0)
    return kSoundInvalidArg;
  Close();
  buffer_ = std::make_unique<std::uint8_t[]>(size);
  {
    // A test may look at the format from its own thread while a run opens the device again.
    std::lock_guard lock(region_mutex_);
    format_ = format;
  }
  std::memset(buffer_.get(), SilenceByte(), size);
  play_.store(0, std::memory_order_release);
  last_write_end_.store(0, std::memory_order_release);
  committed_.store(0, std::memory_order_relaxed);
  played_total_.store(0, std::memory_order_release);
  fresh_begin_.store(0, std::memory_order_release);
  fresh_end_.store(0, std::memory_order_release);
  playing_.store(false, std::memory_order_release);
  ClearHalf(0);
  ClearHalf(1);
  size_.store(size, std::memory_order_release);
  const SoundResult result = OpenStream(format);
  if (result != kSoundOk) {
    size_.store(0, std::memory_order_release);
    buffer_.reset();
  }
  return result;
}

SoundResult LoopingDevice::GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) {
  if (!HasBuffer())
    return kSoundNoBuffer;
  const std::uint32_t size = BufferSize();
  const std::uint32_t p = play_.load(std::memory_order_acquire);
  *play = p;
  *write = Playing() ? (p + committed_.load(std::memory_order_relaxed) % size) % size : p;
  return kSoundOk;
}

SoundResult LoopingDevice::Lock(std::uint32_t offset, std::uint32_t count, SoundRegion* first,
                                SoundRegion* second) {
  if (!HasBuffer())
    return kSoundNoBuffer;
  const std::uint32_t size = BufferSize();
  if (offset >= size || count == 0 || count > size)
    return kSoundInvalidArg;
  region_mutex_.lock();
  // The range plays the next time the cursor comes to it: ahead of the cursor in this lap; or,
  // written behind it, in the next; a range the cursor is already inside (a late write) from
  // where the cursor is, its part behind the cursor being too late for this lap.
  const std::uint64_t played = played_total_.load(std::memory_order_acquire);
  const auto ahead = static_cast<std::uint32_t>((offset + size - played % size) % size);
  lock_begin_played_ = ahead != 0 && ahead + count > size ? played + ahead - size : played + ahead;
  lock_count_ = count;
  const std::uint32_t to_end = size - offset;
  first->data = buffer_.get() + offset;
  first->bytes = count < to_end ? count : to_end;
  second->data = count > to_end ? buffer_.get() : nullptr;
  second->bytes = count > to_end ? count - to_end : 0;
  lock_end_ = (offset + count) % size;
  return kSoundOk;
}

void LoopingDevice::Unlock() {
  last_write_end_.store(lock_end_, std::memory_order_release);
  const std::uint64_t begin = lock_begin_played_;
  const std::uint64_t end = begin + lock_count_;
  if (begin > fresh_end_.load(std::memory_order_relaxed)) {
    // A new run (the output skipped ahead): the gap before it is stale. The end moves first,
    // so a consumer reading in between takes at most the gap's bytes once more for fresh.
    fresh_end_.store(end, std::memory_order_release);
    fresh_begin_.store(begin, std::memory_order_release);
  } else if (end > fresh_end_.load(std::memory_order_relaxed)) {
    fresh_end_.store(end, std::memory_order_release);
  }
  region_mutex_.unlock();
}

SoundResult LoopingDevice::Play(bool from_start) {
  if (!HasBuffer())
    return kSoundNoBuffer;
  if (from_start) {
    playing_.store(false, std::memory_order_release);
    play_.store(0, std::memory_order_release);
    // The cursor jumps to offset 0: the count of the next lap's start.
    const std::uint64_t played = played_total_.load(std::memory_order_acquire);
    played_total_.store((played + size_.load() - 1) / size_.load() * size_.load(),
                        std::memory_order_release);
    ClearHalf(1);
    SetCrossing(0);  // the cursor stands on offset 0
  }
  playing_.store(true, std::memory_order_release);
  return kSoundOk;
}

SoundResult LoopingDevice::Stop() {
  playing_.store(false, std::memory_order_release);
  return kSoundOk;
}

SoundResult LoopingDevice::SetVolume(std::int32_t hundredths_db) {
  if (!volume_control_.load())
    return kSoundControlUnavail;
  if (hundredths_db < kMinVolume || hundredths_db > kMaxVolume)
    return kSoundInvalidArg;
  gain_.store(static_cast<float>(VolumeToGain(hundredths_db)), std::memory_order_relaxed);
  return kSoundOk;
}

HalfWait LoopingDevice::WaitHalf(int which, std::chrono::milliseconds timeout) {
  bool set = crossing_[which].load(std::memory_order_acquire);
  if (!set) {
    const timespec deadline = DeadlineAfter(timeout);
    waiting_for_.store(which, std::memory_order_release);
    waiters_.fetch_add(1, std::memory_order_acq_rel);
    blocked_waits_.fetch_add(1, std::memory_order_acq_rel);
    while (!(set = crossing_[which].load(std::memory_order_acquire))) {
      if (sem_clockwait(&crossed_, CLOCK_MONOTONIC, &deadline) != 0 && errno == ETIMEDOUT) {
        set = crossing_[which].load(std::memory_order_acquire);
        break;
      }
    }
    waiters_.fetch_sub(1, std::memory_order_acq_rel);
    waiting_for_.store(-1, std::memory_order_release);
  }
  if (!set)
    return HalfWait::kTimedOut;
  ClearHalf(which);
  return crossing_[1 - which].load(std::memory_order_acquire) ? HalfWait::kBothSet : HalfWait::kSet;
}

void LoopingDevice::ClearHalf(int which) {
  crossing_[which].store(false, std::memory_order_release);
}

void LoopingDevice::Close() {
  playing_.store(false, std::memory_order_release);
  if (!HasBuffer())
    return;
  CloseStream();
  size_.store(0, std::memory_order_release);
  buffer_.reset();
}

void LoopingDevice::SetCrossing(int which) {
  crossing_[which].store(true, std::memory_order_release);
  sem_post(&crossed_);
}

void LoopingDevice::PublishCrossings(const bool crossed[2]) {
  if (!crossed[0] && !crossed[1])
    return;
  // One block's crossings are published together, the one a waiter waits for last: a waiter
  // that sees its crossing also sees the other one the same block passed, so a block a lap
  // long is always seen as an underrun, however the threads are scheduled.
  const int first = waiting_for_.load(std::memory_order_acquire) == 0 ? 1 : 0;
  for (int which : {first, 1 - first})
    if (crossed[which])
      crossing_[which].store(true, std::memory_order_release);
  sem_post(&crossed_);
}

std::uint32_t LoopingDevice::Render(std::uint8_t* dest, std::uint32_t bytes) {
  if (!Playing() || !HasBuffer()) {
    std::memset(dest, SilenceByte(), bytes);
    return 0;
  }
  const std::uint32_t size = BufferSize();
  const std::uint32_t half = size / 2;
  std::uint32_t p = play_.load(std::memory_order_acquire);
  std::uint32_t done = 0;
  bool crossed[2] = {false, false};
  while (done < bytes) {
    const std::uint32_t chunk = std::min(bytes - done, size - p);
    std::memcpy(dest + done, buffer_.get() + p, chunk);
    const std::uint32_t next = p + chunk;
    const std::uint32_t wrapped = next == size ? 0 : next;
    // A start from offset 0 may move the cursor meanwhile: then this chunk is taken again
    // from the new position (the failed exchange loads it into `p`).
    if (!play_.compare_exchange_strong(p, wrapped, std::memory_order_acq_rel))
      continue;
    SilenceStale(dest + done, played_total_.fetch_add(chunk, std::memory_order_acq_rel), chunk);
    if (p < half && next >= half)
      crossed[1] = true;
    if (wrapped == 0)
      crossed[0] = true;
    p = wrapped;
    done += chunk;
  }
  PublishCrossings(crossed);
  const float gain = gain_.load(std::memory_order_relaxed);
  if (gain != 1.0f)
    ApplyGain(dest, bytes, gain);
  return bytes;
}

void LoopingDevice::SilenceStale(std::uint8_t* data, std::uint64_t from,
                                 std::uint32_t bytes) const {
  const std::uint64_t begin = fresh_begin_.load(std::memory_order_acquire);
  const std::uint64_t end = fresh_end_.load(std::memory_order_acquire);
  const std::uint64_t to = from + bytes;
  const std::uint8_t silence = SilenceByte();
  if (to <= begin || from >= end) {
    std::memset(data, silence, bytes);
    return;
  }
  if (from < begin)
    std::memset(data, silence, static_cast<std::size_t>(begin - from));
  if (to > end)
    std::memset(data + (end - from), silence, static_cast<std::size_t>(to - end));
}

void LoopingDevice::ApplyGain(std::uint8_t* data, std::uint32_t bytes, float gain) const {
  switch (format_.bits_per_sample) {
    case 8:
      for (std::uint32_t i = 0; i < bytes; ++i)
        data[i] = static_cast<std::uint8_t>(std::lrint((data[i] - 128) * gain) + 128);
      break;
    case 16:
      ScaleSigned<std::int16_t, 2>(data, bytes, gain);
      break;
    case 24:
      for (std::uint32_t i = 0; i + 3 <= bytes; i += 3) {
        std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(data[i]) << 8 |
                                                   static_cast<std::uint32_t>(data[i + 1]) << 16 |
                                                   static_cast<std::uint32_t>(data[i + 2]) << 24) >>
                         8;
        v = static_cast<std::int32_t>(std::lrint(static_cast<double>(v) * gain));
        data[i] = static_cast<std::uint8_t>(v);
        data[i + 1] = static_cast<std::uint8_t>(v >> 8);
        data[i + 2] = static_cast<std::uint8_t>(v >> 16);
      }
      break;
    default:
      ScaleSigned<std::int32_t, 4>(data, bytes, gain);
      break;
  }
}

}  // namespace djkivo
