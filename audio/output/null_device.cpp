#include "audio/output/null_device.h"

#include <algorithm>

#include "base/thread_name.h"

namespace djkivo {

namespace {

// The write-ahead the device reports, as a sound card reports the block it is about to play:
// a quarter of the buffer, within these bounds.
constexpr std::chrono::milliseconds kMinWriteAhead{2};
constexpr std::chrono::milliseconds kMaxWriteAhead{25};
constexpr int kWriteAheadsPerBuffer = 4;
// A waiter wakes this long after its crossing is due, so that it finds the crossing passed
// however its wake-up was rounded; and never sooner than this after its last look.
constexpr std::chrono::microseconds kCrossingMargin{500};
constexpr std::chrono::milliseconds kMinWaitSlice{1};
// While nobody looks at the device (a starved or busy output, a test that only listens), the
// clock thread takes what is due this often, so consumers see the audio with at most this lag.
constexpr std::chrono::milliseconds kClockPeriod{250};
// While a thread waits for a crossing it keeps the clock itself, and the clock thread only looks
// this often whether it still does: once a second instead of four times, and a waiter that goes
// away leaves the consumers at most this far behind (well inside kMaxCatchUpSeconds).
constexpr std::chrono::milliseconds kKeptClockPeriod{1000};
// At most this much audio is taken at once: what is owed beyond it (a machine that slept) is
// dropped, as time that passed without playing.
constexpr std::uint64_t kMaxCatchUpSeconds = 2;

}  // namespace

NullDevice::NullDevice(int device_count, bool manual_clock)
    : device_count_(std::clamp(device_count, 0, kMaxSoundDevices)), manual_clock_(manual_clock) {}

NullDevice::~NullDevice() { Close(); }

std::vector<SoundDeviceEntry> NullDevice::Enumerate() {
  std::vector<SoundDeviceEntry> list;
  for (int i = 0; i < device_count_; ++i)
    list.push_back({i == 0 ? std::string() : "null" + std::to_string(i),
                    i == 0 ? "Null output" : "Null output " + std::to_string(i)});
  return list;
}

SoundResult NullDevice::Create(int index) {
  if (index < 0 || index >= device_count_)
    return kSoundNoDriver;
  {
    std::lock_guard lock(clock_mutex_);
    stopped_until_reopened_ = false;
  }
  clock_wake_.notify_all();
  return kSoundOk;
}

void NullDevice::Stall(std::chrono::milliseconds duration) {
  // What played up to the stall counts as played; the stall takes nothing from then on.
  CatchUp();
  std::lock_guard lock(clock_mutex_);
  stalled_until_ = std::chrono::steady_clock::now() + duration;
}

void NullDevice::StopForever() {
  std::lock_guard lock(clock_mutex_);
  stopped_forever_ = true;
}

void NullDevice::StopUntilReopened() {
  std::lock_guard lock(clock_mutex_);
  stopped_until_reopened_ = true;
}

SoundResult NullDevice::SetVolume(std::int32_t hundredths_db) {
  const SoundResult result = LoopingDevice::SetVolume(hundredths_db);
  if (result == kSoundOk)
    volume_.store(hundredths_db);
  return result;
}

void NullDevice::Advance(std::uint32_t bytes) { Consume(bytes); }

void NullDevice::AdvanceToCrossing(int which) {
  const std::uint32_t size = BufferSize();
  if (!Playing() || size == 0)
    return;
  const std::uint32_t target = which == 0 ? 0 : size / 2;
  const std::uint32_t distance = (target + size - PlayCursor()) % size;
  Consume(distance == 0 ? size : distance);
}

bool NullDevice::WaitForWaiter(std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Waiters() == 0) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

SoundResult NullDevice::OpenStream(const WaveFormat& format) {
  {
    // A manual clock may be advanced from another thread at any time.
    std::lock_guard lock(region_mutex_);
    scratch_bytes_ = BufferSize();
    scratch_ = std::make_unique<std::uint8_t[]>(scratch_bytes_);
  }
  const std::uint64_t buffer_ms =
      static_cast<std::uint64_t>(BufferSize()) * 1000 / format.avg_bytes_per_sec;
  const auto write_ahead = std::clamp(std::chrono::milliseconds(buffer_ms / kWriteAheadsPerBuffer),
                                      kMinWriteAhead, kMaxWriteAhead);
  const std::uint64_t write_ahead_frames =
      static_cast<std::uint64_t>(format.samples_per_sec) * write_ahead.count() / 1000;
  SetCommitted(manual_clock_ ? 0
                             : static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                   write_ahead_frames * format.block_align, BufferSize() / 4)));
  if (!manual_clock_) {
    std::lock_guard lock(clock_mutex_);
    clock_stop_ = false;
    origin_ = std::chrono::steady_clock::now();
    frames_taken_ = 0;
    clock_ = std::thread([this] { ClockLoop(); });
  }
  return kSoundOk;
}

void NullDevice::CloseStream() {
  if (clock_.joinable()) {
    {
      std::lock_guard lock(clock_mutex_);
      clock_stop_ = true;
    }
    clock_wake_.notify_all();
    clock_.join();
  }
  std::lock_guard lock(region_mutex_);
  scratch_.reset();
  scratch_bytes_ = 0;
}

void NullDevice::Consumed(const std::uint8_t*, std::uint32_t) {}

void NullDevice::Consume(std::uint32_t bytes) {
  std::lock_guard lock(region_mutex_);
  // No scratch: the stream is closed and the buffer may be rebuilt under our feet; touch nothing.
  if (!scratch_)
    return;
  const std::uint32_t align = Format().block_align ? Format().block_align : 1;
  while (bytes >= align) {
    const std::uint32_t chunk = std::min(bytes, scratch_bytes_) / align * align;
    const std::uint32_t taken = Render(scratch_.get(), chunk);
    if (taken == 0)
      return;
    bytes_played_.fetch_add(taken);
    Consumed(scratch_.get(), taken);
    bytes -= chunk;
  }
}

SoundResult NullDevice::Play(bool from_start) {
  SoundResult result;
  {
    // The clock counts from the moment the buffer plays, however late its thread runs.
    std::lock_guard lock(clock_mutex_);
    result = LoopingDevice::Play(from_start);
    origin_ = std::chrono::steady_clock::now();
    frames_taken_ = 0;
  }
  clock_wake_.notify_all();  // it sleeps while the buffer does not play
  return result;
}

SoundResult NullDevice::Stop() {
  // A sound card has played everything due by the time it is stopped, however late the clock
  // thread would wake on a loaded machine.
  CatchUp();
  return LoopingDevice::Stop();
}

SoundResult NullDevice::GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) {
  CatchUp();
  return LoopingDevice::GetCurrentPosition(play, write);
}

SoundResult NullDevice::Lock(std::uint32_t offset, std::uint32_t count, SoundRegion* first,
                             SoundRegion* second) {
  // A write lands where the cursor stands now, not where the clock last left it.
  CatchUp();
  return LoopingDevice::Lock(offset, count, first, second);
}

HalfWait NullDevice::WaitHalf(int which, std::chrono::milliseconds timeout) {
  if (manual_clock_)
    return LoopingDevice::WaitHalf(which, timeout);
  // The waiter keeps the clock itself: it sleeps until its crossing is due and takes what the
  // clock owes then, so a crossing costs one wake-up (the waiter's) instead of two.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    CatchUp();
    const auto now = std::chrono::steady_clock::now();
    if (CrossingSet(which) || now >= deadline)
      return LoopingDevice::WaitHalf(which, std::chrono::milliseconds(0));
    std::chrono::steady_clock::time_point wake;
    {
      std::lock_guard lock(clock_mutex_);
      wake = std::min(deadline, NextTake(now));
    }
    const HalfWait result =
        LoopingDevice::WaitHalf(which, std::chrono::ceil<std::chrono::milliseconds>(wake - now));
    if (result != HalfWait::kTimedOut)
      return result;
  }
}

void NullDevice::CatchUp() {
  if (manual_clock_)
    return;
  std::unique_lock lock(clock_mutex_);
  const std::uint32_t due = TakeDue(std::chrono::steady_clock::now());
  lock.unlock();
  Consume(due);
}

std::chrono::steady_clock::time_point NullDevice::NextCrossingDue(
    std::chrono::steady_clock::time_point now) const {
  const std::uint32_t size = BufferSize();
  const std::uint32_t half = size / 2;
  const std::uint32_t align = Format().block_align;
  if (half == 0 || align == 0 || Format().samples_per_sec == 0)
    return now + kMinWaitSlice;
  // Frames from the cursor to the next crossing, counted on from what the clock has taken.
  const std::uint32_t to_crossing = half - PlayCursor() % half;
  const std::uint64_t frames = frames_taken_ + (to_crossing + align - 1) / align;
  const auto due = origin_ +
                   std::chrono::microseconds(frames * 1000000 / Format().samples_per_sec) +
                   kCrossingMargin;
  return std::max(due, now + kMinWaitSlice);
}

std::chrono::steady_clock::time_point NullDevice::NextTake(
    std::chrono::steady_clock::time_point now) const {
  if (stopped_forever_ || stopped_until_reopened_ || !Playing())
    return std::chrono::steady_clock::time_point::max();
  if (now < stalled_until_)
    return stalled_until_ + kCrossingMargin;
  return NextCrossingDue(now);
}

std::uint32_t NullDevice::TakeDue(std::chrono::steady_clock::time_point now) {
  if (stopped_forever_ || stopped_until_reopened_ || now < stalled_until_ || !Playing()) {
    // Time that passes without playing is not made up afterwards.
    origin_ = now;
    frames_taken_ = 0;
    return 0;
  }
  if (origin_ < stalled_until_) {
    // The count last restarted during a stall: the device plays again from the stall's end.
    origin_ = stalled_until_;
    frames_taken_ = 0;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - origin_).count();
  const std::uint64_t due =
      static_cast<std::uint64_t>(elapsed) * Format().samples_per_sec / 1000000;
  if (due <= frames_taken_)
    return 0;
  const std::uint64_t frames = due - frames_taken_;
  frames_taken_ = due;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(
      frames * Format().block_align, kMaxCatchUpSeconds * Format().avg_bytes_per_sec));
}

void NullDevice::ClockLoop() {
  NameThisThread("djk-nullclock");
  std::unique_lock lock(clock_mutex_);
  while (!clock_stop_) {
    // The crossings are the waiter's business (`WaitHalf` keeps the clock while it waits), and
    // whoever looks at the cursor or writes to the buffer catches it up first (`CatchUp`). The
    // thread only keeps the audio flowing to the consumer while nobody looks.
    clock_wake_.wait_for(lock, Waiters() > 0 ? kKeptClockPeriod : kClockPeriod);
    if (clock_stop_)
      break;
    const auto now = std::chrono::steady_clock::now();
    if (stopped_forever_ || stopped_until_reopened_ || now < stalled_until_ || !Playing()) {
      // Nothing plays: sleep until something could (a play, a new open, the stall's end, the
      // close) instead of ticking. The time asleep is not made up afterwards: the count starts
      // again at the wake, unless a play restarted it meanwhile (from its own moment).
      TakeDue(now);
      if (now < stalled_until_)
        clock_wake_.wait_until(lock, stalled_until_, [this] { return clock_stop_; });
      else
        clock_wake_.wait(lock, [this] {
          return clock_stop_ || (Playing() && !stopped_forever_ && !stopped_until_reopened_);
        });
      if (origin_ <= now) {
        origin_ = std::chrono::steady_clock::now();
        frames_taken_ = 0;
      }
      continue;
    }
    const std::uint32_t due = TakeDue(now);
    if (due == 0)
      continue;
    lock.unlock();
    Consume(due);
    lock.lock();
  }
}

}  // namespace djkivo
